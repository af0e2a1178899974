// Threads with a Finished event, and the process priority class that the
// serial library raises while a port is open.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/errors.h"
#include "platform/event.h"

namespace vorin::platform {
namespace {

TEST(Thread, FinishedIsSignalledOnlyWhenTheBodyHasReturned) {
    auto release = Event::Create(false);
    ASSERT_NE(release, nullptr);
    std::atomic<bool> ran{false};
    std::atomic<uint64_t> bodyThread{0};
    auto thread = Thread::Start(
        [&] {
            bodyThread = CurrentThreadId();
            Event* list[] = {release.get()};
            WaitAny(list, 1, 10000);
            ran = true;
        },
        ThreadPriority::TimeCritical);
    ASSERT_NE(thread, nullptr);

    Event* finished[] = {&thread->Finished()};
    EXPECT_EQ(WaitAny(finished, 1, 50), kWaitTimeout);
    EXPECT_FALSE(ran);

    release->Set();
    EXPECT_EQ(WaitAny(finished, 1, 10000), 0);
    EXPECT_TRUE(ran);
    thread->Join();
    thread->Join();  // a second join returns at once
    EXPECT_NE(bodyThread.load(), 0u);
    EXPECT_NE(bodyThread.load(), CurrentThreadId());
    EXPECT_TRUE(thread->Finished().IsSet());
}

TEST(Thread, DestroyingJoins) {
    std::atomic<bool> ran{false};
    {
        auto thread = Thread::Start([&] { ran = true; }, ThreadPriority::Normal);
        ASSERT_NE(thread, nullptr);
    }
    EXPECT_TRUE(ran);
}

TEST(ProcessPriority, ClassRoundTrip) {
    PriorityClass original = PriorityClass::Other;
    ASSERT_TRUE(GetProcessPriorityClass(original)) << "error " << LastError();
    if (!SetProcessPriorityClass(PriorityClass::High)) {
        GTEST_SKIP() << "raising the process priority is not allowed here (error " << LastError()
                     << ")";
    }
    PriorityClass now = PriorityClass::Other;
    ASSERT_TRUE(GetProcessPriorityClass(now));
    EXPECT_EQ(now, PriorityClass::High);

    const PriorityClass back = original == PriorityClass::Other ? PriorityClass::Normal : original;
    EXPECT_TRUE(SetProcessPriorityClass(back)) << "error " << LastError();
    ASSERT_TRUE(GetProcessPriorityClass(now));
    EXPECT_EQ(now, back);

    EXPECT_FALSE(SetProcessPriorityClass(PriorityClass::Other));  // not a class one can ask for
    EXPECT_NE(LastError(), 0);
}

}  // namespace
}  // namespace vorin::platform

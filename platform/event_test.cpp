// Manual-reset events and WaitAny, the primitive every wait of the serial
// library is built on.
#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/thread.h"

namespace vorin::platform {
namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<Event> MakeEvent(bool signalled) {
    auto e = Event::Create(signalled);
    EXPECT_NE(e, nullptr);
    return e;
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    auto off = MakeEvent(false);
    auto on = MakeEvent(true);
    ASSERT_TRUE(off && on);
    EXPECT_FALSE(off->IsSet());
    EXPECT_TRUE(on->IsSet());

    EXPECT_TRUE(off->Set());
    EXPECT_TRUE(off->Set());  // setting twice is harmless
    Event* list[] = {off.get()};
    EXPECT_EQ(WaitAny(list, 1, 0), 0);
    EXPECT_EQ(WaitAny(list, 1, 0), 0);  // a wait does not consume the signal
    EXPECT_TRUE(off->IsSet());

    EXPECT_TRUE(off->Reset());
    EXPECT_FALSE(off->IsSet());
    EXPECT_EQ(WaitAny(list, 1, 0), kWaitTimeout);
    EXPECT_TRUE(off->Reset());  // resetting a reset event is harmless
}

TEST(Event, WaitAnyReportsLowestSignalledIndex) {
    auto a = MakeEvent(false);
    auto b = MakeEvent(false);
    auto c = MakeEvent(false);
    ASSERT_TRUE(a && b && c);
    Event* list[] = {a.get(), b.get(), c.get()};

    c->Set();
    EXPECT_EQ(WaitAny(list, 3, 1000), 2);
    b->Set();
    EXPECT_EQ(WaitAny(list, 3, 1000), 1);
    a->Set();
    EXPECT_EQ(WaitAny(list, 3, kInfinite), 0);
    a->Reset();
    b->Reset();
    EXPECT_EQ(WaitAny(list, 3, 0), 2);
    // Only the events in the list count.
    EXPECT_EQ(WaitAny(list, 2, 0), kWaitTimeout);
}

TEST(Event, WaitAnyTimesOutWhenNothingIsSignalled) {
    auto a = MakeEvent(false);
    auto b = MakeEvent(false);
    ASSERT_TRUE(a && b);
    Event* list[] = {a.get(), b.get()};
    EXPECT_EQ(WaitAny(list, 2, 0), kWaitTimeout);

    const auto start = Clock::now();
    EXPECT_EQ(WaitAny(list, 2, 100), kWaitTimeout);
    // It really waited (allowing for a coarse system timer), and not forever.
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(80));
    EXPECT_LT(waited, std::chrono::seconds(10));
}

TEST(Event, WaitAnyFailsOnNullOrNoEvents) {
    auto a = MakeEvent(true);
    ASSERT_TRUE(a);
    Event* withNull[] = {a.get(), nullptr};
    EXPECT_EQ(WaitAny(withNull, 2, 0), kWaitFailed);
    EXPECT_EQ(WaitAny(withNull, 2, kInfinite), kWaitFailed);  // fails at once, never waits
    EXPECT_EQ(WaitAny(withNull, 0, 0), kWaitFailed);
}

TEST(Event, SetFromAnotherThreadWakesTheWait) {
    auto go = MakeEvent(false);
    auto done = MakeEvent(false);
    ASSERT_TRUE(go && done);
    auto thread = Thread::Start(
        [&] {
            Event* list[] = {go.get()};
            if (WaitAny(list, 1, 10000) == 0) done->Set();
        },
        ThreadPriority::Normal);
    ASSERT_NE(thread, nullptr);
    go->Set();
    Event* list[] = {done.get(), &thread->Finished()};
    EXPECT_EQ(WaitAny(list, 1, 10000), 0);
    thread->Join();
}

// The caller/worker meeting of the byte mailbox, many times over: a request
// event and a ready event, each side waiting on its own together with a stop
// event that is never set. A wake lost between a waiter's last look and its
// sleep shows as a wait that runs into its bound. With no spin every meeting
// goes through the sleep; with the spin most end before it.
TEST(Event, PingPongLosesNoWake) {
    const uint32_t spin = SpinMicros();
    for (uint32_t micros : {0u, spin}) {
        SetSpinMicros(micros);
        auto request = Event::Create(false, EventUse::Threads);
        auto ready = Event::Create(true, EventUse::Threads);
        auto stop = Event::Create(false);
        ASSERT_TRUE(request && ready && stop);
        constexpr int kRounds = 20000;
        std::atomic<int> served{0};
        auto worker = Thread::Start(
            [&] {
                Event* waits[] = {stop.get(), request.get()};
                while (WaitAny(waits, 2, 10000) == 1) {
                    request->Reset();
                    served.fetch_add(1);
                    ready->Set();
                }
            },
            ThreadPriority::Normal);
        ASSERT_NE(worker, nullptr);
        Event* waits[] = {stop.get(), ready.get()};
        int round = 0;
        for (; round < kRounds; ++round) {
            if (WaitAny(waits, 2, 10000) != 1) break;
            ready->Reset();
            request->Set();
        }
        EXPECT_EQ(round, kRounds) << "spin " << micros << " us: a wake was lost";
        EXPECT_EQ(WaitAny(waits, 2, 10000), 1);
        stop->Set();
        worker->Join();
        EXPECT_EQ(served.load(), kRounds);
    }
    SetSpinMicros(spin);
}

}  // namespace
}  // namespace vorin::platform

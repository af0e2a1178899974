// A POSIX write is done only once its byte has left the output queue.
//
// Wiring: a pseudo-terminal pair (platform/test_line.h). A pseudo-terminal has
// no output queue (TIOCOUTQ always reads 0) and no CTS, so this program
// answers TIOCOUTQ itself: it defines ioctl(), which the device code in this
// executable calls, and passes every other request on to the system. The
// queue it reports is whatever the test sets; it cannot show the kernel
// really dropping queued bytes (a pseudo-terminal hands them on at once).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cstdarg>
#include <thread>

#include "platform/event.h"
#include "platform/serial_device.h"
#include "platform/test_line.h"

namespace {

// -1: the system answers. Otherwise the queue length reported, for as many
// more questions as gFullAnswers says (then 0: the queue went out).
std::atomic<int> gQueued{-1};
std::atomic<int> gFullAnswers{0};
std::atomic<int> gQuestions{0};

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (request == TIOCOUTQ && gQueued.load() >= 0) {
        gQuestions.fetch_add(1);
        *static_cast<int*>(arg) = gFullAnswers.fetch_sub(1) > 0 ? gQueued.load() : 0;
        return 0;
    }
    using Ioctl = int (*)(int, unsigned long, void*);
    static const auto kSystem = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    return kSystem(fd, request, arg);
}

namespace vorin::platform {
namespace {

class OutputQueue : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        line_ = TestLine::Create(why);
        if (!line_) GTEST_SKIP() << why;
        int32_t error = 0;
        device_ = SerialDevice::Open(line_->Port(), error);
        ASSERT_NE(device_, nullptr) << error;
        LineSettings s;
        ASSERT_EQ(device_->GetLineSettings(s), 0);
        s.baudRate = 38400;
        ASSERT_EQ(device_->SetLineSettings(s), 0);
        CommTimeouts t;
        t.writeTotalConstant = 300;
        ASSERT_EQ(device_->SetTimeouts(t), 0);
        cancel_ = Event::Create(false);
    }
    void TearDown() override { gQueued.store(-1); }

    TransferResult WriteOne() {
        const uint8_t b = 0x41;
        return device_->Write(&b, 1, cancel_.get(), nullptr);
    }

    std::unique_ptr<TestLine> line_;
    std::unique_ptr<SerialDevice> device_;
    std::unique_ptr<Event> cancel_;
};

TEST_F(OutputQueue, WriteEndsWhenTheByteLeftTheQueueOrTheTimeoutDropsIt) {
    // The byte leaves after a few looks: written, after waiting for it.
    gFullAnswers.store(3);
    gQueued.store(1);
    TransferResult r = WriteOne();
    EXPECT_EQ(r.outcome, TransferOutcome::Completed);
    EXPECT_EQ(r.bytes, 1u);
    EXPECT_GE(gQuestions.load(), 4);

    // CTS held low: the byte never leaves. The write timeout ends it as a
    // timeout (nothing sent), as a write on Windows ends.
    gFullAnswers.store(1 << 30);
    r = WriteOne();
    EXPECT_EQ(r.outcome, TransferOutcome::Completed);
    EXPECT_EQ(r.bytes, 0u);

    // The cancel event ends the wait too, with nothing counted.
    cancel_->Set();
    r = WriteOne();
    EXPECT_EQ(r.outcome, TransferOutcome::Cancelled);
    EXPECT_EQ(r.bytes, 0u);
}

}  // namespace
}  // namespace vorin::platform

// A POSIX write is done only once its byte has left the output queue, and
// with CTS flow control on it waits for CTS before the byte goes out.
//
// Wiring: a pseudo-terminal pair (platform/test_line.h). A pseudo-terminal has
// no output queue (TIOCOUTQ always reads 0) and no modem lines, so the ioctl
// shim (platform/shim/ioctl_shim.cpp, linked into this program) answers
// TIOCOUTQ and the modem lines as the adapters would. It cannot show the
// kernel really holding or dropping queued bytes (a pseudo-terminal hands
// them on at once), nor real wire timing.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "platform/event.h"
#include "platform/serial_device.h"
#include "platform/test_line.h"

extern "C" {
void vorin_ioctl_shim_set(const char* settings);
long vorin_ioctl_shim_outq_questions(void);
long vorin_ioctl_shim_line_questions(void);
int vorin_ioctl_shim_lines(void);
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
        ASSERT_EQ(device_->GetLineSettings(settings_), 0);
        settings_.baudRate = 38400;
        ASSERT_EQ(device_->SetLineSettings(settings_), 0);
        CommTimeouts t;
        t.writeTotalConstant = 300;
        ASSERT_EQ(device_->SetTimeouts(t), 0);
        cancel_ = Event::Create(false);
    }
    void TearDown() override { vorin_ioctl_shim_set(nullptr); }

    TransferResult WriteOne() {
        const uint8_t b = 0x41;
        return device_->Write(&b, 1, cancel_.get(), nullptr);
    }

    std::unique_ptr<TestLine> line_;
    std::unique_ptr<SerialDevice> device_;
    std::unique_ptr<Event> cancel_;
    LineSettings settings_;
};

TEST_F(OutputQueue, WriteEndsWhenTheByteLeftTheQueueOrTheTimeoutDropsIt) {
    struct Row {
        const char* queue;  // what TIOCOUTQ answers (shim settings)
        TransferOutcome outcome;
        uint32_t bytes;
    };
    const Row rows[] = {
        // The byte leaves after a few looks: written, after waiting for it.
        {"outq=1,answers=3", TransferOutcome::Completed, 1},
        // cdc-acm reports its whole URB space while one transfer is out.
        // Two pauses scaled by that size (333 ms each here) outlast the
        // 300 ms write timeout; one character time each does not.
        {"outq=1280,answers=2", TransferOutcome::Completed, 1},
        // Held (CTS low in the kernel or the adapter): the write timeout
        // ends it as a timeout, nothing sent, as a write on Windows ends.
        {"outq=1,hold_us=-1", TransferOutcome::Completed, 0},
        // The queue cannot be read (the adapter was pulled out): not sent.
        {"outq=1,fail=1", TransferOutcome::CompletionFailed, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.queue);
        vorin_ioctl_shim_set(row.queue);
        TransferResult r = WriteOne();
        EXPECT_EQ(r.outcome, row.outcome);
        EXPECT_EQ(r.bytes, row.bytes);
        EXPECT_GE(vorin_ioctl_shim_outq_questions(), 1);
        // A held byte costs a few looks, not one per character time (1150
        // in the 300 ms at 38400 baud).
        EXPECT_LT(vorin_ioctl_shim_outq_questions(), 100);
    }

    // The cancel event ends the wait too, with nothing counted.
    vorin_ioctl_shim_set("outq=1,hold_us=-1");
    cancel_->Set();
    TransferResult r = WriteOne();
    EXPECT_EQ(r.outcome, TransferOutcome::Cancelled);
    EXPECT_EQ(r.bytes, 0u);
}

// CTS flow control without the kernel's CRTSCTS, which would drive RTS (the
// line a multiplexer's channel is chosen with): RTS stays where the library's
// caller puts it, and a byte waits for CTS.
TEST_F(OutputQueue, CtsHoldsTheByteAndRtsStaysTheCallers) {
    vorin_ioctl_shim_set("cts=0");
    settings_.outxCtsFlow = true;
    ASSERT_EQ(device_->SetLineSettings(settings_), 0);
    EXPECT_EQ(vorin_ioctl_shim_lines() & (TIOCM_RTS | TIOCM_DTR), 0);  // both low at open
    ASSERT_EQ(device_->Escape(LineControl::SetRts), 0);

    TransferResult r = WriteOne();
    EXPECT_EQ(r.outcome, TransferOutcome::Completed);
    EXPECT_EQ(r.bytes, 0u);
    EXPECT_TRUE(line_->Receive(1, 100).empty());
    EXPECT_LT(vorin_ioctl_shim_line_questions(), 100);

    vorin_ioctl_shim_set("cts=1");
    ASSERT_EQ(device_->Escape(LineControl::ClearRts), 0);
    r = WriteOne();
    EXPECT_EQ(r.bytes, 1u);
    EXPECT_EQ(line_->Receive(1, 2000), std::vector<uint8_t>{0x41});
    EXPECT_EQ(vorin_ioctl_shim_lines() & TIOCM_RTS, 0);  // as the caller left it
}

}  // namespace
}  // namespace vorin::platform

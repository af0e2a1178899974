// The port object's internals that no flat function exposes: the line-error
// texts, the comm timeouts it derives, the parity it starts with, the
// hand-over to the opening thread. Lines as in flat_api_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/serial_device.h"
#include "platform/test_line.h"
#include "serial/handover.h"
#include "serial/last_error.h"
#include "serial/library.h"
#include "serial/tcomm.h"
#include "serial/texts.h"
#include "serial/workers.h"

#include <vorin/serial.h>

namespace vorin::serial {
namespace {

TEST(Texts, AreWindows1250) {
    // ł ó ź ż ę ą ć ś ń, and their capitals, as the single bytes of cp1250.
    constexpr auto t = ToCp1250("łóźżęąćśń ŁÓŹŻĘĄĆŚŃ");
    EXPECT_STREQ(t.c_str(),
                 "\xB3\xF3\x9F\xBF\xEA\xB9\xE6\x9C\xF1 \xA3\xD3\x8F\xAF\xCA\xA5\xC6\x8C\xD1");
    EXPECT_STREQ(text::kTimeoutsRead.c_str(),
                 " B\xB3\xB9"
                 "d odczytu aktualnych czas\xF3w.");
    // The longest text fits the 52 bytes a caller's buffer must hold.
    EXPECT_LE(text::kInvalidHandle.size, 51u);
    EXPECT_LE(text::kCeRxParity.size, 51u);
}

TEST(PortObject, ParityComesFromTheSelector) {
    EXPECT_EQ(ParityFromSelector(0), 0);
    EXPECT_EQ(ParityFromSelector(1), 1);
    EXPECT_EQ(ParityFromSelector(2), 2);
    EXPECT_EQ(ParityFromSelector(7), 2);
    TheLibrary().paritySelector = 1;
    EXPECT_EQ(TComm().parity, 1);
    TheLibrary().paritySelector = 2;
    EXPECT_EQ(TComm().parity, 2);
}

TEST(PortObject, AllNineEventKindsMakeTheFullMask) {
    EXPECT_EQ(CommMaskOf(0x1FF), 0x1FFu);
    EXPECT_EQ(CommMaskOf(1u << 3), platform::kEvErr);
}

TEST(LineEvent, LastSetErrorInTableOrderWins) {
    TComm port;
    ClearError();
    port.lineErrors = platform::kCeFrame | platform::kCeRxParity;
    port.LineEvent(platform::kEvRxChar);
    EXPECT_EQ(PeekError().code, 0);
    port.LineEvent(platform::kEvErr);
    StoredError e = TakeError();
    EXPECT_EQ(e.text, text::kCeRxParity.c_str());
    EXPECT_EQ(e.code, 4);

    port.lineErrors = platform::kCeBreak | platform::kCeTxFull;
    port.LineEvent(platform::kEvErr);
    e = TakeError();
    EXPECT_EQ(e.text, text::kCeTxFull.c_str());
    EXPECT_EQ(e.code, 256);
}

TEST(PortObject, TimeoutsFollowTheSeconds) {
    std::string why;
    auto line = platform::TestLine::Create(why);
    if (!line) GTEST_SKIP() << why;
    {
        TComm port;
        port.Configure(line->Port(), 38400, 3, 0);
        EXPECT_EQ(port.deviceName(), "\\\\.\\COM" + std::to_string(line->Port()));
        ASSERT_EQ(port.Open(), 0) << PeekError().text;
        EXPECT_EQ(port.timeouts().readInterval, platform::kMaxDword);
        EXPECT_EQ(port.timeouts().readTotalConstant, 0u);
        EXPECT_EQ(port.timeouts().writeTotalConstant, 3000u);
        EXPECT_EQ(port.timeouts().readTotalMultiplier, 0u);
        EXPECT_TRUE(port.deviceState().abortOnError);
        EXPECT_EQ(port.deviceState().dtrControl, 0);
        EXPECT_EQ(port.Close(), 0);
        EXPECT_FALSE(port.IsOpen());
    }
    {
        TComm port;
        port.Configure(line->Port(), 38400, 0, 3);
        ASSERT_EQ(port.Open(), 0);
        EXPECT_EQ(port.timeouts().readInterval, 3000u);
        EXPECT_EQ(port.timeouts().readTotalConstant, 3000u);
        EXPECT_EQ(port.timeouts().writeTotalConstant, 0u);
        // Opening an open object reopens it.
        EXPECT_EQ(port.Open(), 0);
        EXPECT_TRUE(port.IsOpen());
    }  // destruction closes
}

TEST(HandOver, RunsOnTheServingThreadAndWithdrawsOnStop) {
    HandOver& h = TheHandOver();
    auto stop = platform::Event::Create(false);
    std::atomic<std::thread::id> ranOn{};
    std::atomic<bool> posted{false};
    std::thread worker(
        [&] { posted = h.Post([&] { ranOn = std::this_thread::get_id(); }, *stop); });
    platform::Event* pending[] = {h.Pending()};
    ASSERT_EQ(platform::WaitAny(pending, 1, 5000), 0);
    EXPECT_TRUE(h.Serve());
    worker.join();
    EXPECT_TRUE(posted.load());
    EXPECT_EQ(ranOn.load(), std::this_thread::get_id());
    EXPECT_FALSE(h.Serve());  // nothing left

    // Nobody serves: the stop event releases the worker, the call never runs.
    bool ran = false;
    std::thread blocked([&] { posted = h.Post([&] { ran = true; }, *stop); });
    ASSERT_EQ(platform::WaitAny(pending, 1, 5000), 0);
    stop->Set();
    blocked.join();
    EXPECT_FALSE(posted.load());
    EXPECT_FALSE(h.Serve());
    EXPECT_FALSE(ran);
}

// A device that behaves as Windows does after a line error with abort on
// error on: every communications request fails with 995 until the error is
// acknowledged (ClearErrors). Wine cannot show this (there every comm-event
// wait fails with 995, line error or not), hence a device of the test's own,
// put behind the platform seam through TComm::OpenDevice. Its limits: it
// moves no real bytes (a write is counted, a read finds nothing or, with
// blocking reads, waits for a cancel or an abort), and it knows nothing of
// timeouts or modem lines.
class LineErrorDevice final : public platform::SerialDevice {
public:
    // `abortedWaits`: how many comm-event waits fail with 995 before one
    // delivers EV_RXCHAR (-1: all of them); `spurious`: they fail with no
    // line error pending (as under Wine).
    LineErrorDevice(bool abortedAtOpen, int abortedWaits, bool spurious = false)
        : aborted_(abortedAtOpen), abortedWaits_(abortedWaits), spurious_(spurious) {}

    std::atomic<bool> aborted_;
    std::atomic<int> abortedWaits_;
    std::atomic<int> waits_{0};
    std::atomic<int> clears_{0};
    std::atomic<int> written_{0};
    std::atomic<bool> delivered_{false};
    // Blocking reads: a read waits for the cancel event or an abort that
    // comes after it started, at most 3 s (then it sets *stuck_, which
    // outlives the device: the port's close destroys it).
    bool blockingReads_ = false;
    std::atomic<int> readsStarted_{0};
    std::atomic<bool>* stuck_ = nullptr;
    std::function<void()> onCloseAbort_;      // runs after an abort that clears nothing
    std::chrono::microseconds writeTime_{0};  // how long a byte takes on the wire

    bool IsCharacterDevice() override { return true; }
    int32_t GetLineSettings(platform::LineSettings&) override { return Request(); }
    int32_t SetLineSettings(const platform::LineSettings&) override { return Request(); }
    int32_t SetBufferSizes(uint32_t, uint32_t) override { return Request(); }
    int32_t GetTimeouts(platform::CommTimeouts&) override { return 0; }
    int32_t SetTimeouts(const platform::CommTimeouts&) override { return Request(); }
    int32_t Purge(uint32_t flags) override {
        if (int32_t e = Request()) return e;
        if (flags & (platform::kPurgeTxAbort | platform::kPurgeRxAbort)) abort_->Set();
        const uint32_t clears = platform::kPurgeTxClear | platform::kPurgeRxClear;
        if ((flags & clears) == 0 && onCloseAbort_) std::exchange(onCloseAbort_, nullptr)();
        return 0;
    }
    int32_t SetCommMask(uint32_t) override { return 0; }
    int32_t Escape(platform::LineControl) override { return platform::kErrNotSupported; }
    int32_t GetModemStatus(uint32_t&) override { return platform::kErrNotSupported; }
    int32_t ClearErrors(uint32_t& ce) override {
        ce = aborted_.exchange(false) ? uint32_t{platform::kCeFrame} : 0u;
        clears_.fetch_add(1);
        return 0;
    }
    bool TransmitEmpty() override { return true; }
    platform::TransferResult Write(const uint8_t*, uint32_t count, platform::Event*,
                                   std::atomic<uint8_t>*) override {
        if (Request() != 0) return {platform::TransferOutcome::Failed, 0, kAborted};
        std::this_thread::sleep_for(writeTime_);
        written_.fetch_add(1);
        return {platform::TransferOutcome::CompletedAtOnce, count, 0};
    }
    platform::TransferResult Read(uint8_t*, uint32_t, platform::Event* cancel,
                                  std::atomic<uint8_t>*) override {
        if (Request() != 0) return {platform::TransferOutcome::Failed, 0, kAborted};
        if (!blockingReads_) return {platform::TransferOutcome::CompletedAtOnce, 0, 0};
        abort_->Reset();  // an abort before this read began is not for it
        readsStarted_.fetch_add(1);
        platform::Event* waits[] = {cancel, abort_.get()};
        switch (platform::WaitAny(waits, 2, 3000)) {
        case 0: return {platform::TransferOutcome::Cancelled, 0, kAborted};
        case 1: return {platform::TransferOutcome::CompletionFailed, 0, kAborted};
        default: *stuck_ = true; return {platform::TransferOutcome::Completed, 0, 0};
        }
    }
    platform::CommEventResult WaitCommEvent(platform::Event& stop) override {
        waits_.fetch_add(1);
        if (abortedWaits_.load() != 0) {
            if (abortedWaits_.load() > 0) abortedWaits_.fetch_sub(1);
            if (!spurious_) aborted_.store(true);
            return {platform::CommEventOutcome::Failed, 0, kAborted};
        }
        if (!delivered_.exchange(true)) return {platform::CommEventOutcome::Fired, kEvRxChar, 0};
        platform::Event* waits[] = {&stop};
        platform::WaitAny(waits, 1, 10000);
        return {platform::CommEventOutcome::Stopped, 0, 0};
    }

private:
    static constexpr int32_t kAborted = platform::kErrOperationAborted;
    static constexpr uint32_t kEvRxChar = platform::kEvRxChar;
    int32_t Request() { return aborted_.load() ? kAborted : 0; }
    const bool spurious_;
    std::unique_ptr<platform::Event> abort_ = platform::Event::Create(false);
};

class PortOnDevice : public TComm {
public:
    explicit PortOnDevice(std::unique_ptr<platform::SerialDevice> device)
        : device_(std::move(device)) {}
    int32_t OpenDevice() override {
        UseDevice(std::move(device_));
        return 0;
    }

private:
    std::unique_ptr<platform::SerialDevice> device_;
};

// Waits, bounded, until `done` holds.
template <class Done>
bool Eventually(Done done) {
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

TEST(LineError, AbortedRequestsAreAcknowledgedAndThePortGoesOn) {
    // A line error pending from the port's previous user at open; one that
    // aborts the first comm-event wait; a burst of five: each is
    // acknowledged and the events worker goes on.
    struct Row {
        const char* what;
        bool atOpen;
        int abortedWaits;
    };
    for (const Row& row :
         {Row{"line error during the open", true, 0}, Row{"line error aborts a wait", false, 1},
          Row{"five line errors in a row", false, 5}}) {
        SCOPED_TRACE(row.what);
        auto owned = std::make_unique<LineErrorDevice>(row.atOpen, row.abortedWaits);
        LineErrorDevice& device = *owned;
        PortOnDevice port(std::move(owned));
        port.Configure(1, 38400, 1, 1);
        ASSERT_EQ(port.Open(), 0) << PeekError().text;
        ASSERT_TRUE(Eventually([&] { return device.delivered_.load(); }));
        EXPECT_EQ(device.waits_.load(), row.abortedWaits + 1);
        EXPECT_GE(device.clears_.load(), 1);
        EXPECT_EQ(WriteByte(0x41), 1) << PeekError().text;
        EXPECT_EQ(device.written_.load(), 1);

        // A line error that the events worker has not seen yet (the hand-over
        // runs only when the opening thread looks): the purge and the byte
        // call that meet it acknowledge it and go through.
        device.aborted_ = true;
        EXPECT_EQ(port.PurgeInput(), 0);
        device.aborted_ = true;
        EXPECT_EQ(WriteByte(0x42), 1) << PeekError().text;
        EXPECT_EQ(device.written_.load(), 2);
        EXPECT_EQ(port.Close(), 0);
    }

    // Every wait fails with nothing pending (as under Wine): the worker
    // neither spins nor leaves, it slows down, and the port still closes.
    auto spinning = std::make_unique<LineErrorDevice>(false, -1, true);
    LineErrorDevice& failing = *spinning;
    PortOnDevice port(std::move(spinning));
    port.Configure(1, 38400, 1, 1);
    ASSERT_EQ(port.Open(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_GT(failing.waits_.load(), TZdarzeniaCommThread::kMaxAbortedWaits);
    EXPECT_LT(failing.waits_.load(), 20);
    EXPECT_EQ(port.Close(), 0);
}

// Two threads' byte calls at once: every byte reported as sent was written.
// The byte calls are meant for one thread; still none may be lost unseen.
TEST(ByteCalls, TwoThreadsLoseNoByteReportedSent) {
    auto owned = std::make_unique<LineErrorDevice>(false, 0);
    LineErrorDevice& device = *owned;
    device.writeTime_ = std::chrono::microseconds(50);
    PortOnDevice port(std::move(owned));
    port.Configure(1, 38400, 1, 1);
    ASSERT_EQ(port.Open(), 0);
    std::atomic<int> sent{0};
    auto writer = [&] {
        for (int i = 0; i < 4000; ++i) sent.fetch_add(WriteByte(static_cast<uint8_t>(i)));
    };
    std::thread other(writer);
    writer();
    other.join();
    EXPECT_EQ(sent.load(), device.written_.load());
    EXPECT_EQ(port.Close(), 0);
}

// A read that the transfer worker picks up while Close is under way (here:
// right after Close's abort) ends with the close; it must not wait for a
// byte that never comes.
TEST(Close, EndsAReadPickedUpDuringTheClose) {
    auto owned = std::make_unique<LineErrorDevice>(false, 0);
    LineErrorDevice& device = *owned;
    std::atomic<bool> stuck{false};
    device.blockingReads_ = true;
    device.stuck_ = &stuck;
    PortOnDevice port(std::move(owned));
    port.Configure(1, 38400, 1, 1);
    ASSERT_EQ(port.Open(), 0);
    std::atomic<bool> returned{false};
    std::thread reader;
    device.onCloseAbort_ = [&] {
        reader = std::thread([&] {
            uint8_t b = 0;
            EXPECT_EQ(ReadByte(&b), 0);
            returned = true;
        });
        Eventually([&] { return returned.load() || device.readsStarted_.load() > 0; });
    };
    EXPECT_EQ(port.Close(), 0);
    ASSERT_TRUE(reader.joinable());
    reader.join();
    EXPECT_FALSE(stuck.load());
}

}  // namespace
}  // namespace vorin::serial

// The port object's internals that no flat function exposes: the line-error
// texts, the comm timeouts it derives, the parity it starts with, the
// hand-over to the opening thread. Lines as in flat_api_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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
    constexpr auto kT = ToCp1250("łóźżęąćśń ŁÓŹŻĘĄĆŚŃ");
    EXPECT_STREQ(kT.c_str(),
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
        EXPECT_EQ(port.DeviceName(), "\\\\.\\COM" + std::to_string(line->Port()));
        ASSERT_EQ(port.Open(), 0) << PeekError().text;
        EXPECT_EQ(port.Timeouts().readInterval, platform::kMaxDword);
        EXPECT_EQ(port.Timeouts().readTotalConstant, 0u);
        EXPECT_EQ(port.Timeouts().writeTotalConstant, 3000u);
        EXPECT_EQ(port.Timeouts().readTotalMultiplier, 0u);
        EXPECT_TRUE(port.DeviceState().abortOnError);
        EXPECT_EQ(port.DeviceState().dtrControl, 0);
        EXPECT_EQ(port.Close(), 0);
        EXPECT_FALSE(port.IsOpen());
    }
    {
        TComm port;
        port.Configure(line->Port(), 38400, 0, 3);
        ASSERT_EQ(port.Open(), 0);
        EXPECT_EQ(port.Timeouts().readInterval, 3000u);
        EXPECT_EQ(port.Timeouts().readTotalConstant, 3000u);
        EXPECT_EQ(port.Timeouts().writeTotalConstant, 0u);
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
// moves no real bytes (a write is taken, a read finds nothing), and only the
// requests the open and the byte calls make are modelled; the device-state
// calls always succeed.
class LineErrorDevice final : public platform::SerialDevice {
public:
    // `abortedWaits`: how many comm-event waits fail with 995 before one
    // delivers EV_RXCHAR (-1: all of them).
    LineErrorDevice(bool abortedAtOpen, int abortedWaits)
        : aborted(abortedAtOpen), abortedWaits(abortedWaits) {}

    std::atomic<bool> aborted;
    std::atomic<int> abortedWaits;
    std::atomic<int> waits{0};
    std::atomic<int> clears{0};
    std::atomic<int> written{0};

    bool IsCharacterDevice() override { return true; }
    int32_t GetLineSettings(platform::LineSettings&) override { return 0; }
    int32_t SetLineSettings(const platform::LineSettings&) override { return 0; }
    int32_t SetBufferSizes(uint32_t, uint32_t) override { return Request(); }
    int32_t GetTimeouts(platform::CommTimeouts&) override { return 0; }
    int32_t SetTimeouts(const platform::CommTimeouts&) override { return Request(); }
    int32_t Purge(uint32_t) override { return 0; }
    int32_t SetCommMask(uint32_t) override { return 0; }
    int32_t Escape(platform::LineControl) override { return platform::kErrNotSupported; }
    int32_t GetModemStatus(uint32_t&) override { return platform::kErrNotSupported; }
    int32_t ClearErrors(uint32_t& ce) override {
        ce = aborted.exchange(false) ? uint32_t{platform::kCeFrame} : 0u;
        clears.fetch_add(1);
        return 0;
    }
    bool TransmitEmpty() override { return true; }
    platform::TransferResult Write(const uint8_t*, uint32_t count, platform::Event*,
                                   std::atomic<uint8_t>*) override {
        if (Request() != 0) return {platform::TransferOutcome::Failed, 0, kAborted};
        written.fetch_add(1);
        return {platform::TransferOutcome::CompletedAtOnce, count, 0};
    }
    platform::TransferResult Read(uint8_t*, uint32_t, platform::Event*,
                                  std::atomic<uint8_t>*) override {
        if (Request() != 0) return {platform::TransferOutcome::Failed, 0, kAborted};
        return {platform::TransferOutcome::CompletedAtOnce, 0, 0};
    }
    platform::CommEventResult WaitCommEvent(platform::Event& stop) override {
        waits.fetch_add(1);
        if (abortedWaits.load() != 0) {
            if (abortedWaits.load() > 0) abortedWaits.fetch_sub(1);
            aborted.store(true);
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
    int32_t Request() { return aborted.load() ? kAborted : 0; }
    std::atomic<bool> delivered_{false};
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
    // A line error during the open, then one that aborts the first comm-event
    // wait: each is acknowledged, and the byte calls work afterwards.
    for (bool atOpen : {true, false}) {
        SCOPED_TRACE(atOpen ? "line error during the open" : "line error aborts a wait");
        auto owned = std::make_unique<LineErrorDevice>(atOpen, atOpen ? 0 : 1);
        LineErrorDevice& device = *owned;
        PortOnDevice port(std::move(owned));
        port.Configure(1, 38400, 1, 1);
        ASSERT_EQ(port.Open(), 0) << PeekError().text;
        ASSERT_TRUE(Eventually([&] { return device.waits.load() >= (atOpen ? 1 : 2); }));
        EXPECT_GE(device.clears.load(), 1);
        EXPECT_EQ(WriteByte(0x41), 1) << PeekError().text;
        EXPECT_EQ(device.written.load(), 1);
        EXPECT_EQ(port.Close(), 0);
    }

    // Every wait fails (as under Wine): the worker gives up after a few
    // instead of spinning, and the port still closes.
    auto spinning = std::make_unique<LineErrorDevice>(false, -1);
    LineErrorDevice& failing = *spinning;
    PortOnDevice port(std::move(spinning));
    port.Configure(1, 38400, 1, 1);
    ASSERT_EQ(port.Open(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(failing.waits.load(), TZdarzeniaCommThread::kMaxAbortedWaits + 1);
    EXPECT_EQ(port.Close(), 0);
}

}  // namespace
}  // namespace vorin::serial

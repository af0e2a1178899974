// The port object's internals that no flat function exposes: the line-error
// texts, the comm timeouts it derives, the parity it starts with, the
// hand-over to the opening thread. Lines as in flat_api_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/event.h"
#include "platform/serial_device.h"
#include "platform/test_line.h"
#include "serial/handover.h"
#include "serial/last_error.h"
#include "serial/library.h"
#include "serial/tcomm.h"
#include "serial/texts.h"
#include "serial/workers.h"

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

}  // namespace
}  // namespace vorin::serial

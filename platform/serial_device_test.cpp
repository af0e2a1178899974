// The serial device over a real line: a pseudo-terminal pair natively, a pair
// of COM ports joined by socat under Wine (scripts/wine-lines). The test plays
// the printer's end through TestLine.
#include "platform/serial_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/system.h"
#include "platform/test_line.h"
#include "platform/thread.h"

namespace vorin::platform {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

// No port has this number natively (test lines use 200 and above) nor under
// Wine (the lines use 5 to 12).
constexpr uint8_t kMissingPort = 199;
constexpr uint32_t kBoundMs = 10000;  // any wait in these tests ends by then

bool Ended(const TransferResult& r) {
    return r.outcome == TransferOutcome::CompletedAtOnce || r.outcome == TransferOutcome::Completed;
}

CommTimeouts ReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    CommTimeouts t;
    t.readInterval = interval;
    t.readTotalMultiplier = multiplier;
    t.readTotalConstant = constant;
    t.writeTotalConstant = 5000;
    return t;
}

// A read running on its own thread, so that the test can end it from outside.
class PendingRead {
public:
    PendingRead(SerialDevice& device, uint32_t count, Event* cancel) : buffer_(count) {
        thread_ = Thread::Start(
            [this, &device, cancel] {
                result_ = device.Read(buffer_.data(), static_cast<uint32_t>(buffer_.size()), cancel,
                                      &waiting_);
            },
            ThreadPriority::Normal);
    }
    ~PendingRead() { Join(); }

    bool Started() const { return thread_ != nullptr; }
    // True once the read waits for completion.
    bool WaitUntilPending() {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kBoundMs);
        while (waiting_.load() == 0 && !thread_->Finished().IsSet()) {
            if (Clock::now() > deadline) return false;
            SleepMs(5);
        }
        return waiting_.load() == 1;
    }
    bool WaitFinished(uint32_t ms) {
        Event* finished[] = {&thread_->Finished()};
        return WaitAny(finished, 1, ms) == 0;
    }
    // Ends a read that did not end as it should, so that a failing test
    // still returns: the peer supplies every byte asked for.
    void Rescue(TestLine& line) {
        if (thread_ && !WaitFinished(0)) {
            ADD_FAILURE() << "the read did not end; ending it by sending data";
            line.Send(Bytes(buffer_.size(), 0x55));
        }
    }
    void Join() {
        if (thread_) thread_->Join();
    }
    const TransferResult& Result() const { return result_; }

private:
    Bytes buffer_;
    std::atomic<uint8_t> waiting_{0};
    TransferResult result_;
    std::unique_ptr<Thread> thread_;
};

class SerialDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        line_ = TestLine::Create(why);
        if (!line_) GTEST_SKIP() << why;
    }

    // The library's end, raw at 38400 8N1, reads bounded by `timeouts`.
    std::unique_ptr<SerialDevice> OpenLibraryEnd(
        const CommTimeouts& timeouts = ReadTimeouts(0, 0, 5000)) {
        int32_t error = -1;
        auto device = SerialDevice::Open(line_->Port(), error);
        EXPECT_NE(device, nullptr)
            << "open " << SerialDevice::DeviceName(line_->Port()) << ": error " << error;
        if (!device) return nullptr;
        EXPECT_EQ(error, 0);
        LineSettings s;
        EXPECT_EQ(device->GetLineSettings(s), 0);
        s.baudRate = 38400;
        s.parity = 0;
        s.stopBits = 0;
        s.byteSize = 8;
        s.outxCtsFlow = s.outxDsrFlow = s.outX = s.inX = false;
        s.dtrControl = s.rtsControl = 0;
        EXPECT_EQ(device->SetLineSettings(s), 0);
        EXPECT_EQ(device->SetTimeouts(timeouts), 0);
        return device;
    }

    // Reads until `count` bytes came or the bound passed.
    static Bytes ReadAll(SerialDevice& device, std::size_t count) {
        Bytes out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(kBoundMs);
        Bytes buffer(count);
        while (out.size() < count && Clock::now() < deadline) {
            TransferResult r = device.Read(buffer.data(), static_cast<uint32_t>(count - out.size()),
                                           nullptr, nullptr);
            if (!Ended(r)) {
                ADD_FAILURE() << "read failed: outcome " << static_cast<int>(r.outcome)
                              << ", error " << r.error;
                break;
            }
            out.insert(out.end(), buffer.begin(), buffer.begin() + r.bytes);
        }
        return out;
    }

    std::unique_ptr<TestLine> line_;
};

TEST_F(SerialDeviceTest, OpensClosesAndReopens) {
    auto device = OpenLibraryEnd();
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(device->IsCharacterDevice());
    device.reset();
    device = OpenLibraryEnd();
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(device->IsCharacterDevice());
    EXPECT_FALSE(SerialDevice::DeviceName(line_->Port()).empty());
}

TEST(SerialDevice, MissingPortIsFileNotFound) {
    int32_t error = 0;
    EXPECT_EQ(SerialDevice::Open(kMissingPort, error), nullptr);
    EXPECT_EQ(error, kErrFileNotFound);
    EXPECT_EQ(LastError(), kErrFileNotFound);
    EXPECT_FALSE(SerialDevice::Present(kMissingPort));
}

TEST_F(SerialDeviceTest, SecondOpenIsRefusedAndPresentSaysNo) {
    if (RunningUnderWine()) {
        GTEST_SKIP()
            << "Wine does not refuse a second open of a COM port with share mode 0 (Windows does)";
    }
    auto device = OpenLibraryEnd();
    ASSERT_NE(device, nullptr);
    int32_t error = 0;
    EXPECT_EQ(SerialDevice::Open(line_->Port(), error), nullptr);
    EXPECT_EQ(error, kErrAccessDenied);
    EXPECT_FALSE(SerialDevice::Present(line_->Port()));
    device.reset();
    EXPECT_TRUE(SerialDevice::Present(line_->Port()));
}

TEST_F(SerialDeviceTest, PresentLeavesThePortFree) {
    EXPECT_TRUE(SerialDevice::Present(line_->Port()));
    EXPECT_TRUE(SerialDevice::Present(line_->Port()));
    auto device = OpenLibraryEnd();
    EXPECT_NE(device, nullptr);
}

TEST_F(SerialDeviceTest, SettingsAndTimeoutsReadBack) {
    auto device = OpenLibraryEnd();
    ASSERT_NE(device, nullptr);
    LineSettings s;
    ASSERT_EQ(device->GetLineSettings(s), 0);
    s.baudRate = 9600;
    ASSERT_EQ(device->SetLineSettings(s), 0);
    LineSettings back;
    ASSERT_EQ(device->GetLineSettings(back), 0);
    EXPECT_EQ(back.baudRate, 9600u);
    EXPECT_EQ(back.byteSize, 8);
    EXPECT_EQ(back.stopBits, 0);

    // A pseudo-terminal cannot keep parity; asking for it, even twice at the
    // same speed (which the system refuses as "no change"), is accepted.
    s.parity = 2;
    EXPECT_EQ(device->SetLineSettings(s), 0) << "error " << LastError();
    EXPECT_EQ(device->SetLineSettings(s), 0) << "error " << LastError();
    ASSERT_EQ(device->GetLineSettings(back), 0);
    EXPECT_EQ(back.baudRate, 9600u);

    const CommTimeouts t = ReadTimeouts(kMaxDword, 0, 0);
    ASSERT_EQ(device->SetTimeouts(t), 0);
    CommTimeouts got;
    ASSERT_EQ(device->GetTimeouts(got), 0);
    EXPECT_EQ(got.readInterval, kMaxDword);
    EXPECT_EQ(got.readTotalConstant, 0u);
    EXPECT_EQ(got.writeTotalConstant, 5000u);
    EXPECT_EQ(device->SetBufferSizes(4096, 2048), 0);
}

TEST_F(SerialDeviceTest, BytesMoveBothWays) {
    auto device = OpenLibraryEnd();
    ASSERT_NE(device, nullptr);

    const Bytes hello = {'h', 'e', 'l', 'l', 'o', 0x00, 0x1B, 0xFF};
    TransferResult w =
        device->Write(hello.data(), static_cast<uint32_t>(hello.size()), nullptr, nullptr);
    ASSERT_TRUE(Ended(w)) << "error " << w.error;
    EXPECT_EQ(w.bytes, hello.size());
    EXPECT_EQ(line_->Receive(hello.size(), kBoundMs), hello);

    ASSERT_TRUE(line_->Send({0x06, 0x00, 0x15, 0x80}));
    EXPECT_EQ(ReadAll(*device, 4), (Bytes{0x06, 0x00, 0x15, 0x80}));

    // A block larger than one read of the peer, every byte value in order.
    Bytes block(3000);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    w = device->Write(block.data(), static_cast<uint32_t>(block.size()), nullptr, nullptr);
    ASSERT_TRUE(Ended(w)) << "error " << w.error;
    EXPECT_EQ(w.bytes, block.size());
    EXPECT_EQ(line_->Receive(block.size(), kBoundMs), block);
    ASSERT_TRUE(line_->Send(block));
    EXPECT_EQ(ReadAll(*device, block.size()), block);

    // Transmit side empty once the peer has everything.
    const Bytes one = {0x42};
    ASSERT_TRUE(Ended(device->Write(one.data(), 1, nullptr, nullptr)));
    EXPECT_EQ(line_->Receive(1, kBoundMs), one);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kBoundMs);
    while (!device->TransmitEmpty() && Clock::now() < deadline) SleepMs(5);
    EXPECT_TRUE(device->TransmitEmpty());
    uint32_t ce = 0xFFFF;
    EXPECT_EQ(device->ClearErrors(ce), 0);
    EXPECT_EQ(ce, 0u);  // a pseudo-terminal has no line errors
}

TEST_F(SerialDeviceTest, DrainDropsWhatThePeerReceived) {
    auto device = OpenLibraryEnd();
    ASSERT_NE(device, nullptr);
    const Bytes stale = {1, 2, 3};
    ASSERT_TRUE(Ended(device->Write(stale.data(), 3, nullptr, nullptr)));
    const auto deadline = Clock::now() + std::chrono::milliseconds(kBoundMs);
    while (!device->TransmitEmpty() && Clock::now() < deadline) SleepMs(5);
    SleepMs(100);  // under Wine the bytes still pass through socat
    line_->Drain();
    const Bytes fresh = {9};
    ASSERT_TRUE(Ended(device->Write(fresh.data(), 1, nullptr, nullptr)));
    EXPECT_EQ(line_->Receive(1, kBoundMs), fresh);
}

TEST_F(SerialDeviceTest, ReadOfSilentPeerEndsOnTheTotalTimeout) {
    auto device = OpenLibraryEnd(ReadTimeouts(0, 0, 500));
    ASSERT_NE(device, nullptr);
    uint8_t byte = 0;
    std::atomic<uint8_t> waiting{0};
    const auto start = Clock::now();
    TransferResult r = device->Read(&byte, 1, nullptr, &waiting);
    const auto took = Clock::now() - start;
    EXPECT_TRUE(Ended(r)) << "outcome " << static_cast<int>(r.outcome) << ", error " << r.error;
    EXPECT_EQ(r.bytes, 0u);
    EXPECT_EQ(waiting.load(), 0);
    EXPECT_GE(took, std::chrono::milliseconds(400));
    EXPECT_LT(took, std::chrono::milliseconds(kBoundMs));

    // The byte that comes later is still there for the next read.
    ASSERT_TRUE(line_->Send({0x33}));
    EXPECT_EQ(ReadAll(*device, 1), Bytes{0x33});
}

TEST_F(SerialDeviceTest, ReturnAtOnceTimeoutsDoNotWait) {
    auto device = OpenLibraryEnd(ReadTimeouts(kMaxDword, 0, 0));
    ASSERT_NE(device, nullptr);
    uint8_t buffer[4] = {};
    TransferResult r = device->Read(buffer, 4, nullptr, nullptr);
    EXPECT_TRUE(Ended(r));
    EXPECT_EQ(r.bytes, 0u);

    ASSERT_TRUE(line_->Send({7, 8}));
    Bytes got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kBoundMs);
    while (got.size() < 2 && Clock::now() < deadline) {
        r = device->Read(buffer, 4, nullptr, nullptr);
        ASSERT_TRUE(Ended(r));
        got.insert(got.end(), buffer, buffer + r.bytes);
        if (r.bytes == 0) SleepMs(5);
    }
    EXPECT_EQ(got, (Bytes{7, 8}));
}

TEST_F(SerialDeviceTest, CancelEventEndsAPendingRead) {
    auto device = OpenLibraryEnd(ReadTimeouts(0, 0, 0));  // no timeout: waits for data
    ASSERT_NE(device, nullptr);
    auto cancel = Event::Create(false);
    ASSERT_NE(cancel, nullptr);
    PendingRead read(*device, 4, cancel.get());
    ASSERT_TRUE(read.Started());
    ASSERT_TRUE(read.WaitUntilPending());
    EXPECT_FALSE(read.WaitFinished(50));
    cancel->Set();
    EXPECT_TRUE(read.WaitFinished(kBoundMs));
    read.Rescue(*line_);
    read.Join();
    EXPECT_EQ(read.Result().outcome, TransferOutcome::Cancelled);
    EXPECT_EQ(read.Result().bytes, 0u);

    // The device is usable after the cancelled read.
    ASSERT_TRUE(line_->Send({0x10, 0x20}));
    EXPECT_EQ(ReadAll(*device, 2), (Bytes{0x10, 0x20}));
}

TEST_F(SerialDeviceTest, CancelEventAlreadySetEndsAReadThatWouldWait) {
    auto device = OpenLibraryEnd(ReadTimeouts(0, 0, 0));
    ASSERT_NE(device, nullptr);
    auto cancel = Event::Create(true);
    ASSERT_NE(cancel, nullptr);
    PendingRead read(*device, 1, cancel.get());
    ASSERT_TRUE(read.Started());
    EXPECT_TRUE(read.WaitFinished(kBoundMs));
    read.Rescue(*line_);
    read.Join();
    EXPECT_EQ(read.Result().outcome, TransferOutcome::Cancelled);
}

TEST_F(SerialDeviceTest, AbortingPurgeEndsAPendingRead) {
    auto device = OpenLibraryEnd(ReadTimeouts(0, 0, 0));
    ASSERT_NE(device, nullptr);
    PendingRead read(*device, 4, nullptr);
    ASSERT_TRUE(read.Started());
    ASSERT_TRUE(read.WaitUntilPending());
    EXPECT_EQ(device->Purge(kPurgeRxAbort | kPurgeRxClear), 0);
    EXPECT_TRUE(read.WaitFinished(kBoundMs));
    read.Rescue(*line_);
    read.Join();
    EXPECT_EQ(read.Result().outcome, TransferOutcome::CompletionFailed);
    EXPECT_EQ(read.Result().error, kErrOperationAborted);
}

// A write far larger than every buffer on the way, to a peer that reads
// nothing, cannot complete: only its timeout or a cancel can end it.
constexpr std::size_t kStalledWrite = 4u << 20;

// Takes everything the peer has been sent, so the next test on this line
// starts clean, and says how much that was.
std::size_t Swallow(TestLine& line) {
    std::size_t total = 0;
    for (;;) {
        const std::size_t n = line.Receive(1u << 20, 300).size();
        if (n == 0) return total;
        total += n;
    }
}

TEST_F(SerialDeviceTest, WriteToAStalledPeerEndsOnTheWriteTimeout) {
    CommTimeouts t = ReadTimeouts(0, 0, 0);
    t.writeTotalConstant = 500;
    auto device = OpenLibraryEnd(t);
    ASSERT_NE(device, nullptr);
    const Bytes big(kStalledWrite, 0x5A);
    TransferResult r;
    auto thread = Thread::Start(
        [&] { r = device->Write(big.data(), static_cast<uint32_t>(big.size()), nullptr, nullptr); },
        ThreadPriority::Normal);
    ASSERT_NE(thread, nullptr);
    Event* finished[] = {&thread->Finished()};
    const bool ended = WaitAny(finished, 1, kBoundMs) == 0;
    const std::size_t arrived = Swallow(*line_);  // also ends a write that did not time out
    thread->Join();
    ASSERT_TRUE(ended) << "a write held back for longer than its timeout kept waiting";
    EXPECT_TRUE(Ended(r)) << "outcome " << static_cast<int>(r.outcome) << ", error " << r.error;
    EXPECT_LT(r.bytes, big.size());
    EXPECT_EQ(arrived, r.bytes) << "the count must be what really went out";
}

TEST_F(SerialDeviceTest, CancelEventEndsAPendingWrite) {
    auto device = OpenLibraryEnd(ReadTimeouts(0, 0, 0));  // writes without a timeout
    ASSERT_NE(device, nullptr);
    auto cancel = Event::Create(false);
    ASSERT_NE(cancel, nullptr);
    const Bytes big(kStalledWrite, 0xA5);
    TransferResult r;
    std::atomic<uint8_t> waiting{0};
    auto thread = Thread::Start(
        [&] {
            r = device->Write(big.data(), static_cast<uint32_t>(big.size()), cancel.get(),
                              &waiting);
        },
        ThreadPriority::Normal);
    ASSERT_NE(thread, nullptr);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kBoundMs);
    while (waiting.load() == 0 && !thread->Finished().IsSet() && Clock::now() < deadline)
        SleepMs(5);
    EXPECT_EQ(waiting.load(), 1);
    cancel->Set();
    Event* finished[] = {&thread->Finished()};
    const bool ended = WaitAny(finished, 1, kBoundMs) == 0;
    Swallow(*line_);
    thread->Join();
    ASSERT_TRUE(ended) << "the cancel event did not end a pending write";
    EXPECT_EQ(r.outcome, TransferOutcome::Cancelled);
    EXPECT_LT(r.bytes, big.size());
}

TEST_F(SerialDeviceTest, ModemLinesOfAPseudoTerminalFailWithACode) {
    if (line_->HasModemLines()) GTEST_SKIP() << "this line has modem lines";
    auto device = OpenLibraryEnd();
    ASSERT_NE(device, nullptr);
    uint32_t ms = 0xFFFF;
    const int32_t status = device->GetModemStatus(ms);
    EXPECT_NE(status, 0) << "a pseudo-terminal has no modem lines";
    EXPECT_EQ(LastError(), status);
    for (LineControl c :
         {LineControl::SetDtr, LineControl::ClearDtr, LineControl::SetRts, LineControl::ClearRts}) {
        const int32_t e = device->Escape(c);
        EXPECT_NE(e, 0);
        EXPECT_EQ(LastError(), e);
    }
    // The device still works afterwards.
    ASSERT_TRUE(line_->Send({0x61}));
    EXPECT_EQ(ReadAll(*device, 1), Bytes{0x61});
}

TEST_F(SerialDeviceTest, CommEventWaitEndsOnStop) {
    auto device = OpenLibraryEnd();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->SetCommMask(kEvRxChar | kEvErr | kEvTxEmpty), 0);
    auto stop = Event::Create(false);
    ASSERT_NE(stop, nullptr);
    CommEventResult result;
    auto thread =
        Thread::Start([&] { result = device->WaitCommEvent(*stop); }, ThreadPriority::Normal);
    ASSERT_NE(thread, nullptr);
    Event* finished[] = {&thread->Finished()};
    WaitAny(finished, 1, 100);
    stop->Set();
    ASSERT_EQ(WaitAny(finished, 1, kBoundMs), 0) << "WaitCommEvent did not end on its stop event";
    thread->Join();
    if (RunningUnderWine()) {
        // Wine ends the wait by itself on a pseudo-terminal (it polls the
        // modem lines, which a pty lacks): a failure the caller must leave on.
        if (result.outcome == CommEventOutcome::Failed) {
            EXPECT_NE(result.error, 0);
        }
    } else {
        EXPECT_EQ(result.outcome, CommEventOutcome::Stopped);
    }
}

TEST_F(SerialDeviceTest, HangUpEndsAPendingReadWithoutData) {
    if (!line_->CanHangUp()) GTEST_SKIP() << "the far end of this line cannot be hung up";
    auto device = OpenLibraryEnd(ReadTimeouts(0, 0, 0));
    ASSERT_NE(device, nullptr);
    auto cancel = Event::Create(false);
    ASSERT_NE(cancel, nullptr);
    PendingRead read(*device, 1, cancel.get());
    ASSERT_TRUE(read.Started());
    ASSERT_TRUE(read.WaitUntilPending());
    line_->HangUp();
    const bool ended = read.WaitFinished(kBoundMs);
    if (!ended) cancel->Set();  // never leave the thread behind
    read.Join();
    ASSERT_TRUE(ended) << "a read on a line that was hung up kept waiting";
    EXPECT_EQ(read.Result().bytes, 0u);
    EXPECT_NE(read.Result().outcome, TransferOutcome::Cancelled);

    // Later reads fail rather than report "no byte yet" for ever.
    uint8_t byte = 0;
    ASSERT_EQ(device->SetTimeouts(ReadTimeouts(0, 0, 200)), 0);
    TransferResult r = device->Read(&byte, 1, nullptr, nullptr);
    EXPECT_FALSE(Ended(r)) << "bytes " << r.bytes;
    ASSERT_EQ(device->SetTimeouts(ReadTimeouts(kMaxDword, 0, 0)), 0);
    r = device->Read(&byte, 1, nullptr, nullptr);
    EXPECT_FALSE(Ended(r)) << "a return-at-once read on a dead line must fail, not report no data";
}

}  // namespace
}  // namespace vorin::platform

// The two workers of an open port: the events worker waits for comm events
// and hands each one to the opening thread; the transfer worker performs
// every byte transfer requested through the mailbox.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/event.h"
#include "platform/serial_device.h"
#include "platform/thread.h"

namespace vorin::serial {

class TComm;

// Bits of a port object's event set, by position, and their comm event kinds.
inline constexpr uint32_t kEventKinds[9] = {
    platform::kEvBreak,  platform::kEvCts,    platform::kEvDsr,
    platform::kEvErr,    platform::kEvRing,   platform::kEvRlsd,
    platform::kEvRxChar, platform::kEvRxFlag, platform::kEvTxEmpty,
};
uint32_t CommMaskOf(uint16_t eventSet);

// What both workers share: a stop event, a terminate request polled by the
// run loop, and the thread that the owner waits for.
class WorkerThread {
public:
    WorkerThread() : stop_(platform::Event::Create(false)) {}
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool Started() const { return thread_ != nullptr; }
    void Stop();
    platform::Event* Finished() const { return thread_ ? &thread_->Finished() : nullptr; }
    platform::Event* Ended() const { return thread_ ? thread_->Ended() : nullptr; }
    void Join();

protected:
    std::unique_ptr<platform::Event> stop_;
    std::atomic<bool> terminate_{false};
    std::unique_ptr<platform::Thread> thread_;
};

class TZdarzeniaCommThread : public WorkerThread {
public:
    using Handler = std::function<void(TZdarzeniaCommThread&, uint32_t mask)>;
    using Recovery = std::function<bool()>;

    // Aborted waits (995) with no line error pending, in a row, that the
    // worker retries at once; after that it pauses before each retry, longer
    // each time up to kLongestPauseMs. Where every wait fails at once (Wine
    // on a pseudo-terminal) it must not spin; it must not leave either, or
    // no line error would be acknowledged any more.
    static constexpr int kMaxAbortedWaits = 3;
    static constexpr uint32_t kLongestPauseMs = 1000;

    // Raises the process priority, sets the comm mask and starts the thread.
    // `recover` runs on the worker when its wait was aborted: it must
    // acknowledge a pending line error so that the device takes requests
    // again, and say whether there was one.
    TZdarzeniaCommThread(platform::SerialDevice& port, uint16_t eventSet, Handler handler,
                         Recovery recover);
    ~TZdarzeniaCommThread() override;

    uint32_t EventMask() const { return eventMask_.load(); }

private:
    void Run();
    void FireHandler();

    platform::SerialDevice& port_;
    std::atomic<uint32_t> eventMask_{0};
    Handler handler_;
    Recovery recover_;
};

class TZapisOdczytThread : public WorkerThread {
public:
    // Starts the thread and returns once it has created the mailbox events
    // (or failed to).
    TZapisOdczytThread(TComm& owner);
    ~TZapisOdczytThread() override;

private:
    void Run(platform::Event* ready, platform::Event* writeRequest, platform::Event* readRequest);
    static void SignalReady(platform::Event* ready);

    TComm& owner_;
};

}  // namespace vorin::serial

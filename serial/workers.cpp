#include "serial/workers.h"

#include "platform/errors.h"

#include <algorithm>
#include <chrono>
#include <future>

#include "serial/handover.h"
#include "serial/last_error.h"
#include "serial/library.h"
#include "serial/tcomm.h"
#include "serial/texts.h"

namespace vorin::serial {

using platform::Event;

uint32_t CommMaskOf(uint16_t eventSet) {
    uint32_t mask = 0;
    for (int i = 0; i < 9; ++i)
        if (eventSet & (1u << i)) mask |= kEventKinds[i];
    return mask;
}

// ---- both workers -----------------------------------------------------------

WorkerThread::~WorkerThread() {
    Stop();
    Join();
}

void WorkerThread::Stop() {
    terminate_.store(true);
    if (stop_) stop_->Set();
}

void WorkerThread::Join() {
    if (thread_) thread_->Join();
}

// ---- events worker ----------------------------------------------------------

TZdarzeniaCommThread::TZdarzeniaCommThread(platform::SerialDevice& port, uint16_t eventSet,
                                           Handler handler, Recovery recover)
    : port_(port), handler_(std::move(handler)), recover_(std::move(recover)) {
    RaiseProcessPriority();
    if (!stop_) return;
    port_.SetCommMask(CommMaskOf(eventSet));
    thread_ = platform::Thread::Start([this] { Run(); }, platform::ThreadPriority::TimeCritical);
}

// The thread runs this object's members: it must end before they go.
TZdarzeniaCommThread::~TZdarzeniaCommThread() {
    Stop();
    Join();
}

void TZdarzeniaCommThread::Run() {
    int idleAborts = 0;
    uint32_t pauseMs = 0;
    while (!terminate_.load()) {
        platform::CommEventResult r = port_.WaitCommEvent(*stop_);
        // With abort-on-error on, a line error makes the device refuse every
        // request until the error is acknowledged; the wait then fails with
        // 995. Acknowledged here, the port goes on; without it every later
        // byte call would fail until the port is closed. However many line
        // errors come, each is acknowledged: only aborts with nothing pending
        // slow the loop down.
        if (r.outcome == platform::CommEventOutcome::Failed &&
            r.error == platform::kErrOperationAborted) {
            if (recover_ && recover_()) {
                idleAborts = 0;
                pauseMs = 0;
            } else if (++idleAborts > kMaxAbortedWaits) {
                pauseMs = std::min(kLongestPauseMs, pauseMs == 0 ? 10 : 2 * pauseMs);
                platform::Event* stop[] = {stop_.get()};
                if (platform::WaitAny(stop, 1, pauseMs) != platform::kWaitTimeout) break;
            }
            continue;
        }
        // Any other failed wait ends the loop: the device is gone, or the
        // system cannot wait for its events at all.
        if (r.outcome != platform::CommEventOutcome::Fired) break;
        idleAborts = 0;
        pauseMs = 0;
        eventMask_.store(r.mask);
        FireHandler();
    }
    port_.Purge(platform::kPurgeTxAbort | platform::kPurgeTxClear | platform::kPurgeRxAbort |
                platform::kPurgeRxClear);
}

void TZdarzeniaCommThread::FireHandler() {
    const uint32_t mask = eventMask_.load();
    TheHandOver().Post([this, mask] { handler_(*this, mask); }, *stop_);
}

// ---- transfer worker --------------------------------------------------------

namespace {

struct StartedEvents {
    std::unique_ptr<Event> ready, writeRequest, readRequest;
};

}  // namespace

TZapisOdczytThread::TZapisOdczytThread(TComm& owner) : owner_(owner) {
    if (!stop_) {
        StoreError(text::kCreateEvent, platform::LastError());
        return;
    }
    // The worker creates the mailbox events on its own thread; the opening
    // thread takes them over once they exist, so the first byte call can
    // never come before them.
    auto promise = std::make_shared<std::promise<StartedEvents>>();
    auto future = promise->get_future();
    thread_ = platform::Thread::Start(
        [this, promise] {
            StartedEvents ev;
            // Only threads wait on the mailbox events: no kernel objects, so
            // a byte's hand-over costs no system call while both sides are
            // awake.
            constexpr auto kThreads = platform::EventUse::Threads;
            ev.ready = Event::Create(true, kThreads);
            if (ev.ready) ev.writeRequest = Event::Create(false, kThreads);
            if (ev.writeRequest) ev.readRequest = Event::Create(false, kThreads);
            if (!ev.readRequest) {
                StoreError(text::kCreateEvent, platform::LastError());
                promise->set_value(StartedEvents{});
                return;
            }
            Event* writeRequest = ev.writeRequest.get();
            Event* readRequest = ev.readRequest.get();
            Event* ready = ev.ready.get();
            promise->set_value(std::move(ev));
            Run(ready, writeRequest, readRequest);
        },
        platform::ThreadPriority::TimeCritical);
    if (!thread_) return;
    if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return;
    StartedEvents ev = future.get();
    if (!ev.ready) return;
    Library& lib = TheLibrary();
    lib.mailbox.ready.store(ev.ready.get());
    lib.mailbox.writeRequest.store(ev.writeRequest.get());
    lib.mailbox.readRequest.store(ev.readRequest.get());
    // The previous worker's events go only now: nothing waits on them any more.
    lib.readyOwner = std::move(ev.ready);
    lib.writeRequestOwner = std::move(ev.writeRequest);
    lib.readRequestOwner = std::move(ev.readRequest);
}

TZapisOdczytThread::~TZapisOdczytThread() {
    Stop();
    Join();
}

void TZapisOdczytThread::Run(Event* ready, Event* writeRequest, Event* readRequest) {
    Event* waits[] = {stop_.get(), writeRequest, readRequest};
    while (!terminate_.load()) {
        int which = platform::WaitAny(waits, 3, platform::kInfinite);
        if (which == 1) {
            ready->Reset();
            uint8_t b = TheLibrary().mailbox.transmit.load();
            owner_.WriteBlock(&b);
            SignalReady(ready);
        } else if (which == 2) {
            ready->Reset();
            uint8_t b = 0;
            if (owner_.ReadBlock(&b, 1) == 1) TheLibrary().mailbox.receive.store(b);
            SignalReady(ready);
        } else {
            break;  // stop, or a wait that failed
        }
    }
}

void TZapisOdczytThread::SignalReady(Event* ready) {
    if (!ready->Set()) {
        StoreError(text::kEventReset, platform::LastError());
        TheLibrary().mailbox.timeout.store(1);  // the caller must not count this byte
    }
}

}  // namespace vorin::serial

#include "serial/tcomm.h"

#include "platform/errors.h"
#include "platform/event.h"
#include "serial/handover.h"
#include "serial/last_error.h"
#include "serial/library.h"
#include "serial/texts.h"
#include "serial/workers.h"

namespace vorin::serial {

using platform::LastError;
using platform::SetLastError;

int32_t ParityFromSelector(uint8_t selector) {
    switch (selector) {
    case 0: return 0;   // NOPARITY
    case 1: return 1;   // ODDPARITY
    default: return 2;  // EVENPARITY
    }
}

TComm::TComm() : parity(ParityFromSelector(TheLibrary().paritySelector.load())) {}

TComm::~TComm() { Close(); }

int32_t TComm::Configure(uint8_t port, uint32_t newSpeed, uint16_t newWriteTimeout,
                         uint16_t newReadTimeout) {
    SetLastError(0);
    port_ = port;
    speed = newSpeed;
    deviceName_ = "\\\\.\\COM" + std::to_string(port);
    writeTimeout = newWriteTimeout;
    readTimeout = newReadTimeout;
    return 0;
}

int32_t TComm::OpenDevice() {
    SetLastError(0);
    int32_t error = 0;
    handle_ = platform::SerialDevice::Open(port_, error);
    if (!handle_) {
        switch (error) {
        case platform::kErrFileNotFound: StoreError(text::kDeviceNotFound, error); break;
        case platform::kErrAccessDenied: StoreError(text::kAccessDenied, error); break;
        case platform::kErrInvalidHandle: StoreError(text::kInvalidHandle, error); break;
        case platform::kErrConnectRefused: StoreError(text::kNetConnect, error); break;
        case platform::kErrNetnameDeleted: StoreError(text::kNetDropped, error); break;
        default: StoreError(text::kBadDevice, error); break;
        }
        return error;
    }
    if (handle_->IsCharacterDevice()) return 0;
    // Not a serial device (a file or folder named like one). The port ends
    // closed; report it as an invalid handle rather than as success, even
    // when the system had no error value to give.
    ReleaseHandle();
    StoreError(text::kInvalidHandle, LastError());
    return platform::kErrInvalidHandle;
}

void TComm::ReleaseHandle() { handle_.reset(); }

int32_t TComm::Open() {
    Close();
    ClearError();
    SetLastError(0);
    int32_t result = OpenDevice();
    platform::SleepMs(100);
    if (!IsOpen()) return result;
    result = StartOpenPort();
    if (result != 0) AbandonFailedOpen();
    return result;
}

// A port that failed half way is given up whole: a caller that sees the
// failure has no port to close, and a port left open here would refuse every
// later open in this process with 5.
void TComm::AbandonFailedOpen() {
    const StoredError reason = PeekError();
    Close();
    StoreError(reason.text, reason.code);  // the close's own texts would hide why
}

int32_t TComm::StartOpenPort() {
    int32_t result = 0;

    events_ = std::make_unique<TZdarzeniaCommThread>(
        *handle_, eventSet,
        [this](TZdarzeniaCommThread& worker, uint32_t mask) { DispatchEvents(worker, mask); },
        [this] { return RecoverFromLineError(); });
    transfer_ = std::make_unique<TZapisOdczytThread>(*this);

    result = ApplyState();
    if (result != 0) return result;

    SetLastError(0);
    if (int32_t e = AfterLineErrorAgain([this] {
            return handle_->SetBufferSizes(static_cast<uint32_t>(inputBufferSize),
                                           static_cast<uint32_t>(outputBufferSize));
        })) {
        StoreError(text::kBuffers, e);
        return e;
    }
    result = SetTimeouts(writeTimeout, readTimeout);

    Library& lib = TheLibrary();
    auto cancel = platform::Event::Create(false);
    if (!cancel) {
        int32_t e = LastError();
        StoreError(text::kCreateEventOpen, e);
        return e;
    }
    lib.mailbox.cancel.store(cancel.get());
    lib.cancelOwner = std::move(cancel);
    platform::SleepMs(100);
    return result;
}

namespace {

// Waits for a worker's thread to end while serving hand-overs: the events
// worker may be blocked in one, waiting for this very thread. A worker that
// the system ended (Windows, at process exit, when a host DLL closes the port
// in its own teardown) never finishes its body: its thread being gone ends
// the wait too.
void AwaitWorker(WorkerThread& worker) {
    platform::Event* finished = worker.Finished();
    if (!finished) return;
    platform::Event* waits[] = {finished, TheHandOver().Pending(), worker.Ended()};
    const std::size_t count = waits[2] != nullptr ? 3 : 2;
    for (;;) {
        int which = platform::WaitAny(waits, count, platform::kInfinite);
        if (which == 1) {
            TheHandOver().Serve();
            continue;
        }
        return;  // finished, gone, or the wait failed (then Join still waits)
    }
}

}  // namespace

int32_t TComm::Close() {
    SetLastError(0);
    RestoreProcessPriority();
    if (!IsOpen()) return 0;

    platform::Event* cancel = TheLibrary().mailbox.cancel.load();
    if (events_) {
        events_->Stop();
        AwaitWorker(*events_);
        events_->Join();
        events_.reset();
    }
    if (transfer_) {
        // The stop first, then the cancel event, then the abort: a transfer
        // the worker picks up from here on ends at once (the cancel event
        // stays signalled), and one that already waits is aborted. In the
        // other order a transfer started between the abort and the stop
        // would wait for ever (write timeout 0 held back by flow control).
        transfer_->Stop();
        if (cancel) cancel->Set();
        handle_->Purge(platform::kPurgeTxAbort | platform::kPurgeRxAbort);
        AwaitWorker(*transfer_);
        transfer_->Join();
        transfer_.reset();
    }
    // Only with no transfer left: the timeouts found at open (on POSIX none
    // at all) would let a transfer wait for ever.
    if (timeoutsSaved_) {
        if (int32_t e = handle_->SetTimeouts(savedTimeouts_)) StoreError(text::kTimeoutsUpdate, e);
        timeoutsSaved_ = false;
    }
    ReleaseHandle();

    if (!cancel || !cancel->Set()) {
        int32_t e = cancel ? LastError() : platform::kErrInvalidHandle;
        StoreError(text::kEventSignal, e);
        return e;
    }
    return 0;
}

// Nothing here takes a lock that a worker may hold or records a failure: the
// system may have ended the workers anywhere, and nobody reads the store any
// more.
void TComm::CloseWithoutWaiting() {
    if (!IsOpen()) return;
    if (timeoutsSaved_) handle_->SetTimeouts(savedTimeouts_);
    timeoutsSaved_ = false;
    for (WorkerThread* worker :
         {static_cast<WorkerThread*>(events_.get()), static_cast<WorkerThread*>(transfer_.get())})
        if (worker) worker->Stop();
    // Their destructors would join: they are left to the end of the process.
    (void)events_.release();
    (void)transfer_.release();
    ReleaseHandle();
    if (platform::Event* cancel = TheLibrary().mailbox.cancel.load()) cancel->Set();
    RestoreProcessPriority();
}

int32_t TComm::ApplyState() {
    SetLastError(0);
    if (!IsOpen()) return 0;
    // The driver keeps abort-on-error from the port's previous user: a line
    // error since then makes it refuse the device state until acknowledged.
    if (int32_t e = AfterLineErrorAgain([this] { return handle_->GetLineSettings(dcb_); })) {
        StoreError(text::kDcb, e);
        return e;
    }
    dcb_.baudRate = speed;
    dcb_.parity = static_cast<uint8_t>(parity & 0xFF);
    dcb_.stopBits = static_cast<uint8_t>(stopBits);
    dcb_.byteSize = static_cast<uint8_t>(byteSize);
    SetFlowControl(dcb_);
    if (int32_t e = AfterLineErrorAgain([this] { return handle_->SetLineSettings(dcb_); })) {
        StoreError(text::kDcb, e);
        return e;
    }
    return 0;
}

void TComm::SetFlowControl(platform::LineSettings& dcb) {
    dcb.outxCtsFlow = TheLibrary().ctsFlow.load() != 0;
    dcb.outxDsrFlow = false;
    dcb.dtrControl = 0;  // DTR_CONTROL_DISABLE: only the line functions move DTR
    dcb.rtsControl = 0;  // RTS_CONTROL_DISABLE
    dcb.outX = false;
    dcb.inX = false;
    dcb.abortOnError = true;
}

int32_t TComm::SetTimeouts(uint16_t w, uint16_t r) {
    SetLastError(0);
    if (!IsOpen()) return 0;
    if (int32_t e = handle_->GetTimeouts(savedTimeouts_)) {
        StoreError(text::kTimeoutsRead, e);
        return e;
    }
    timeoutsSaved_ = true;
    timeouts_ = platform::CommTimeouts{};
    timeouts_.readInterval = r != 0 ? uint32_t(r) * 1000 : platform::kMaxDword;
    timeouts_.readTotalConstant = uint32_t(r) * 1000;
    timeouts_.writeTotalConstant = uint32_t(w) * 1000;
    if (int32_t e = AfterLineErrorAgain([this] { return handle_->SetTimeouts(timeouts_); })) {
        StoreError(text::kTimeoutsUpdate, e);
        return e;
    }
    return 0;
}

int32_t TComm::PurgeOutput() {
    SetLastError(0);
    if (!IsOpen()) return 0;
    return AfterLineErrorAgain([this] { return handle_->Purge(platform::kPurgeTxClear); });
}

int32_t TComm::PurgeInput() {
    SetLastError(0);
    if (!IsOpen()) return 0;
    return AfterLineErrorAgain([this] { return handle_->Purge(platform::kPurgeRxClear); });
}

// The common start of a write or read request: take the request, and count
// the transfer as moving nothing until it really moves its bytes.
bool TComm::BeginTransfer(platform::Event* request) {
    SetLastError(0);
    Mailbox& mb = TheLibrary().mailbox;
    mb.timeout.store(1);
    if (!request || !request->Reset()) {
        StoreError(text::kCloseHandle, LastError());
        return false;
    }
    if (!IsOpen()) {
        StoreError(text::kNotOpen, -1);
        return false;
    }
    return true;
}

uint32_t TComm::WriteBlock(const uint8_t* data) {
    using platform::TransferOutcome;
    Mailbox& mb = TheLibrary().mailbox;
    if (!BeginTransfer(mb.writeRequest.load())) return 0;
    platform::TransferResult r = TransferAgainAfterLineError(
        [&] { return handle_->Write(data, 1, mb.cancel.load(), &mb.writeWait); });
    uint32_t written = 0;
    switch (r.outcome) {
    case TransferOutcome::CompletedAtOnce:
        written = r.bytes;
        if (written != 1) StoreError(text::kWriteBad, LastError());
        break;
    case TransferOutcome::Completed:
        written = r.bytes;
        // The write timeout expired. Stored with ERROR_TIMEOUT so that
        // IsError reports it as the failure it is.
        if (written != 1) StoreError(text::kWriteTimeout, platform::kErrTimeout);
        break;
    case TransferOutcome::CompletionFailed: StoreError(text::kWriteBad, r.error); break;
    case TransferOutcome::Cancelled: StoreError(text::kWriteCancelled, r.error); break;
    case TransferOutcome::WaitFailed: StoreError(text::kWriteBad, r.error); break;
    case TransferOutcome::SetupFailed: StoreError(text::kCreateEvent, r.error); break;
    case TransferOutcome::Failed: StoreError(text::kWriteToPortBad, r.error); break;
    }
    if (r.error == platform::kErrNetnameDeleted) StoreError(text::kNetDropped, r.error);
    mb.timeout.store(written == 0 ? 1 : 0);
    return written;
}

uint32_t TComm::ReadBlock(uint8_t* buffer, uint32_t count) {
    using platform::TransferOutcome;
    Mailbox& mb = TheLibrary().mailbox;
    if (!BeginTransfer(mb.readRequest.load())) return 0;
    platform::TransferResult r = TransferAgainAfterLineError(
        [&] { return handle_->Read(buffer, count, mb.cancel.load(), &mb.readWait); });
    uint32_t got = 0;
    switch (r.outcome) {
    case TransferOutcome::CompletedAtOnce:
        got = r.bytes;
        if (got < count) StoreError(text::kReadBad, LastError());
        break;
    case TransferOutcome::Completed:
        got = r.bytes;
        if (got < count) StoreError(text::kReadTimeout, platform::kErrTimeout);
        break;
    case TransferOutcome::CompletionFailed:
        if (r.error == platform::kErrOperationAborted)
            StoreError(text::kReadAborted, r.error);
        else
            StoreError(text::kReadBad, r.error);
        break;
    case TransferOutcome::Cancelled: StoreError(text::kReadCancelled, r.error); break;
    case TransferOutcome::WaitFailed: StoreError(text::kReadBad, r.error); break;
    case TransferOutcome::SetupFailed: StoreError(text::kCreateEventRead, r.error); break;
    case TransferOutcome::Failed: StoreError(text::kReadBad, r.error); break;
    }
    if (r.error == platform::kErrNetnameDeleted) StoreError(text::kNetDropped, r.error);
    // Only whole transfers count: a short read leaves the caller's byte alone.
    if (got < count) got = 0;
    mb.timeout.store(got == 0 ? 1 : 0);
    return got;
}

void TComm::DispatchEvents(TZdarzeniaCommThread&, uint32_t mask) {
    if (IsOpen()) handle_->ClearErrors(lineErrors);
    for (uint32_t kind :
         {platform::kEvRxChar, platform::kEvRxFlag, platform::kEvTxEmpty, platform::kEvErr})
        if (mask & kind) LineEvent(kind);
}

namespace {

// Records the text of each line error that is set, in table order; each
// replaces the one before, so the last set bit in this order is what stays.
void StoreLineErrors(uint32_t bits) {
    struct LineError {
        uint32_t bit;
        const char* text;
    };
    const LineError errors[] = {
        {platform::kCeBreak, text::kCeBreak.c_str()},
        {platform::kCeFrame, text::kCeFrame.c_str()},
        {platform::kCeOverrun, text::kCeOverrun.c_str()},
        {platform::kCeRxOver, text::kCeRxOver.c_str()},
        {platform::kCeRxParity, text::kCeRxParity.c_str()},
        {platform::kCeTxFull, text::kCeTxFull.c_str()},
    };
    for (const auto& e : errors)
        if (bits & e.bit) StoreError(e.text, static_cast<int32_t>(e.bit));
}

}  // namespace

void TComm::LineEvent(uint32_t kind) {
    if (kind == platform::kEvErr) StoreLineErrors(lineErrors);
}

bool TComm::RecoverFromLineError() {
    uint32_t bits = 0;  // not lineErrors: that belongs to the opening thread
    if (!IsOpen() || handle_->ClearErrors(bits) != 0) return false;
    StoreLineErrors(bits);
    return bits != 0;
}

template <class Request>
int32_t TComm::AfterLineErrorAgain(Request request) {
    int32_t e = request();
    if (e != platform::kErrOperationAborted) return e;
    RecoverFromLineError();
    return request();
}

// A transfer the device refused (995 before it started) is always safe to
// run again once the error is acknowledged. One that a line error aborted
// while it waited is run again only when an error was really pending: a
// purge or a close aborts transfers with the same code, and those must stay
// aborted.
template <class Transfer>
platform::TransferResult TComm::TransferAgainAfterLineError(Transfer transfer) {
    using platform::TransferOutcome;
    platform::TransferResult r = transfer();
    if (r.error != platform::kErrOperationAborted) return r;
    const bool refused = r.outcome == TransferOutcome::Failed;
    const bool aborted = r.outcome == TransferOutcome::CompletionFailed && r.bytes == 0;
    if (!refused && !aborted) return r;
    if (RecoverFromLineError() || refused) return transfer();
    return r;
}

}  // namespace vorin::serial

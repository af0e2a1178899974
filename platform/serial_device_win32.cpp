#include "platform/serial_device.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/net_port.h"
#include "platform/system.h"

namespace vorin::platform {

namespace win32 {
HANDLE EventHandle(const Event& event);  // event_win32.cpp
}

namespace {

// The code of the call that just failed, never 0: a failure must not read as
// success to a caller that tests the result.
int32_t FailureCode() {
    DWORD error = ::GetLastError();
    if (error == ERROR_SUCCESS) {
        error = ERROR_GEN_FAILURE;
        ::SetLastError(error);
    }
    return static_cast<int32_t>(error);
}

int32_t Check(BOOL ok) { return ok ? 0 : FailureCode(); }

// One overlapped operation's completion event, closed on every path out.
class OverlapEvent {
public:
    OverlapEvent() : handle_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~OverlapEvent() {
        if (handle_ != nullptr) {
            ::CloseHandle(handle_);
        }
    }
    OverlapEvent(const OverlapEvent&) = delete;
    OverlapEvent& operator=(const OverlapEvent&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// A completion event kept for one direction's transfers: a transfer a byte
// would otherwise create and close one each time, two round trips to the
// Wine server there. WriteFile and ReadFile reset it when they start.
struct KeptEvent {
    std::atomic<bool> busy{false};
    HANDLE handle = nullptr;  // made by the first transfer that takes it
};

// The kept event while it is free, else an event of this transfer's own (two
// transfers of one direction at once: the device allows it, the library does
// not do it).
class TransferEvent {
public:
    explicit TransferEvent(KeptEvent& kept) : kept_(kept) {
        if (!kept_.busy.exchange(true)) {
            taken_ = true;
            if (kept_.handle == nullptr) {
                kept_.handle = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
            }
            handle_ = kept_.handle;
        } else {
            handle_ = own_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        }
    }
    ~TransferEvent() {
        if (own_ != nullptr) {
            ::CloseHandle(own_);
        }
        if (taken_) {
            kept_.busy.store(false);
        }
    }
    TransferEvent(const TransferEvent&) = delete;
    TransferEvent& operator=(const TransferEvent&) = delete;
    HANDLE get() const { return handle_; }

private:
    KeptEvent& kept_;
    bool taken_ = false;
    HANDLE own_ = nullptr;
    HANDLE handle_ = nullptr;
};

class Win32SerialDevice final : public SerialDevice {
public:
    explicit Win32SerialDevice(HANDLE handle) : handle_(handle) {}
    ~Win32SerialDevice() override {
        ::CloseHandle(handle_);
        for (KeptEvent& kept : transferEvents_) {
            if (kept.handle != nullptr) {
                ::CloseHandle(kept.handle);
            }
        }
    }
    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    bool IsCharacterDevice() override { return ::GetFileType(handle_) == FILE_TYPE_CHAR; }

    int32_t GetLineSettings(LineSettings& out) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(handle_, &dcb)) {
            return FailureCode();
        }
        out.baudRate = dcb.BaudRate;
        out.parity = dcb.Parity;
        out.stopBits = dcb.StopBits;
        out.byteSize = dcb.ByteSize;
        out.outxCtsFlow = dcb.fOutxCtsFlow != 0;
        out.outxDsrFlow = dcb.fOutxDsrFlow != 0;
        out.dtrControl = static_cast<uint8_t>(dcb.fDtrControl);
        out.rtsControl = static_cast<uint8_t>(dcb.fRtsControl);
        out.outX = dcb.fOutX != 0;
        out.inX = dcb.fInX != 0;
        out.abortOnError = dcb.fAbortOnError != 0;
        return 0;
    }

    int32_t SetLineSettings(const LineSettings& s) override {
        // Read, overlay, write: every DCB member the library does not set
        // keeps what the device had.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(handle_, &dcb)) {
            return FailureCode();
        }
        dcb.BaudRate = s.baudRate;
        dcb.Parity = s.parity;
        dcb.StopBits = s.stopBits;
        dcb.ByteSize = s.byteSize;
        dcb.fOutxCtsFlow = s.outxCtsFlow ? 1 : 0;
        dcb.fOutxDsrFlow = s.outxDsrFlow ? 1 : 0;
        dcb.fDtrControl = s.dtrControl & 3u;
        dcb.fRtsControl = s.rtsControl & 3u;
        dcb.fOutX = s.outX ? 1 : 0;
        dcb.fInX = s.inX ? 1 : 0;
        dcb.fAbortOnError = s.abortOnError ? 1 : 0;
        if (::SetCommState(handle_, &dcb)) {
            return 0;
        }
        const int32_t error = FailureCode();
        // A pseudo-terminal behind a COM port under Wine cannot keep parity,
        // and Wine refuses (ERROR_INVALID_PARAMETER) a request whose only
        // change is parity, stopping before flow control is applied. As on
        // POSIX, a parity the line cannot keep is accepted: the request is
        // applied again without it, so that everything else is in place.
        if (error == ERROR_INVALID_PARAMETER && dcb.Parity != NOPARITY && RunningUnderWine()) {
            dcb.Parity = NOPARITY;
            dcb.fParity = 0;
            if (::SetCommState(handle_, &dcb)) {
                ::SetLastError(0);
                return 0;
            }
            ::SetLastError(static_cast<DWORD>(error));
        }
        return error;
    }

    int32_t SetBufferSizes(uint32_t input, uint32_t output) override {
        return Check(::SetupComm(handle_, input, output));
    }

    int32_t GetTimeouts(CommTimeouts& out) override {
        COMMTIMEOUTS t{};
        if (!::GetCommTimeouts(handle_, &t)) {
            return FailureCode();
        }
        out.readInterval = t.ReadIntervalTimeout;
        out.readTotalMultiplier = t.ReadTotalTimeoutMultiplier;
        out.readTotalConstant = t.ReadTotalTimeoutConstant;
        out.writeTotalMultiplier = t.WriteTotalTimeoutMultiplier;
        out.writeTotalConstant = t.WriteTotalTimeoutConstant;
        return 0;
    }

    int32_t SetTimeouts(const CommTimeouts& in) override {
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = in.readInterval;
        t.ReadTotalTimeoutMultiplier = in.readTotalMultiplier;
        t.ReadTotalTimeoutConstant = in.readTotalConstant;
        t.WriteTotalTimeoutMultiplier = in.writeTotalMultiplier;
        t.WriteTotalTimeoutConstant = in.writeTotalConstant;
        return Check(::SetCommTimeouts(handle_, &t));
    }

    int32_t Purge(uint32_t flags) override {
        if (!::PurgeComm(handle_, flags)) {
            return FailureCode();
        }
        // Windows aborts the pending transfers itself; Wine only empties the
        // queues and leaves a pending read waiting. Cancelling the transfer
        // this device has in flight gives both the same result: the transfer
        // ends with ERROR_OPERATION_ABORTED. (Nothing to cancel is no error.)
        if (flags & (PURGE_RXABORT | PURGE_TXABORT)) {
            std::lock_guard lock(pendingMutex_);
            if ((flags & PURGE_RXABORT) && pendingRead_ != nullptr)
                ::CancelIoEx(handle_, pendingRead_);
            if ((flags & PURGE_TXABORT) && pendingWrite_ != nullptr)
                ::CancelIoEx(handle_, pendingWrite_);
        }
        ::SetLastError(0);
        return 0;
    }

    int32_t SetCommMask(uint32_t mask) override { return Check(::SetCommMask(handle_, mask)); }

    int32_t Escape(LineControl what) override {
        DWORD function = 0;
        switch (what) {
        case LineControl::SetDtr: function = SETDTR; break;
        case LineControl::ClearDtr: function = CLRDTR; break;
        case LineControl::SetRts: function = SETRTS; break;
        case LineControl::ClearRts: function = CLRRTS; break;
        case LineControl::SetBreak: function = SETBREAK; break;
        case LineControl::ClearBreak: function = CLRBREAK; break;
        }
        if (function == 0) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return ERROR_INVALID_PARAMETER;
        }
        return Check(::EscapeCommFunction(handle_, function));
    }

    int32_t GetModemStatus(uint32_t& msBits) override {
        DWORD status = 0;
        if (!::GetCommModemStatus(handle_, &status)) {
            return FailureCode();
        }
        msBits = status & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
        return 0;
    }

    int32_t ClearErrors(uint32_t& ceBits) override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(handle_, &errors, &status)) {
            return FailureCode();
        }
        // Errors that TransmitEmpty cleared on its way are handed out here.
        ceBits = errors | heldErrors_.exchange(0);
        return 0;
    }

    bool TransmitEmpty() override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(handle_, &errors, &status)) {
            FailureCode();
            return false;
        }
        // ClearCommError cleared the line errors as a side effect; keep them
        // for the next ClearErrors so that none is lost.
        heldErrors_.fetch_or(errors);
        return status.cbOutQue == 0;
    }

    TransferResult Write(const uint8_t* data, uint32_t count, Event* cancel,
                         std::atomic<uint8_t>* waiting) override {
        return Transfer(true, const_cast<uint8_t*>(data), count, cancel, waiting);
    }

    TransferResult Read(uint8_t* data, uint32_t count, Event* cancel,
                        std::atomic<uint8_t>* waiting) override {
        if (RunningUnderWine() && ReturnsAtOnce()) {
            // Timeouts MAXDWORD/0/0 mean "return at once with what is
            // there"; Wine instead keeps such a read pending until data
            // comes. Asking for no more than the queue holds gives the
            // Windows behaviour.
            DWORD errors = 0;
            COMSTAT status{};
            if (!::ClearCommError(handle_, &errors, &status)) {
                TransferResult result;
                result.error = FailureCode();
                return result;
            }
            heldErrors_.fetch_or(errors);
            if (status.cbInQue == 0) {
                ::SetLastError(0);
                TransferResult result;
                result.outcome = TransferOutcome::CompletedAtOnce;
                return result;
            }
            count = std::min<uint32_t>(count, status.cbInQue);
        }
        return Transfer(false, data, count, cancel, waiting);
    }

    CommEventResult WaitCommEvent(Event& stop) override {
        CommEventResult result;
        HANDLE stopHandle = win32::EventHandle(stop);
        if (stopHandle == nullptr) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            result.error = ERROR_INVALID_HANDLE;
            return result;
        }
        OverlapEvent event;
        if (event.get() == nullptr) {
            result.error = FailureCode();
            return result;
        }
        OVERLAPPED ov{};
        ov.hEvent = event.get();
        DWORD mask = 0;
        if (::WaitCommEvent(handle_, &mask, &ov)) {
            result.outcome = CommEventOutcome::Fired;
            result.mask = mask;
            return result;
        }
        if (::GetLastError() != ERROR_IO_PENDING) {
            result.error = FailureCode();
            return result;
        }
        HANDLE handles[2] = {stopHandle, ov.hEvent};
        const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        DWORD ignored = 0;
        if (r == WAIT_OBJECT_0 + 1) {
            if (!::GetOverlappedResult(handle_, &ov, &ignored, FALSE)) {
                result.error = FailureCode();
                return result;
            }
            result.outcome = CommEventOutcome::Fired;
            result.mask = mask;
            return result;
        }
        const int32_t waitError = r == WAIT_OBJECT_0 ? 0 : FailureCode();
        // The request must be over before `ov` and `mask` leave scope. An
        // empty mask ends a pending wait in every serial driver; some USB and
        // virtual COM drivers ignore the cancellation of this request, which
        // alone would then never let the wait below return.
        ::SetCommMask(handle_, 0);
        ::CancelIoEx(handle_, &ov);
        ::GetOverlappedResult(handle_, &ov, &ignored, TRUE);
        if (r == WAIT_OBJECT_0) {
            result.outcome = CommEventOutcome::Stopped;
        } else {
            result.error = waitError;
            ::SetLastError(static_cast<DWORD>(waitError));
        }
        return result;
    }

private:
    bool ReturnsAtOnce() {
        COMMTIMEOUTS t{};
        return ::GetCommTimeouts(handle_, &t) && t.ReadIntervalTimeout == MAXDWORD &&
               t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    }

    // One overlapped transfer, phase by phase: start it, wait for it, then
    // either take its result or abort it.
    TransferResult Transfer(bool write, uint8_t* data, uint32_t count, Event* cancel,
                            std::atomic<uint8_t>* waiting) {
        HANDLE cancelHandle = nullptr;
        if (cancel != nullptr && (cancelHandle = win32::EventHandle(*cancel)) == nullptr) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return {TransferOutcome::Failed, 0, ERROR_INVALID_HANDLE};
        }
        TransferEvent event(transferEvents_[write ? 1 : 0]);
        if (event.get() == nullptr) {
            return {TransferOutcome::SetupFailed, 0, FailureCode()};
        }
        OVERLAPPED ov{};
        // The low bit set keeps the request's end off any completion port
        // (the device has none): without it Wine sends its server one more
        // request for every transfer that ends at once, a third of a byte's
        // round trips there. The system ignores the bit as a handle.
        ov.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event.get()) | 1);
        if (std::optional<TransferResult> ended = Start(write, data, count, ov)) {
            return *ended;
        }
        // Registered so that an aborting Purge can reach it; unregistered
        // before `ov` goes out of scope.
        PendingTransfer registration(*this, write ? pendingWrite_ : pendingRead_, &ov);
        int32_t waitError = 0;
        const DWORD r = AwaitCompletion(event.get(), cancelHandle, waiting, waitError);
        if (r == WAIT_OBJECT_0) {
            return Finish(ov);
        }
        return Abort(ov, r == WAIT_OBJECT_0 + 1, waitError);
    }

    // Issues the request. A result when it ended at once (done or refused);
    // nothing when it is pending.
    std::optional<TransferResult> Start(bool write, uint8_t* data, uint32_t count, OVERLAPPED& ov) {
        DWORD moved = 0;
        const BOOL done = write ? ::WriteFile(handle_, data, count, &moved, &ov)
                                : ::ReadFile(handle_, data, count, &moved, &ov);
        if (done) {
            return TransferResult{TransferOutcome::CompletedAtOnce, moved, 0};
        }
        if (::GetLastError() != ERROR_IO_PENDING) {
            return TransferResult{TransferOutcome::Failed, 0, FailureCode()};
        }
        return std::nullopt;
    }

    // Waits for the request to complete or the cancel event; the waiting
    // flag is up meanwhile.
    static DWORD AwaitCompletion(HANDLE done, HANDLE cancel, std::atomic<uint8_t>* waiting,
                                 int32_t& waitError) {
        if (waiting != nullptr) {
            waiting->store(1);
        }
        HANDLE handles[2] = {done, cancel};
        const DWORD r =
            ::WaitForMultipleObjects(cancel != nullptr ? 2 : 1, handles, FALSE, INFINITE);
        waitError = r == WAIT_FAILED ? FailureCode() : 0;
        if (waiting != nullptr) {
            waiting->store(0);
        }
        return r;
    }

    // The completed request's result. A comm timeout that expired is a
    // completion with a short count: Windows ends it that way, Wine with
    // ERROR_TIMEOUT, some drivers with ERROR_SEM_TIMEOUT.
    TransferResult Finish(OVERLAPPED& ov) {
        DWORD moved = 0;
        if (::GetOverlappedResult(handle_, &ov, &moved, TRUE)) {
            return {TransferOutcome::Completed, moved, 0};
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT) {
            ::SetLastError(0);
            return {TransferOutcome::Completed, moved, 0};
        }
        return {TransferOutcome::CompletionFailed, 0, FailureCode()};
    }

    // Cancelled or the wait failed: abort the request and wait until the
    // system no longer uses `ov` and the buffer before they go away. What it
    // moved before the abort is reported, so no byte goes unnoticed.
    TransferResult Abort(OVERLAPPED& ov, bool cancelled, int32_t waitError) {
        ::CancelIoEx(handle_, &ov);
        DWORD moved = 0;
        ::GetOverlappedResult(handle_, &ov, &moved, TRUE);
        if (cancelled) {
            ::SetLastError(ERROR_OPERATION_ABORTED);
            return {TransferOutcome::Cancelled, moved, ERROR_OPERATION_ABORTED};
        }
        const int32_t error = waitError != 0 ? waitError : ERROR_GEN_FAILURE;
        ::SetLastError(static_cast<DWORD>(error));
        return {TransferOutcome::WaitFailed, moved, error};
    }

    // A transfer in flight, known to Purge for as long as this lives.
    class PendingTransfer {
    public:
        PendingTransfer(Win32SerialDevice& device, OVERLAPPED*& slot, OVERLAPPED* ov)
            : device_(device), slot_(slot) {
            std::lock_guard lock(device_.pendingMutex_);
            slot_ = ov;
        }
        ~PendingTransfer() {
            std::lock_guard lock(device_.pendingMutex_);
            slot_ = nullptr;
        }
        PendingTransfer(const PendingTransfer&) = delete;
        PendingTransfer& operator=(const PendingTransfer&) = delete;

    private:
        Win32SerialDevice& device_;
        OVERLAPPED*& slot_;
    };

    HANDLE handle_;
    std::atomic<uint32_t> heldErrors_{0};
    std::mutex pendingMutex_;  // the transfers in flight, for Purge
    OVERLAPPED* pendingRead_ = nullptr;
    OVERLAPPED* pendingWrite_ = nullptr;
    KeptEvent transferEvents_[2];  // read, write
};

std::string PortName(uint8_t port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace

std::unique_ptr<SerialDevice> SerialDevice::Open(uint8_t port, int32_t& error) {
    if (auto url = NetworkPortOf(port)) return OpenNetworkPort(*url, error);
    const std::string name = PortName(port);
    HANDLE handle =
        ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = FailureCode();
        return nullptr;
    }
    error = 0;
    return std::make_unique<Win32SerialDevice>(handle);
}

bool SerialDevice::Present(uint8_t port) {
    if (auto url = NetworkPortOf(port)) return NetworkPortPresent(*url);
    // The device-namespace name: the bare "COMn" form reaches only COM1..COM9.
    const std::string name = PortName(port);
    HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(handle);
    return true;
}

std::string SerialDevice::DeviceName(uint8_t port) {
    if (NetworkPortOf(port)) return std::getenv(("VORIN_COM" + std::to_string(port)).c_str());
    return PortName(port);
}

void SleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace vorin::platform

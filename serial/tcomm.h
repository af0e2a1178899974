// The port object: one COM port opened for overlapped transfers, its device
// state, buffer sizes, comm timeouts and the two workers.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/serial_device.h"

namespace vorin::serial {

class TZdarzeniaCommThread;
class TZapisOdczytThread;

class TComm {
public:
    TComm();
    virtual ~TComm();
    TComm(const TComm&) = delete;
    TComm& operator=(const TComm&) = delete;

    int32_t Configure(uint8_t port, uint32_t speed, uint16_t writeTimeout, uint16_t readTimeout);
    int32_t Open();
    int32_t Close();
    // Close for a moment when no thread may be waited for (a Windows DLL's
    // unload, where the workers are already gone or cannot end): puts back
    // what the open changed and releases the device, and leaves the worker
    // objects to the end of the process instead of joining them.
    void CloseWithoutWaiting();
    bool IsOpen() const { return handle_ != nullptr; }

    // The platform seam: opens the device that the port object then owns.
    virtual int32_t OpenDevice();
    void ReleaseHandle();
    int32_t ApplyState();
    void SetFlowControl(platform::LineSettings& dcb);
    int32_t SetTimeouts(uint16_t writeTimeout, uint16_t readTimeout);
    int32_t PurgeOutput();
    int32_t PurgeInput();
    platform::SerialDevice* PortHandle() const { return handle_.get(); }

    // Run on the transfer worker. Both leave the ready event to the caller.
    uint32_t WriteBlock(const uint8_t* data);
    uint32_t ReadBlock(uint8_t* buffer, uint32_t count);
    // Run on the opening thread, handed over by the events worker.
    void DispatchEvents(TZdarzeniaCommThread& worker, uint32_t mask);
    virtual void LineEvent(uint32_t kind);
    // Acknowledges a line error that stopped the device (abort on error) and
    // records its texts; true when an error was pending. Run on the events
    // worker, or on the thread of a request that the device refused.
    bool RecoverFromLineError();

    // Settings (what Configure and the flat functions change).
    uint8_t port() const { return port_; }
    const std::string& deviceName() const { return deviceName_; }
    uint32_t speed = 0;
    int32_t parity = 2;
    int32_t stopBits = 0;
    int32_t byteSize = 8;
    int32_t inputBufferSize = 4096;
    int32_t outputBufferSize = 2048;
    uint16_t eventSet = 0x1FF;
    uint16_t writeTimeout = 0;
    uint16_t readTimeout = 0;
    uint32_t lineErrors = 0;
    const platform::CommTimeouts& timeouts() const { return timeouts_; }
    const platform::LineSettings& deviceState() const { return dcb_; }

protected:
    // For an OpenDevice of a derived class (tests put a device of their own).
    void UseDevice(std::unique_ptr<platform::SerialDevice> device) { handle_ = std::move(device); }

private:
    int32_t StartOpenPort();
    // Runs a communications request; if a line error arrived meanwhile and
    // made the device refuse it (995), acknowledges the error and runs it once
    // more.
    template <class Request>
    int32_t AfterLineErrorAgain(Request request);
    template <class Transfer>
    platform::TransferResult TransferAgainAfterLineError(Transfer transfer);
    void AbandonFailedOpen();
    bool BeginTransfer(platform::Event* request);

    std::unique_ptr<platform::SerialDevice> handle_;
    platform::LineSettings dcb_{};
    std::string deviceName_ = "Comm2";
    uint8_t port_ = 0;
    platform::CommTimeouts savedTimeouts_{};
    bool timeoutsSaved_ = false;  // only timeouts really read are put back
    platform::CommTimeouts timeouts_{};
    std::unique_ptr<TZdarzeniaCommThread> events_;
    std::unique_ptr<TZapisOdczytThread> transfer_;
};

// Parity code for a port object made while the selector is `selector`.
int32_t ParityFromSelector(uint8_t selector);

}  // namespace vorin::serial

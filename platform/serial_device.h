// The serial device as the port library needs it: an exclusively opened COM
// port with Windows-style device state, comm timeouts, purges, modem lines,
// comm events, and transfers that end on completion, on the comm timeouts or
// on a cancel event.
//
// Windows: CreateFileA("\\.\COMn", overlapped), DCB, COMMTIMEOUTS,
// ReadFile/WriteFile with OVERLAPPED, WaitCommEvent, EscapeCommFunction.
// POSIX: port n is the path in $VORIN_COM<n>, else /dev/ttyS<n-1>; termios,
// flock + TIOCEXCL, poll() on the device and the cancel event, TIOCM* ioctls.
// A pseudo-terminal has no modem lines and no parity: those calls fail with
// kErrNotSupported there, and a parity it cannot keep is accepted.
//
// Every int32_t result is 0 for success or a Windows system error code, and
// the same code is left in LastError().
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace vorin::platform {

class Event;

// The members of the device state (DCB) that the library sets; every other
// member keeps what the device had.
struct LineSettings {
    uint32_t baudRate = 0;
    uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
    uint8_t byteSize = 8;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    uint8_t dtrControl = 0;  // 0 disable, 1 enable, 2 handshake
    uint8_t rtsControl = 0;  // 0 disable, 1 enable, 2 handshake, 3 toggle
    bool outX = false;
    bool inX = false;
    bool abortOnError = false;
};

// COMMTIMEOUTS, in milliseconds.
struct CommTimeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

// Comm event kinds (EV_*).
enum : uint32_t {
    kEvRxChar = 0x01,
    kEvRxFlag = 0x02,
    kEvTxEmpty = 0x04,
    kEvCts = 0x08,
    kEvDsr = 0x10,
    kEvRlsd = 0x20,
    kEvBreak = 0x40,
    kEvErr = 0x80,
    kEvRing = 0x100,
};
// Line errors (CE_*).
enum : uint32_t {
    kCeRxOver = 0x01,
    kCeOverrun = 0x02,
    kCeRxParity = 0x04,
    kCeFrame = 0x08,
    kCeBreak = 0x10,
    kCeTxFull = 0x100,
};
// Purge flags (PURGE_*).
enum : uint32_t {
    kPurgeTxAbort = 0x01,
    kPurgeRxAbort = 0x02,
    kPurgeTxClear = 0x04,
    kPurgeRxClear = 0x08
};
// Modem input lines (MS_*_ON).
enum : uint32_t { kMsCts = 0x10, kMsDsr = 0x20, kMsRing = 0x40, kMsRlsd = 0x80 };

enum class LineControl { SetDtr, ClearDtr, SetRts, ClearRts, SetBreak, ClearBreak };

enum class TransferOutcome {
    CompletedAtOnce,  // ended without waiting; `bytes` moved
    Completed,        // ended after a wait; fewer bytes than asked: a comm timeout expired
    CompletionFailed,  // the pending transfer failed; kErrOperationAborted when a purge or close aborted it
    Cancelled,    // the cancel event ended the wait (the transfer is aborted)
    Failed,       // refused before it started (device gone, ...)
    WaitFailed,   // the wait itself failed
    SetupFailed,  // the completion event could not be created
};

struct TransferResult {
    TransferOutcome outcome = TransferOutcome::Failed;
    uint32_t bytes = 0;
    int32_t error = 0;
};

enum class CommEventOutcome { Fired, Stopped, Failed };

struct CommEventResult {
    CommEventOutcome outcome = CommEventOutcome::Failed;
    uint32_t mask = 0;  // EV_* bits that fired
    int32_t error = 0;
};

class SerialDevice {
public:
    // Opens COM port `port` for this process alone (no sharing; a port held
    // elsewhere gives kErrAccessDenied, a missing one kErrFileNotFound).
    static std::unique_ptr<SerialDevice> Open(uint8_t port, int32_t& error);
    // The presence test: can the port be opened exclusively right now? Opens
    // and closes it at once; leaves nothing behind.
    static bool Present(uint8_t port);
    // The system name of port n, for messages (\\.\COM3, /dev/ttyUSB0, ...).
    static std::string DeviceName(uint8_t port);

    virtual ~SerialDevice() = default;  // closes the device

    virtual bool IsCharacterDevice() = 0;
    virtual int32_t GetLineSettings(LineSettings& out) = 0;
    virtual int32_t SetLineSettings(const LineSettings& settings) = 0;
    virtual int32_t SetBufferSizes(uint32_t input, uint32_t output) = 0;
    virtual int32_t GetTimeouts(CommTimeouts& out) = 0;
    virtual int32_t SetTimeouts(const CommTimeouts& timeouts) = 0;
    // Clears the queues and/or aborts pending transfers (kPurge* flags).
    virtual int32_t Purge(uint32_t flags) = 0;
    virtual int32_t SetCommMask(uint32_t mask) = 0;
    virtual int32_t Escape(LineControl what) = 0;
    virtual int32_t GetModemStatus(uint32_t& msBits) = 0;
    // ClearCommError: hands out and clears the line errors (kCe* bits), so a
    // device that stops on errors goes on.
    virtual int32_t ClearErrors(uint32_t& ceBits) = 0;
    // True when the device reports its transmit side empty now; never waits.
    virtual bool TransmitEmpty() = 0;

    // One transfer of `count` bytes bounded by the comm timeouts, and ended
    // early by `cancel` when it is signalled, by an aborting Purge, or by the
    // device going away. `waiting` (may be null) is 1 while the transfer
    // waits for completion.
    virtual TransferResult Write(const uint8_t* data, uint32_t count, Event* cancel,
                                 std::atomic<uint8_t>* waiting) = 0;
    virtual TransferResult Read(uint8_t* data, uint32_t count, Event* cancel,
                                std::atomic<uint8_t>* waiting) = 0;

    // Waits for one of the comm events selected by SetCommMask, or until
    // `stop` is signalled.
    virtual CommEventResult WaitCommEvent(Event& stop) = 0;

protected:
    SerialDevice() = default;
};

// Sleeps the calling thread.
void SleepMs(uint32_t milliseconds);

}  // namespace vorin::platform

// The printer's side of the code page upload, byte by byte, with the faults a
// test can ask for. No I/O and no clock of its own: the caller feeds received
// bytes with the time they were taken off the line and sends what comes back.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_model.h"

namespace vorin::sim {

inline constexpr uint8_t kEsc = 0x1B;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kCmdWriteBlock = 0x01;
inline constexpr uint8_t kStatusOk = 0x00;
inline constexpr uint8_t kStatusCrcError = 0x01;
inline constexpr uint8_t kStatusVerifyError = 0x02;
// The printer's "out of range" status, which it also uses for article numbers.
inline constexpr uint8_t kStatusOutOfRange = 0x05;
// A status that the host reads two more bytes after.
inline constexpr uint8_t kStatusWithTwoBytes = 122;

inline constexpr unsigned kFirstBlock = 320;
inline constexpr unsigned kLastBlock = 463;
inline constexpr unsigned kBlockCount = kLastBlock - kFirstBlock + 1;  // 144
inline constexpr unsigned kBlockSize = 256;
inline constexpr unsigned kHalfSize = 130;  // two header/CRC bytes + 128 data bytes
inline constexpr unsigned kImageSize = kBlockCount * kBlockSize;  // 36,864
// Erased flash reads 0xFF; it also tells a block that never came from a blank one.
inline constexpr uint8_t kUnwritten = 0xFF;

// A status byte answered after the second half of a block instead of 0x00,
// `remaining` more times for that block. block == kAnyBlock: every block, each
// with its own count.
struct BlockStatusRule {
    static constexpr int kAnyBlock = -1;
    int block = kAnyBlock;
    unsigned times = 0;
    uint8_t status = 0;
};

struct Faults {
    std::optional<uint8_t> firstAnswer;  // instead of ACK
    uint64_t firstAnswerAt = 0;          // only for request n (1-based); 0: every request
    std::optional<uint8_t> halfStatus;   // instead of 0x00 after the first half
    int halfStatusBlock = BlockStatusRule::kAnyBlock;
    std::vector<BlockStatusRule> blockStatus;  // checked in the order given
    std::optional<uint64_t> silentAfter;       // received bytes
    std::optional<uint64_t> closeAfter;        // accepted blocks
};

struct Stats {
    uint64_t bytesReceived = 0;
    uint64_t bytesSent = 0;
    uint64_t requests = 0;        // ESC + command byte pairs
    uint64_t blocksAccepted = 0;  // answered 0x00 after the second half
    uint64_t hostCrcErrors = 0;   // the host's checksum was wrong
    uint64_t injected = 0;        // answers changed on request
    uint64_t unknownCommands = 0;
    uint64_t badBlockNumbers = 0;
    uint64_t shortRequests = 0;   // a half that stopped before 130 bytes
    uint64_t strayBytes = 0;      // bytes outside any request
    uint64_t connections = 0;     // counted by the caller
    uint64_t deviceCommands = 0;  // answered by the device model
};

enum class Verbosity { Quiet = 0, Normal = 1, Verbose = 2 };

// Lines without a trailing newline; the sink adds its own prefix.
using LogSink = std::function<void(const std::string&)>;

class Printer {
public:
    Printer(Faults faults, Verbosity verbosity, LogSink sink);

    // One byte from the host at time nowMs; answer bytes are appended to out.
    void Receive(uint8_t byte, int64_t nowMs, std::vector<uint8_t>& out);
    // The time at which a stalled request is given up, or -1 when none waits.
    int64_t Deadline() const;
    // Gives up a request that has waited past deadline().
    void Expire(int64_t nowMs);
    // The host closed the line: any request in progress is lost.
    void LineClosed();
    // Reports stray bytes gathered so far as one line.
    void FlushStray();

    // --close-after reached and the host has started to send again.
    bool CloseRequested() const { return closeRequested_; }
    // All 144 blocks are stored.
    bool Complete() const { return storedCount_ == kBlockCount; }
    bool Idle() const { return state_ == State::Idle; }
    unsigned StoredCount() const { return storedCount_; }
    const std::vector<uint8_t>& Image() const { return image_; }
    Stats& Statistics() { return stats_; }
    const Stats& Statistics() const { return stats_; }
    std::string Summary() const;

    // From now on the commands of `profile` are answered too (the device
    // model); without one every command but 0x01 is answered with NAK.
    void AttachDevice(PrinterProfile profile);
    DeviceModel* Device() { return device_.get(); }
    const DeviceModel* Device() const { return device_.get(); }

    // Called after the last block of a complete upload is stored, before its
    // status byte goes out, so a dump is on disk before the host sees success.
    std::function<void()> onUploadComplete;
    // Milliseconds of silence inside a request after which it is dropped.
    int64_t gapTimeoutMs = 2000;

private:
    enum class State { Idle, Command, FirstHalf, SecondHalf, Device };

    void Log(Verbosity level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void Answer(uint8_t byte, std::vector<uint8_t>& out);
    void OnCommand(uint8_t command, std::vector<uint8_t>& out);
    void OnFirstHalf(std::vector<uint8_t>& out);
    void OnSecondHalf(std::vector<uint8_t>& out);
    void DropRequest(const char* why);

    Faults faults_;
    Verbosity verbosity_;
    LogSink sink_;
    Stats stats_;
    State state_ = State::Idle;
    int64_t lastByteMs_ = 0;
    std::vector<uint8_t> half_;                    // bytes of the half being received
    unsigned block_ = 0;                           // block number of the request in progress
    std::vector<uint8_t> first_;                   // the accepted first half of that block
    std::vector<std::vector<unsigned>> ruleLeft_;  // per rule, per block
    std::vector<uint8_t> image_;
    std::vector<bool> stored_;
    unsigned storedCount_ = 0;
    uint64_t strayRun_ = 0;
    uint8_t strayFirst_ = 0;
    bool closeRequested_ = false;
    std::unique_ptr<DeviceModel> device_;
    std::vector<uint8_t> deviceOut_;
};

}  // namespace vorin::sim

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
    std::optional<uint8_t> first_answer;  // instead of ACK
    uint64_t first_answer_at = 0;         // only for request n (1-based); 0: every request
    std::optional<uint8_t> half_status;   // instead of 0x00 after the first half
    int half_status_block = BlockStatusRule::kAnyBlock;
    std::vector<BlockStatusRule> block_status;  // checked in the order given
    std::optional<uint64_t> silent_after;       // received bytes
    std::optional<uint64_t> close_after;        // accepted blocks
};

struct Stats {
    uint64_t bytes_received = 0;
    uint64_t bytes_sent = 0;
    uint64_t requests = 0;         // ESC + command byte pairs
    uint64_t blocks_accepted = 0;  // answered 0x00 after the second half
    uint64_t host_crc_errors = 0;  // the host's checksum was wrong
    uint64_t injected = 0;         // answers changed on request
    uint64_t unknown_commands = 0;
    uint64_t bad_block_numbers = 0;
    uint64_t short_requests = 0;   // a half that stopped before 130 bytes
    uint64_t stray_bytes = 0;      // bytes outside any request
    uint64_t connections = 0;      // counted by the caller
    uint64_t device_commands = 0;  // answered by the device model
};

enum class Verbosity { kQuiet = 0, kNormal = 1, kVerbose = 2 };

// Lines without a trailing newline; the sink adds its own prefix.
using LogSink = std::function<void(const std::string&)>;

class Printer {
public:
    Printer(Faults faults, Verbosity verbosity, LogSink sink);

    // One byte from the host at time now_ms; answer bytes are appended to out.
    void receive(uint8_t byte, int64_t now_ms, std::vector<uint8_t>& out);
    // The time at which a stalled request is given up, or -1 when none waits.
    int64_t deadline() const;
    // Gives up a request that has waited past deadline().
    void expire(int64_t now_ms);
    // The host closed the line: any request in progress is lost.
    void line_closed();
    // Reports stray bytes gathered so far as one line.
    void flush_stray();

    // --close-after reached and the host has started to send again.
    bool close_requested() const { return close_requested_; }
    // All 144 blocks are stored.
    bool complete() const { return stored_count_ == kBlockCount; }
    bool idle() const { return state_ == State::kIdle; }
    unsigned stored_count() const { return stored_count_; }
    const std::vector<uint8_t>& image() const { return image_; }
    Stats& stats() { return stats_; }
    const Stats& stats() const { return stats_; }
    std::string summary() const;

    // From now on the commands of `profile` are answered too (the device
    // model); without one every command but 0x01 is answered with NAK.
    void attach_device(PrinterProfile profile);
    DeviceModel* device() { return device_.get(); }
    const DeviceModel* device() const { return device_.get(); }

    // Called after the last block of a complete upload is stored, before its
    // status byte goes out, so a dump is on disk before the host sees success.
    std::function<void()> on_upload_complete;
    // Milliseconds of silence inside a request after which it is dropped.
    int64_t gap_timeout_ms = 2000;

private:
    enum class State { kIdle, kCommand, kFirstHalf, kSecondHalf, kDevice };

    void log(Verbosity level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void answer(uint8_t byte, std::vector<uint8_t>& out);
    void on_command(uint8_t command, std::vector<uint8_t>& out);
    void on_first_half(std::vector<uint8_t>& out);
    void on_second_half(std::vector<uint8_t>& out);
    void drop_request(const char* why);

    Faults faults_;
    Verbosity verbosity_;
    LogSink sink_;
    Stats stats_;
    State state_ = State::kIdle;
    int64_t last_byte_ms_ = 0;
    std::vector<uint8_t> half_;                     // bytes of the half being received
    unsigned block_ = 0;                            // block number of the request in progress
    std::vector<uint8_t> first_;                    // the accepted first half of that block
    std::vector<std::vector<unsigned>> rule_left_;  // per rule, per block
    std::vector<uint8_t> image_;
    std::vector<bool> stored_;
    unsigned stored_count_ = 0;
    uint64_t stray_run_ = 0;
    uint8_t stray_first_ = 0;
    bool close_requested_ = false;
    std::unique_ptr<DeviceModel> device_;
    std::vector<uint8_t> device_out_;
};

}  // namespace vorin::sim

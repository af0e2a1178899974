// The multiplexer in front of the simulated printer (vorin-sim --mux): takes
// "BRAXO" request frames byte by byte, checks them as a real multiplexer
// does, forwards a printer request's plain bytes to the printer and answers
// with a frame holding the printer's answer; answers its own service
// requests; and injects the faults a test asks for. No I/O and no clock of
// its own, like the printer.
//
// Written apart from the link's frame code (its own group decoder, its own
// checksum from sim/crc16.h) so that it catches the link's mistakes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vorin::sim {

struct MuxFaults {
    unsigned bad_checksum = 0;             // corrupt the checksum of the next N answers
    std::optional<uint8_t> control;        // answer with this control code instead ...
    unsigned control_times = 0;            // ... the next N times (requests not forwarded)
    unsigned split_times = 0;              // split the next N printer answers in two
    std::optional<unsigned> split_at;      // bytes in the first piece; default half
    unsigned garbage = 0;                  // bytes of noise before every answer frame
    std::optional<uint64_t> silent_after;  // answer frames; then nothing more
};

struct MuxStats {
    uint64_t frames = 0;       // request frames taken in whole
    uint64_t bad_frames = 0;   // checksum or length code wrong (answered code 1)
    uint64_t stray_bytes = 0;  // bytes outside any frame
    uint64_t printer_requests = 0;
    uint64_t services[9] = {};  // by type 1..8; [0] unknown types
    uint64_t answers = 0;       // answer frames sent
    uint64_t injected = 0;      // answers changed on request
    uint64_t wrong_code = 0;    // service 3 with another code than ours
    int last_channel = -1;      // printer channel of the last printer request
    int last_at_19200 = -1;     // its speed bit
};

class Multiplexer {
public:
    // Feeds one byte to the printer at time now_ms; its answer bytes go to out.
    using Forward = std::function<void(uint8_t byte, int64_t now_ms, std::vector<uint8_t>& out)>;
    using LogSink = std::function<void(const std::string&)>;

    Multiplexer(MuxFaults faults, Forward printer, LogSink log, bool verbose);

    // One byte from the host; answer bytes are appended to out.
    void receive(uint8_t byte, int64_t now_ms, std::vector<uint8_t>& out);
    // The host closed the line: a frame in progress is lost.
    void line_closed();

    // Settings that services change or report.
    std::string identification = "VORIN-MUX-01";  // 12 characters
    std::string code = "00000000";                // 8 characters, service 2 changes it
    uint16_t write_timeout = 0;                   // service 4
    uint16_t read_timeout = 0;                    // service 5
    uint8_t service_byte = 0;                     // service 7
    // Milliseconds of silence inside a frame after which it is dropped.
    int64_t gap_timeout_ms = 2000;

    const MuxStats& stats() const { return stats_; }
    std::string summary() const;

private:
    void on_frame(int64_t now_ms, std::vector<uint8_t>& out);
    void printer_request(const std::vector<uint8_t>& frame, int64_t now_ms,
                         std::vector<uint8_t>& out);
    void service(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out);
    void answer(uint8_t control, const std::vector<uint8_t>& payload, std::vector<uint8_t>& out);
    void send(std::vector<uint8_t> frame, std::vector<uint8_t>& out);
    void log(const std::string& line) const;

    MuxFaults faults_;
    Forward printer_;
    LogSink log_;
    bool verbose_;
    MuxStats stats_;
    std::vector<uint8_t> wire_;  // bytes of the frame being received
    size_t id_matched_ = 0;
    int64_t last_byte_ms_ = 0;
    std::vector<uint8_t> last_answer_;  // as sent, for service 6
    std::vector<uint8_t> second_piece_;
    bool second_piece_pending_ = false;
    bool whole_first_piece_ = false;  // control code 8 injected for this request
};

// Encodes logical bytes into an answer frame ("BRAXO", groups of 7, length
// code first and checksum last are added here). Exposed for the tests.
std::vector<uint8_t> mux_answer_frame(uint8_t control, const std::vector<uint8_t>& payload);

}  // namespace vorin::sim

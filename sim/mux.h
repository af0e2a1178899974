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
    unsigned badChecksum = 0;             // corrupt the checksum of the next N answers
    std::optional<uint8_t> control;       // answer with this control code instead ...
    unsigned controlTimes = 0;            // ... the next N times (requests not forwarded)
    unsigned splitTimes = 0;              // split the next N printer answers in two
    std::optional<unsigned> splitAt;      // bytes in the first piece; default half
    unsigned garbage = 0;                 // bytes of noise before every answer frame
    std::optional<uint64_t> silentAfter;  // answer frames; then nothing more
};

struct MuxStats {
    uint64_t frames = 0;      // request frames taken in whole
    uint64_t badFrames = 0;   // checksum or length code wrong (answered code 1)
    uint64_t strayBytes = 0;  // bytes outside any frame
    uint64_t printerRequests = 0;
    uint64_t services[9] = {};  // by type 1..8; [0] unknown types
    uint64_t answers = 0;       // answer frames sent
    uint64_t injected = 0;      // answers changed on request
    uint64_t wrongCode = 0;     // service 3 with another code than ours
    int lastChannel = -1;       // printer channel of the last printer request
    int lastAt19200 = -1;       // its speed bit
};

class Multiplexer {
public:
    // Feeds one byte to the printer at time nowMs; its answer bytes go to out.
    using Forward = std::function<void(uint8_t byte, int64_t nowMs, std::vector<uint8_t>& out)>;
    using LogSink = std::function<void(const std::string&)>;

    Multiplexer(MuxFaults faults, Forward printer, LogSink log, bool verbose);

    // One byte from the host; answer bytes are appended to out.
    void Receive(uint8_t byte, int64_t nowMs, std::vector<uint8_t>& out);
    // The host closed the line: a frame in progress is lost.
    void LineClosed();

    // Settings that services change or report.
    std::string identification = "VORIN-MUX-01";  // 12 characters
    std::string code = "00000000";                // 8 characters, service 2 changes it
    uint16_t writeTimeout = 0;                    // service 4
    uint16_t readTimeout = 0;                     // service 5
    uint8_t serviceByte = 0;                      // service 7
    // Milliseconds of silence inside a frame after which it is dropped.
    int64_t gapTimeoutMs = 2000;

    const MuxStats& Stats() const { return stats_; }
    std::string Summary() const;

private:
    void OnFrame(int64_t nowMs, std::vector<uint8_t>& out);
    void PrinterRequest(const std::vector<uint8_t>& frame, int64_t nowMs,
                        std::vector<uint8_t>& out);
    void Service(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out);
    void Answer(uint8_t control, const std::vector<uint8_t>& payload, std::vector<uint8_t>& out);
    void Send(std::vector<uint8_t> frame, std::vector<uint8_t>& out);
    void Log(const std::string& line) const;

    MuxFaults faults_;
    Forward printer_;
    LogSink log_;
    bool verbose_;
    MuxStats stats_;
    std::vector<uint8_t> wire_;  // bytes of the frame being received
    size_t idMatched_ = 0;
    int64_t lastByteMs_ = 0;
    std::vector<uint8_t> lastAnswer_;  // as sent, for service 6
    std::vector<uint8_t> secondPiece_;
    bool secondPiecePending_ = false;
    bool wholeFirstPiece_ = false;  // control code 8 injected for this request
};

// Encodes logical bytes into an answer frame ("BRAXO", groups of 7, length
// code first and checksum last are added here). Exposed for the tests.
std::vector<uint8_t> MuxAnswerFrame(uint8_t control, const std::vector<uint8_t>& payload);

}  // namespace vorin::sim

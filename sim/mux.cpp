#include "sim/mux.h"

#include <cstdio>

#include "sim/crc16.h"
#include "sim/printer.h"

namespace vorin::sim {

namespace {

const char kId[] = "BRAXO";
constexpr size_t kIdSize = 5;
constexpr uint8_t kPrinterRequestBit = 0x20;
constexpr uint8_t kAckFirstBit = 0x10;
constexpr uint8_t kStatusAsItComesBit = 0x40;
constexpr uint8_t kCodeRequestBit = 0x10;  // in an answer: "send me the code"
constexpr uint8_t kControlRepeatRequest = 1;
constexpr uint8_t kControlUnknown = 2;
constexpr uint8_t kControlPrinterTimeout = 6;
constexpr uint8_t kControlPiece = 8;
// Smallest request: length code, control, three lengths, two checksum bytes.
constexpr size_t kMinRequestLogical = 7;
const uint8_t kNoise[] = {0x00, 0xFF, 'B', 'R', 'A', 'X', 0x55};

size_t WireSize(size_t logical) { return logical + (logical + 6) / 7; }

// Group code, one bit at a time: every wire byte has bit 7 set; a group's
// header holds the top bits of the (up to) seven bytes that follow it.
std::vector<uint8_t> Encode(const std::vector<uint8_t>& logical) {
    std::vector<uint8_t> wire;
    size_t headerAt = 0;
    for (size_t i = 0; i < logical.size(); ++i) {
        const size_t slot = i % 7;
        if (slot == 0) {
            headerAt = wire.size();
            wire.push_back(0x80);
        }
        if (logical[i] >= 0x80)
            wire[headerAt] = static_cast<uint8_t>(wire[headerAt] | (1u << (6 - slot)));
        wire.push_back(static_cast<uint8_t>(logical[i] | 0x80));
    }
    return wire;
}

// false when a byte lacks its top bit (a real multiplexer would not take it).
bool Decode(const std::vector<uint8_t>& wire, std::vector<uint8_t>& logical) {
    logical.clear();
    uint8_t header = 0;
    for (size_t i = 0; i < wire.size(); ++i) {
        if ((wire[i] & 0x80) == 0) return false;
        const size_t slot = i % 8;
        if (slot == 0) {
            header = wire[i];
            continue;
        }
        const bool top = (header >> (7 - slot)) & 1;
        logical.push_back(static_cast<uint8_t>((wire[i] & 0x7F) | (top ? 0x80 : 0)));
    }
    return true;
}

// Takes the answer of one phase out of what the printer said: a first byte,
// then up to count - 1 more; a record list ends at a 0xFF that starts a record.
std::vector<uint8_t> Take(const std::vector<uint8_t>& said, size_t count, uint8_t record) {
    std::vector<uint8_t> taken;
    for (size_t i = 0; i < said.size() && taken.size() < count; ++i) {
        taken.push_back(said[i]);
        const size_t afterFirst = taken.size() - 1;
        if (record && afterFirst >= 1 && said[i] == 0xFF && afterFirst % record == 1) break;
    }
    return taken;
}

bool Refusal(uint8_t ack) { return ack == kNak || ack == 0x01 || ack == 0x65 || ack == 0xC8; }

}  // namespace

std::vector<uint8_t> MuxAnswerFrame(uint8_t control, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> logical;
    logical.push_back(static_cast<uint8_t>(WireSize(payload.size() + 4)));
    logical.push_back(control);
    logical.insert(logical.end(), payload.begin(), payload.end());
    const uint16_t crc = Crc16Arc(logical.data(), logical.size());
    logical.push_back(static_cast<uint8_t>(crc & 0xFF));
    logical.push_back(static_cast<uint8_t>(crc >> 8));
    std::vector<uint8_t> frame(kId, kId + kIdSize);
    const std::vector<uint8_t> wire = Encode(logical);
    frame.insert(frame.end(), wire.begin(), wire.end());
    return frame;
}

Multiplexer::Multiplexer(MuxFaults faults, Forward printer, LogSink log, bool verbose)
    : faults_(std::move(faults)),
      printer_(std::move(printer)),
      log_(std::move(log)),
      verbose_(verbose) {}

void Multiplexer::Log(const std::string& line) const {
    if (log_) log_("mux: " + line);
}

void Multiplexer::LineClosed() {
    wire_.clear();
    idMatched_ = 0;
    secondPiecePending_ = false;
}

void Multiplexer::Receive(uint8_t byte, int64_t nowMs, std::vector<uint8_t>& out) {
    if (idMatched_ > 0 && nowMs - lastByteMs_ > gapTimeoutMs) {
        Log("error: a frame stopped after " + std::to_string(idMatched_ + wire_.size()) +
            " bytes; dropped");
        ++stats_.badFrames;
        LineClosed();
    }
    lastByteMs_ = nowMs;
    if (idMatched_ < kIdSize) {
        if (static_cast<char>(byte) == kId[idMatched_]) {
            ++idMatched_;
        } else {
            stats_.strayBytes += idMatched_ + (byte == 'B' ? 0 : 1);
            idMatched_ = byte == 'B' ? 1 : 0;
        }
        return;
    }
    wire_.push_back(byte);
    if (wire_.size() < 2) return;
    const size_t length = (wire_[1] & 0x7Fu) | ((wire_[0] & 0x40u) << 1);
    if (length < WireSize(kMinRequestLogical)) {
        ++stats_.badFrames;
        Log("error: length code " + std::to_string(length) +
            " is too small; asked for the request again");
        LineClosed();
        Answer(kControlRepeatRequest, {}, out);
        return;
    }
    if (wire_.size() < length) return;
    OnFrame(nowMs, out);
    wire_.clear();
    idMatched_ = 0;
}

void Multiplexer::OnFrame(int64_t nowMs, std::vector<uint8_t>& out) {
    std::vector<uint8_t> logical;
    bool sound = Decode(wire_, logical) && logical.size() >= kMinRequestLogical;
    if (sound) {
        const size_t n = logical.size();
        const uint16_t crc = Crc16Arc(logical.data(), n - 2);
        sound = crc == (logical[n - 2] | logical[n - 1] << 8) && logical[0] == wire_.size();
    }
    if (!sound) {
        ++stats_.badFrames;
        Log("error: a request frame failed its checks (top bits, length or checksum); asked for it "
            "again");
        Answer(kControlRepeatRequest, {}, out);
        return;
    }
    ++stats_.frames;
    const bool printerRequestFrame = (logical[1] & kPrinterRequestBit) != 0;
    if (faults_.controlTimes > 0 && printerRequestFrame) {
        --faults_.controlTimes;
        ++stats_.injected;
        char text[96];
        std::snprintf(text, sizeof text, "answered control code 0x%02X (--mux-control, %u more)",
                      *faults_.control, faults_.controlTimes);
        Log(text);
        if (*faults_.control == kControlPiece) {
            // The whole answer in a first piece; the second one is empty.
            // For this answer only: a --mux-split of its own keeps its point.
            ++faults_.splitTimes;
            wholeFirstPiece_ = true;
        } else {
            Answer(*faults_.control, {}, out);
            return;
        }
    }
    if (printerRequestFrame)
        PrinterRequest(logical, nowMs, out);
    else
        Service(logical, out);
}

void Multiplexer::PrinterRequest(const std::vector<uint8_t>& frame, int64_t nowMs,
                                 std::vector<uint8_t>& out) {
    ++stats_.printerRequests;
    const uint8_t control = frame[1];
    const uint8_t ackLength = frame[2];
    const uint8_t statusLength = frame[3];
    const uint8_t record = frame[4];
    stats_.lastChannel = (control & 0x07) + 1;
    stats_.lastAt19200 = (control & 0x08) ? 1 : 0;
    const std::vector<uint8_t> bytes(frame.begin() + 5, frame.end() - 2);

    auto feed = [&](size_t from, size_t to) {
        std::vector<uint8_t> said;
        for (size_t i = from; i < to; ++i) printer_(bytes[i], nowMs, said);
        return said;
    };
    std::vector<uint8_t> payload;
    size_t bodyFrom = 0;
    if ((control & kAckFirstBit) && bytes.size() >= 2) {
        // ESC and the command, then the acknowledgement before the body.
        const std::vector<uint8_t> ack = Take(feed(0, 2), ackLength, record);
        payload = ack;
        if (ack.empty()) return Answer(kControlPrinterTimeout, {}, out);
        if (Refusal(ack[0])) return Answer(0, payload, out);
        bodyFrom = 2;
    }
    const std::vector<uint8_t> said = feed(bodyFrom, bytes.size());
    if (bodyFrom == 0 && ackLength > 0) {
        const std::vector<uint8_t> ack = Take(said, ackLength, record);
        payload = ack;
        if (ack.size() < said.size()) {
            const std::vector<uint8_t> rest(said.begin() + static_cast<long>(ack.size()),
                                            said.end());
            const std::vector<uint8_t> status = Take(rest, statusLength, record);
            payload.insert(payload.end(), status.begin(), status.end());
        }
    } else if (statusLength > 0) {
        std::vector<uint8_t> status = Take(said, statusLength, record);
        // A refusing status ends the answer unless the status is data.
        if (!status.empty() && status[0] != 0 && !(control & kStatusAsItComesBit)) status.resize(1);
        payload.insert(payload.end(), status.begin(), status.end());
    }
    if (payload.empty() && ackLength + statusLength > 0)
        return Answer(kControlPrinterTimeout, {}, out);

    if (faults_.splitTimes > 0) {
        --faults_.splitTimes;
        ++stats_.injected;
        size_t at =
            wholeFirstPiece_ ? payload.size() : faults_.splitAt.value_or((payload.size() + 1) / 2);
        wholeFirstPiece_ = false;
        if (at > payload.size()) at = payload.size();
        secondPiece_.assign(payload.begin() + static_cast<long>(at), payload.end());
        secondPiecePending_ = true;
        payload.resize(at);
        Log("answer split after " + std::to_string(at) + " bytes (--mux-split)");
        return Answer(kControlPiece, payload, out);
    }
    Answer(0, payload, out);
}

void Multiplexer::Service(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out) {
    const bool hasType = frame.size() > kMinRequestLogical;
    const uint8_t type = hasType ? frame[5] : 0;
    const std::vector<uint8_t> body(frame.begin() + (hasType ? 6 : 5), frame.end() - 2);
    const unsigned index = hasType && type >= 1 && type <= 8 ? type : 0;
    ++stats_.services[index];
    if (verbose_) Log("service " + std::to_string(type));
    switch (index) {
    case 1:
        return Answer(0, std::vector<uint8_t>(identification.begin(), identification.end()), out);
    case 2:
        if (body.size() != 8) break;
        code.assign(body.begin(), body.end());
        Log("code changed to '" + code + "'");
        return Answer(0, {}, out);
    case 3:
        if (body.size() == 8 && std::string(body.begin(), body.end()) == code)
            return Answer(0, {}, out);
        ++stats_.wrongCode;
        Log("error: service 3 brought another code than '" + code + "'; asked again");
        return Answer(kCodeRequestBit, {}, out);
    case 4:
    case 5:
        if (body.size() != 2) break;
        (index == 4 ? writeTimeout : readTimeout) = static_cast<uint16_t>(body[0] | body[1] << 8);
        return Answer(0, {}, out);
    case 6:
        if (lastAnswer_.empty()) return Answer(0, {}, out);
        return Send(lastAnswer_, out);
    case 7:
        if (body.size() != 1) break;
        serviceByte = body[0];
        return Answer(0, {}, out);
    case 8: {
        std::vector<uint8_t> piece;
        if (secondPiecePending_) piece.swap(secondPiece_);
        secondPiecePending_ = false;
        return Answer(kControlPiece, piece, out);
    }
    default: break;
    }
    Log("error: service " + std::to_string(type) + " with a body of " +
        std::to_string(body.size()) + " bytes is not known; answered control code 2");
    Answer(kControlUnknown, {}, out);
}

void Multiplexer::Answer(uint8_t control, const std::vector<uint8_t>& payload,
                         std::vector<uint8_t>& out) {
    lastAnswer_ = MuxAnswerFrame(control, payload);
    Send(lastAnswer_, out);
}

void Multiplexer::Send(std::vector<uint8_t> frame, std::vector<uint8_t>& out) {
    if (faults_.silentAfter && stats_.answers >= *faults_.silentAfter) {
        if (verbose_) Log("silent: answer frame not sent (--mux-silent-after)");
        return;
    }
    ++stats_.answers;
    if (faults_.badChecksum > 0) {
        --faults_.badChecksum;
        ++stats_.injected;
        // The last wire byte carries the checksum's high byte: flip a data bit.
        frame.back() ^= 0x01;
        Log("answer checksum corrupted (--mux-bad-checksum, " +
            std::to_string(faults_.badChecksum) + " more)");
    }
    for (unsigned i = 0; i < faults_.garbage; ++i) out.push_back(kNoise[i % sizeof kNoise]);
    out.insert(out.end(), frame.begin(), frame.end());
}

std::string Multiplexer::Summary() const {
    std::string services;
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict
    // overlap inside operator+ on a temporary string.
    for (int t = 1; t <= 8; ++t) {
        if (t > 1) services += ',';
        services += std::to_string(stats_.services[t]);
    }
    char line[512];
    std::snprintf(line, sizeof line,
                  "mux summary: frames=%llu bad_frames=%llu stray_bytes=%llu printer_requests=%llu "
                  "services=%s unknown_services=%llu answers=%llu injected=%llu wrong_code=%llu "
                  "channel=%d at_19200=%d",
                  static_cast<unsigned long long>(stats_.frames),
                  static_cast<unsigned long long>(stats_.badFrames),
                  static_cast<unsigned long long>(stats_.strayBytes),
                  static_cast<unsigned long long>(stats_.printerRequests), services.c_str(),
                  static_cast<unsigned long long>(stats_.services[0]),
                  static_cast<unsigned long long>(stats_.answers),
                  static_cast<unsigned long long>(stats_.injected),
                  static_cast<unsigned long long>(stats_.wrongCode), stats_.lastChannel,
                  stats_.lastAt19200);
    return line;
}

}  // namespace vorin::sim

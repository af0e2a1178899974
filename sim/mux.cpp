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

size_t wire_size(size_t logical) { return logical + (logical + 6) / 7; }

// Group code, one bit at a time: every wire byte has bit 7 set; a group's
// header holds the top bits of the (up to) seven bytes that follow it.
std::vector<uint8_t> encode(const std::vector<uint8_t>& logical) {
    std::vector<uint8_t> wire;
    size_t header_at = 0;
    for (size_t i = 0; i < logical.size(); ++i) {
        const size_t slot = i % 7;
        if (slot == 0) {
            header_at = wire.size();
            wire.push_back(0x80);
        }
        if (logical[i] >= 0x80)
            wire[header_at] = static_cast<uint8_t>(wire[header_at] | (1u << (6 - slot)));
        wire.push_back(static_cast<uint8_t>(logical[i] | 0x80));
    }
    return wire;
}

// false when a byte lacks its top bit (a real multiplexer would not take it).
bool decode(const std::vector<uint8_t>& wire, std::vector<uint8_t>& logical) {
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
std::vector<uint8_t> take(const std::vector<uint8_t>& said, size_t count, uint8_t record) {
    std::vector<uint8_t> taken;
    for (size_t i = 0; i < said.size() && taken.size() < count; ++i) {
        taken.push_back(said[i]);
        const size_t after_first = taken.size() - 1;
        if (record && after_first >= 1 && said[i] == 0xFF && after_first % record == 1) break;
    }
    return taken;
}

bool refusal(uint8_t ack) { return ack == kNak || ack == 0x01 || ack == 0x65 || ack == 0xC8; }

}  // namespace

std::vector<uint8_t> mux_answer_frame(uint8_t control, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> logical;
    logical.push_back(static_cast<uint8_t>(wire_size(payload.size() + 4)));
    logical.push_back(control);
    logical.insert(logical.end(), payload.begin(), payload.end());
    const uint16_t crc = crc16_arc(logical.data(), logical.size());
    logical.push_back(static_cast<uint8_t>(crc & 0xFF));
    logical.push_back(static_cast<uint8_t>(crc >> 8));
    std::vector<uint8_t> frame(kId, kId + kIdSize);
    const std::vector<uint8_t> wire = encode(logical);
    frame.insert(frame.end(), wire.begin(), wire.end());
    return frame;
}

Multiplexer::Multiplexer(MuxFaults faults, Forward printer, LogSink log, bool verbose)
    : faults_(std::move(faults)),
      printer_(std::move(printer)),
      log_(std::move(log)),
      verbose_(verbose) {}

void Multiplexer::log(const std::string& line) const {
    if (log_) log_("mux: " + line);
}

void Multiplexer::line_closed() {
    wire_.clear();
    id_matched_ = 0;
    second_piece_pending_ = false;
}

void Multiplexer::receive(uint8_t byte, int64_t now_ms, std::vector<uint8_t>& out) {
    if (id_matched_ > 0 && now_ms - last_byte_ms_ > gap_timeout_ms) {
        log("error: a frame stopped after " + std::to_string(id_matched_ + wire_.size()) +
            " bytes; dropped");
        ++stats_.bad_frames;
        line_closed();
    }
    last_byte_ms_ = now_ms;
    if (id_matched_ < kIdSize) {
        if (static_cast<char>(byte) == kId[id_matched_]) {
            ++id_matched_;
        } else {
            stats_.stray_bytes += id_matched_ + (byte == 'B' ? 0 : 1);
            id_matched_ = byte == 'B' ? 1 : 0;
        }
        return;
    }
    wire_.push_back(byte);
    if (wire_.size() < 2) return;
    const size_t length = (wire_[1] & 0x7Fu) | ((wire_[0] & 0x40u) << 1);
    if (length < wire_size(kMinRequestLogical)) {
        ++stats_.bad_frames;
        log("error: length code " + std::to_string(length) +
            " is too small; asked for the request again");
        line_closed();
        answer(kControlRepeatRequest, {}, out);
        return;
    }
    if (wire_.size() < length) return;
    on_frame(now_ms, out);
    wire_.clear();
    id_matched_ = 0;
}

void Multiplexer::on_frame(int64_t now_ms, std::vector<uint8_t>& out) {
    std::vector<uint8_t> logical;
    bool sound = decode(wire_, logical) && logical.size() >= kMinRequestLogical;
    if (sound) {
        const size_t n = logical.size();
        const uint16_t crc = crc16_arc(logical.data(), n - 2);
        sound = crc == (logical[n - 2] | logical[n - 1] << 8) && logical[0] == wire_.size();
    }
    if (!sound) {
        ++stats_.bad_frames;
        log("error: a request frame failed its checks (top bits, length or checksum); asked for it "
            "again");
        answer(kControlRepeatRequest, {}, out);
        return;
    }
    ++stats_.frames;
    const bool printer_request_frame = (logical[1] & kPrinterRequestBit) != 0;
    if (faults_.control_times > 0 && printer_request_frame) {
        --faults_.control_times;
        ++stats_.injected;
        char text[96];
        std::snprintf(text, sizeof text, "answered control code 0x%02X (--mux-control, %u more)",
                      *faults_.control, faults_.control_times);
        log(text);
        if (*faults_.control == kControlPiece) {
            // The whole answer in a first piece; the second one is empty.
            // For this answer only: a --mux-split of its own keeps its point.
            ++faults_.split_times;
            whole_first_piece_ = true;
        } else {
            answer(*faults_.control, {}, out);
            return;
        }
    }
    if (printer_request_frame)
        printer_request(logical, now_ms, out);
    else
        service(logical, out);
}

void Multiplexer::printer_request(const std::vector<uint8_t>& frame, int64_t now_ms,
                                  std::vector<uint8_t>& out) {
    ++stats_.printer_requests;
    const uint8_t control = frame[1];
    const uint8_t ack_length = frame[2];
    const uint8_t status_length = frame[3];
    const uint8_t record = frame[4];
    stats_.last_channel = (control & 0x07) + 1;
    stats_.last_at_19200 = (control & 0x08) ? 1 : 0;
    const std::vector<uint8_t> bytes(frame.begin() + 5, frame.end() - 2);

    auto feed = [&](size_t from, size_t to) {
        std::vector<uint8_t> said;
        for (size_t i = from; i < to; ++i) printer_(bytes[i], now_ms, said);
        return said;
    };
    std::vector<uint8_t> payload;
    size_t body_from = 0;
    if ((control & kAckFirstBit) && bytes.size() >= 2) {
        // ESC and the command, then the acknowledgement before the body.
        const std::vector<uint8_t> ack = take(feed(0, 2), ack_length, record);
        payload = ack;
        if (ack.empty()) return answer(kControlPrinterTimeout, {}, out);
        if (refusal(ack[0])) return answer(0, payload, out);
        body_from = 2;
    }
    const std::vector<uint8_t> said = feed(body_from, bytes.size());
    if (body_from == 0 && ack_length > 0) {
        const std::vector<uint8_t> ack = take(said, ack_length, record);
        payload = ack;
        if (ack.size() < said.size()) {
            const std::vector<uint8_t> rest(said.begin() + static_cast<long>(ack.size()),
                                            said.end());
            const std::vector<uint8_t> status = take(rest, status_length, record);
            payload.insert(payload.end(), status.begin(), status.end());
        }
    } else if (status_length > 0) {
        std::vector<uint8_t> status = take(said, status_length, record);
        // A refusing status ends the answer unless the status is data.
        if (!status.empty() && status[0] != 0 && !(control & kStatusAsItComesBit)) status.resize(1);
        payload.insert(payload.end(), status.begin(), status.end());
    }
    if (payload.empty() && ack_length + status_length > 0)
        return answer(kControlPrinterTimeout, {}, out);

    if (faults_.split_times > 0) {
        --faults_.split_times;
        ++stats_.injected;
        size_t at = whole_first_piece_ ? payload.size()
                                       : faults_.split_at.value_or((payload.size() + 1) / 2);
        whole_first_piece_ = false;
        if (at > payload.size()) at = payload.size();
        second_piece_.assign(payload.begin() + static_cast<long>(at), payload.end());
        second_piece_pending_ = true;
        payload.resize(at);
        log("answer split after " + std::to_string(at) + " bytes (--mux-split)");
        return answer(kControlPiece, payload, out);
    }
    answer(0, payload, out);
}

void Multiplexer::service(const std::vector<uint8_t>& frame, std::vector<uint8_t>& out) {
    const bool has_type = frame.size() > kMinRequestLogical;
    const uint8_t type = has_type ? frame[5] : 0;
    const std::vector<uint8_t> body(frame.begin() + (has_type ? 6 : 5), frame.end() - 2);
    const unsigned index = has_type && type >= 1 && type <= 8 ? type : 0;
    ++stats_.services[index];
    if (verbose_) log("service " + std::to_string(type));
    switch (index) {
    case 1:
        return answer(0, std::vector<uint8_t>(identification.begin(), identification.end()), out);
    case 2:
        if (body.size() != 8) break;
        code.assign(body.begin(), body.end());
        log("code changed to '" + code + "'");
        return answer(0, {}, out);
    case 3:
        if (body.size() == 8 && std::string(body.begin(), body.end()) == code)
            return answer(0, {}, out);
        ++stats_.wrong_code;
        log("error: service 3 brought another code than '" + code + "'; asked again");
        return answer(kCodeRequestBit, {}, out);
    case 4:
    case 5:
        if (body.size() != 2) break;
        (index == 4 ? write_timeout : read_timeout) = static_cast<uint16_t>(body[0] | body[1] << 8);
        return answer(0, {}, out);
    case 6:
        if (last_answer_.empty()) return answer(0, {}, out);
        return send(last_answer_, out);
    case 7:
        if (body.size() != 1) break;
        service_byte = body[0];
        return answer(0, {}, out);
    case 8: {
        std::vector<uint8_t> piece;
        if (second_piece_pending_) piece.swap(second_piece_);
        second_piece_pending_ = false;
        return answer(kControlPiece, piece, out);
    }
    default: break;
    }
    log("error: service " + std::to_string(type) + " with a body of " +
        std::to_string(body.size()) + " bytes is not known; answered control code 2");
    answer(kControlUnknown, {}, out);
}

void Multiplexer::answer(uint8_t control, const std::vector<uint8_t>& payload,
                         std::vector<uint8_t>& out) {
    last_answer_ = mux_answer_frame(control, payload);
    send(last_answer_, out);
}

void Multiplexer::send(std::vector<uint8_t> frame, std::vector<uint8_t>& out) {
    if (faults_.silent_after && stats_.answers >= *faults_.silent_after) {
        if (verbose_) log("silent: answer frame not sent (--mux-silent-after)");
        return;
    }
    ++stats_.answers;
    if (faults_.bad_checksum > 0) {
        --faults_.bad_checksum;
        ++stats_.injected;
        // The last wire byte carries the checksum's high byte: flip a data bit.
        frame.back() ^= 0x01;
        log("answer checksum corrupted (--mux-bad-checksum, " +
            std::to_string(faults_.bad_checksum) + " more)");
    }
    for (unsigned i = 0; i < faults_.garbage; ++i) out.push_back(kNoise[i % sizeof kNoise]);
    out.insert(out.end(), frame.begin(), frame.end());
}

std::string Multiplexer::summary() const {
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
                  static_cast<unsigned long long>(stats_.bad_frames),
                  static_cast<unsigned long long>(stats_.stray_bytes),
                  static_cast<unsigned long long>(stats_.printer_requests), services.c_str(),
                  static_cast<unsigned long long>(stats_.services[0]),
                  static_cast<unsigned long long>(stats_.answers),
                  static_cast<unsigned long long>(stats_.injected),
                  static_cast<unsigned long long>(stats_.wrong_code), stats_.last_channel,
                  stats_.last_at_19200);
    return line;
}

}  // namespace vorin::sim

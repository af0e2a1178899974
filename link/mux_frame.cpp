#include "link/mux_frame.h"

namespace vorin::link::mux {

namespace {

constexpr std::array<uint16_t, 256> kCrcTable = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ 0xA001u : c >> 1;
        t[i] = static_cast<uint16_t>(c);
    }
    return t;
}();

constexpr uint8_t kTopBit = 0x80;

}  // namespace

std::size_t Encode(const uint8_t* in, std::size_t n, uint8_t* out) {
    std::size_t o = 0;
    for (std::size_t start = 0; start < n; start += 7) {
        const std::size_t group = n - start < 7 ? n - start : 7;
        uint8_t header = kTopBit;
        for (std::size_t k = 0; k < group; ++k)
            if (in[start + k] & kTopBit) header |= static_cast<uint8_t>(0x40u >> k);
        out[o++] = header;
        for (std::size_t k = 0; k < group; ++k) out[o++] = in[start + k] | kTopBit;
    }
    return o;
}

std::size_t Decode(const uint8_t* in, std::size_t n, uint8_t* out) {
    std::size_t o = 0;
    for (std::size_t start = 0; start < n; start += 8) {
        const uint8_t header = in[start];
        const std::size_t group = n - start - 1 < 7 ? n - start - 1 : 7;
        for (std::size_t k = 0; k < group; ++k) {
            const uint8_t top = (header & (0x40u >> k)) ? kTopBit : 0;
            out[o++] = static_cast<uint8_t>((in[start + 1 + k] & 0x7F) | top);
        }
    }
    return o;
}

uint16_t Crc16(const uint8_t* data, std::size_t n, uint16_t crc) {
    for (std::size_t i = 0; i < n; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

std::size_t RequestLogicalSize(const Request& r) {
    // Length code, control, three lengths, prefix, body, two checksum bytes.
    return 5 + r.prefixLength + r.bodyLength + 2;
}

std::size_t BuildRequest(const Request& r, uint8_t* out) {
    const std::size_t logical = RequestLogicalSize(r);
    const std::size_t encoded = EncodedSize(logical);
    if (encoded > kMaxEncoded) return 0;

    std::array<uint8_t, DecodedSize(kMaxEncoded)> bytes{};
    std::size_t n = 0;
    bytes[n++] = static_cast<uint8_t>(encoded);
    bytes[n++] = r.control;
    bytes[n++] = r.ackLength;
    bytes[n++] = r.statusLength;
    bytes[n++] = r.recordLength;
    for (std::size_t i = 0; i < r.prefixLength; ++i) bytes[n++] = r.prefix[i];
    for (std::size_t i = 0; i < r.bodyLength; ++i) bytes[n++] = r.body[i];
    const uint16_t crc = Crc16(bytes.data(), n);
    bytes[n++] = static_cast<uint8_t>(crc);
    bytes[n++] = static_cast<uint8_t>(crc >> 8);

    for (std::size_t i = 0; i < kIdLength; ++i) out[i] = kIdentification[i];
    return kIdLength + Encode(bytes.data(), n, out + kIdLength);
}

AnswerReceiver::Step AnswerReceiver::Add(uint8_t byte) {
    if (count_ < kIdLength) {
        // A stray byte restarts the search; it may itself begin "BRAXO".
        if (byte != kIdentification[count_]) {
            count_ = 0;
            if (byte != kIdentification[0]) return Step::More;
        }
        buffer_[count_++] = byte;
        return Step::More;
    }
    buffer_[count_++] = byte;
    if (count_ == kIdLength + 2) {
        // The length code is the first byte of the first group; its top bit
        // travels in the group header.
        total_ = static_cast<std::size_t>(byte & 0x7F) |
                 (static_cast<std::size_t>(buffer_[kIdLength] & 0x40) << 1);
        if (total_ < kMinAnswerEncoded || total_ > kMaxEncoded) return Step::Malformed;
    }
    if (count_ < kIdLength + 2 || count_ < kIdLength + total_) return Step::More;
    logicalCount_ = Decode(buffer_.data() + kIdLength, total_, logical_.data());
    return Step::Complete;
}

bool AnswerReceiver::ChecksumOk() const {
    // Through its own checksum bytes a sound frame's CRC comes out 0.
    return Crc16(logical_.data(), logicalCount_) == 0;
}

}  // namespace vorin::link::mux

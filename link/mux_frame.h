// Multiplexer frames as bytes: the 7-bit group code, the request frame and
// the byte-by-byte reception of an answer frame. Pure code with no port and
// no link state, so the transport, its tests, the fuzzer and the benchmarks
// all call the same functions.
//
// A frame is "BRAXO" as plain bytes, then logical bytes in groups of up to 7,
// each group a header byte (0x80 plus bit 7 of its bytes, first byte as bit 6)
// followed by its bytes with bit 7 set. The first logical byte is the length
// code, the encoded size of everything after "BRAXO"; the last two are a
// CRC-16/ARC over the rest, low byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vorin::link::mux {

inline constexpr std::array<uint8_t, 5> kIdentification = {'B', 'R', 'A', 'X', 'O'};
inline constexpr std::size_t kIdLength = kIdentification.size();
// The link's frame buffer holds a whole frame as on the wire.
inline constexpr std::size_t kFrameBufferSize = 255;
inline constexpr std::size_t kMaxEncoded = kFrameBufferSize - kIdLength;  // 250
// The smallest answer: length code, control code and the two checksum bytes.
inline constexpr std::size_t kMinAnswerEncoded = 5;

// Control byte of a request.
inline constexpr uint8_t kChannelMask = 0x07;      // printer channel - 1
inline constexpr uint8_t kPrinterAt19200 = 0x08;   // else another speed
inline constexpr uint8_t kAckBeforeBody = 0x10;    // the printer acknowledges, then takes the body
inline constexpr uint8_t kPrinterRequest = 0x20;   // clear in service requests
inline constexpr uint8_t kStatusAsItComes = 0x40;  // the status byte is data or a tag

constexpr std::size_t EncodedSize(std::size_t logical) { return logical + (logical + 6) / 7; }
constexpr std::size_t DecodedSize(std::size_t encoded) { return encoded - (encoded + 7) / 8; }

// Writes the EncodedSize(n) wire bytes of `n` logical bytes to `out`.
std::size_t Encode(const uint8_t* in, std::size_t n, uint8_t* out);
// Writes the DecodedSize(n) logical bytes of `n` wire bytes to `out`.
std::size_t Decode(const uint8_t* in, std::size_t n, uint8_t* out);

// CRC-16/ARC, the checksum of the frames, computed apart from the link's
// running checksum (a caller may be in the middle of one).
uint16_t Crc16(const uint8_t* data, std::size_t n, uint16_t crc = 0);

// What a request frame carries besides its length code and checksum.
struct Request {
    uint8_t control = 0;
    uint8_t ackLength = 0;
    uint8_t statusLength = 0;
    uint8_t recordLength = 0;
    const uint8_t* prefix = nullptr;  // ESC and command, the service type, or nothing
    std::size_t prefixLength = 0;
    const uint8_t* body = nullptr;
    std::size_t bodyLength = 0;
};

// The logical bytes of a request (length code and checksum included).
std::size_t RequestLogicalSize(const Request& r);

// Builds the whole frame, "BRAXO" first, into `out` (kFrameBufferSize bytes).
// Returns its size on the wire; 0 when it does not fit the frame buffer
// (at most 218 logical bytes do).
std::size_t BuildRequest(const Request& r, uint8_t* out);

// An answer frame arriving byte by byte. Bytes before "BRAXO" are skipped.
class AnswerReceiver {
public:
    enum class Step {
        More,       // feed the next byte
        Complete,   // a whole frame is in; see ChecksumOk() and the rest
        Malformed,  // its length code is too small or does not fit the buffer
    };

    void Reset() {
        count_ = 0;
        total_ = 0;
        logicalCount_ = 0;
    }
    Step Add(uint8_t byte);

    // After Complete.
    bool ChecksumOk() const;
    uint8_t Control() const { return logical_[1]; }
    const uint8_t* Payload() const { return logical_.data() + 2; }
    std::size_t PayloadLength() const { return logicalCount_ - 4; }
    std::size_t WireSize() const { return count_; }

private:
    std::array<uint8_t, kFrameBufferSize> buffer_{};
    std::array<uint8_t, DecodedSize(kMaxEncoded)> logical_{};
    std::size_t count_ = 0;  // bytes in buffer_
    std::size_t total_ = 0;  // the length code once known
    std::size_t logicalCount_ = 0;
};

}  // namespace vorin::link::mux

// The Telnet/RFC 2217 receiver on any bytes a server may send, in chunks of
// any size: no read or write out of bounds, no more data out than came in, and
// answers that stay proportionate to the input (a hostile server cannot make
// the client flood it).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/telnet_rfc2217.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    vorin::platform::telnet::Receiver receiver;
    std::vector<uint8_t> out, reply;
    const size_t chunk = 1 + data[0] % 16;
    for (size_t at = 1; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        receiver.Feed(data + at, n, out, reply);
    }
    if (out.size() > size) std::abort();
    // The longest answer (the signature, 11 bytes) comes from 6 input bytes.
    if (reply.size() > 2 * size) std::abort();
    for (uint8_t c = 0; c < 20; ++c) (void)receiver.AnswerTo(c);
    (void)receiver.TakeLineState();
    return 0;
}

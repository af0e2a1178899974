// The multiplexer answer receiver and the transport's reception on any bytes:
// no read or write outside the frame buffer, the logical bytes or the answer
// area, and every frame it calls sound decodes to a checksum of 0.
#include <cstdint>
#include <cstdlib>
#include <deque>

#include "link/link.h"
#include "link/mux.h"
#include "link/mux_frame.h"
#include "link/port_ops.h"
#include "tests/support/port_table.h"

namespace {

std::deque<uint8_t> gLine;

const vorin::link::OperacjePortu kOps = [] {
    vorin::link::OperacjePortu ops = vorin::test::IdlePortTable();
    ops.ReadByte = [](uint8_t* b) -> int32_t {
        if (gLine.empty()) return 0;
        *b = gLine.front();
        gLine.pop_front();
        return 1;
    };
    return ops;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vorin::link;
    // The receiver alone. An input starting with a byte above 0x7F gets
    // "BRAXO" in front, so the search gets past the identification at once.
    mux::AnswerReceiver receiver;
    if (size > 0 && data[0] >= 0x80)
        for (uint8_t b : mux::kIdentification) receiver.Add(b);
    for (size_t i = 0; i < size; ++i) {
        const auto step = receiver.Add(data[i]);
        if (step == mux::AnswerReceiver::Step::Malformed) {
            receiver.Reset();
        } else if (step == mux::AnswerReceiver::Step::Complete) {
            if (receiver.ChecksumOk() &&
                mux::Crc16(receiver.Payload() - 2, receiver.PayloadLength() + 4) != 0)
                std::abort();
            receiver.Reset();
        }
    }

    // A whole printer request in mode 2 answered by these bytes: recovery,
    // two-piece answers and the reading phases on whatever arrives. The first
    // byte chooses the retry limit and the answer lengths.
    static bool installed = false;
    if (!installed) {
        UstawOperacjePortu(kOps);
        installed = true;
    }
    UstawieniaDomyslneLacza();
    PortOtwarty = 1;
    TrybMux = 2;
    if (size == 0) return 0;
    LimitPowtorzenMux = data[0] & 3;
    gLine.assign(data + 1, data + size);
    if (data[0] >= 0x80)
        gLine.insert(gLine.begin(), mux::kIdentification.begin(), mux::kIdentification.end());
    WymianaRamki(Prefiks::Rozkaz, 0x47, static_cast<uint8_t>(data[0] | 1), 4,
                 static_cast<uint8_t>(data[0] >> 1));
    gLine.clear();
    return 0;
}

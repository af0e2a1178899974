#include "tests/mux_line.h"

#include "link/link.h"
#include "link/port_ops.h"

namespace vorin::e2e {

namespace {

constexpr uint8_t kCarrierDetect = 0x80;

uint8_t CarrierOn() { return kCarrierDetect; }

}  // namespace

bool OpenMuxLink(uint8_t port) {
    using namespace vorin::link;
    UstawieniaDomyslneLacza();
    OperacjePortu ops = DomyslneOperacjePortu();
    ops.ModemStatus = CarrierOn;
    UstawOperacjePortu(ops);
    NumerPortu = port;
    TrybMux = 2;
    Predkosc = 19200;
    KodParzystosci = 0;
    NumerKanalu = 2;
    PredkoscDrukarki = 38400;
    KanalDrukarki = 1;
    TimeoutZapisuMux = 3;
    TimeoutOdczytuMux = 3;
    LimitPowtorzenMux = 3;
    OtwarciePortu();
    return PortOtwarty != 0;
}

void CloseMuxLink() {
    using namespace vorin::link;
    ZamknieciePortu();
    PrzywrocOperacjePortu();
    UstawieniaDomyslneLacza();
}

}  // namespace vorin::e2e

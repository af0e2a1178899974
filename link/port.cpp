// Binding of the link settings to the serial port, channel selection and the
// line check.
#include "link/commands.h"
#include "link/link.h"
#include "link/port_ops.h"

#include <algorithm>

namespace vorin::link {

namespace {

// Modem status bits (ModemStatus).
constexpr uint8_t kDsr = 0x20;
constexpr uint8_t kCarrierDetect = 0x80;
constexpr uint16_t kPauzaPrzelaczeniaMs = 1000;
constexpr uint16_t kPauzaProbyMs = 100;

const OperacjePortu& Port() { return BiezaceOperacjePortu(); }

// The port library counts timeouts in 16 bits. A larger setting is kept as
// long as possible instead of wrapping round to a short (or no) timeout.
uint16_t Sekundy(uint32_t sekundy) {
    return static_cast<uint16_t>(std::min<uint32_t>(sekundy, 0xFFFF));
}

uint16_t TimeoutZapisuPortu() {
    return Sekundy(TrybMux == kMuxFrameMode ? TimeoutZapisuMux : TimeoutZapisu);
}
uint16_t TimeoutOdczytuPortu() {
    return Sekundy(TrybMux == kMuxFrameMode ? TimeoutOdczytuMux : TimeoutOdczytu);
}

// Opens NumerPortu at `predkosc` with parity; no channel selection.
bool OtwarcieZPredkoscia(uint32_t predkosc) {
    const OperacjePortu& port = Port();
    port.UstawCTS(UstawienieCTS);
    PortOtwarty =
        port.InitializePort(NumerPortu, predkosc, TimeoutZapisuPortu(), TimeoutOdczytuPortu()) == 0
            ? 1
            : 0;
    if (PortOtwarty == 0) return false;
    // A new port has had no failed transfer; a stale flag from the previous
    // port would fail the channel switch before any byte moved.
    BladPortu = 0;
    if (KodParzystosci <= 2) port.ChangeParity(KodParzystosci);
    return true;
}

// Changes the speed of the open port. ChangeSpeed takes 16 bits; a faster line
// (up to 115200) is opened again at its speed rather than set to a wrapped value.
void ZmianaPredkosci(uint32_t predkosc) {
    if (predkosc <= 0xFFFF) {
        Port().ChangeSpeed(static_cast<uint16_t>(predkosc));
        return;
    }
    ZamknieciePortu();
    if (!OtwarcieZPredkoscia(predkosc)) BladPortu = 1;
}

// Multiplexer mode 3: the multiplexer listens at 9600 baud while RTS is high
// and takes ESC 0x01 and the channel number as its switch command.
void PrzelaczenieKanalu() {
    const OperacjePortu& port = Port();
    port.Opoznienie(kPauzaPrzelaczeniaMs);
    if (BladPortu) {
        KodWyniku = Kod::PrzelaczenieKanalu;
        return;
    }
    const uint32_t zachowana = Predkosc;
    // On failure the configured speed must survive: the next open would
    // otherwise switch at 9600 and then stay there.
    auto nieudane = [&] {
        Predkosc = zachowana;
        ZmianaPredkosci(zachowana);
        KodWyniku = Kod::PrzelaczenieKanalu;
    };

    Predkosc = 9600;
    ZmianaPredkosci(Predkosc);
    port.SetRTSLine();
    ObszarNadawania[1] = NumerKanalu;
    WykonanieRozkazu(kCmdSelectChannel, 0, 1, 0);
    port.Opoznienie(kPauzaPrzelaczeniaMs);
    if (BladPortu) return nieudane();
    port.ClearRTSLine();
    port.Opoznienie(kPauzaPrzelaczeniaMs);
    if (BladPortu) return nieudane();
    Predkosc = zachowana;
    ZmianaPredkosci(Predkosc);
    if (BladPortu || KodWyniku != 0) KodWyniku = Kod::PrzelaczenieKanalu;
}

void WyborKanalu() {
    switch (TrybMux) {
    case 1: Port().UstawKanal(NumerKanalu); break;
    case 2: Port().UstawKanal(2); break;  // the multiplexer always listens on channel 2
    case 3: PrzelaczenieKanalu(); break;
    default: break;
    }
}

// RTS high must bring DSR on and RTS low must take it off again.
bool ProbaLinii() {
    const OperacjePortu& port = Port();
    port.SetRTSLine();
    port.Opoznienie(kPauzaProbyMs);
    const bool dsrWlaczony = (port.ModemStatus() & kDsr) != 0;
    port.ClearRTSLine();
    port.Opoznienie(kPauzaProbyMs);
    const bool dsrWylaczony = (port.ModemStatus() & kDsr) == 0;
    return dsrWlaczony && dsrWylaczony;
}

}  // namespace

bool ObecnoscPortu(uint8_t numer) { return Port().SerialPortPresent(numer) != 0; }

void OtwarciePortu() {
    ZamknieciePortu();
    if (OtwarcieZPredkoscia(Predkosc)) WyborKanalu();
}

void ZamknieciePortu() {
    if (PortOtwarty == 0) return;
    Port().UnInitializePort();
    PortOtwarty = 0;
}

void UstawieniePredkosci() {
    if (Predkosc == 9600)
        KodParzystosci = 0;
    else if (Predkosc == 19200)
        KodParzystosci = 2;
    UstawienieCTS = 0;
    OtwarciePortu();
}

bool ZapisBajtu(uint8_t bajt) {
    const bool przeszedl = Port().WriteByte(bajt) == 1;
    BladPortu = przeszedl ? 0 : 1;
    return przeszedl;
}

uint8_t OdczytBajtu() {
    uint8_t bajt = 0;
    const bool przyszedl = Port().ReadByte(&bajt) == 1;
    BladPortu = przyszedl ? 0 : 1;
    return przyszedl ? bajt : 0;
}

void CzyszczeniePortu() { Port().ClearPort(); }

void KontrolaLinii() {
    if (ProbaLinii() && (Port().ModemStatus() & kCarrierDetect) != 0) {
        StanLinii = 0;
        return;
    }
    StanLinii = ProbaLinii() ? 257 : 256;
    KodWyniku = Kod::BrakDrukarki;
}

}  // namespace vorin::link

// The frame exchange with the printer and the request exchange around it.
#include "link/commands.h"
#include "link/link.h"
#include "link/mux.h"

namespace vorin::link {

namespace {

KanalSerwera gKanalSerwera{};
bool gKanalSerweraWlaczony = false;
TransportMux gTransportMux{};
bool gInnyTransportMux = false;  // a test's transport instead of the built-in one

const TransportMux& Transport() {
    return gInnyTransportMux ? gTransportMux : WbudowanyTransportMux();
}

bool PrzezMultiplekser() { return TrybMux == kMuxFrameMode; }

// The status bytes the printer uses for its own errors; each becomes 100 + s.
bool StatusDrukarki(uint8_t s) {
    return (s >= 2 && s <= 5) || (s >= 7 && s <= 18) || (s >= 100 && s <= 109) || s == 111 ||
           s == 112 || s == 115 || s == 117 || (s >= 120 && s <= 131);
}

// In multiplexer mode the request already travelled in one frame, so the
// exchange's own writes send nothing.
bool WyslijBajt(uint8_t bajt) {
    if (PrzezMultiplekser()) return true;
    return ZapisBajtu(bajt);
}

// One answer byte: from the wire, or from the multiplexer's decoded payload.
// false when none came; KodWyniku then says why.
bool OdbierzBajt(uint8_t& bajt) {
    if (PrzezMultiplekser()) {
        if (Transport().BajtOdpowiedzi(&bajt)) return true;
        if (KodWyniku == 0) KodWyniku = Kod::KoniecDanychMux;
        return false;
    }
    bajt = OdczytBajtu();
    if (BladPortu) {
        KodWyniku = Kod::TimeoutOdbierania;
        return false;
    }
    return true;
}

// Reads `ile` answer bytes into positions 1, 2, ... A record list ends early
// at a 0xFF that starts a record.
bool CzytajOdpowiedz(unsigned ile, uint8_t dlugoscRekordu) {
    for (unsigned pozycja = 1; pozycja <= ile; ++pozycja) {
        uint8_t bajt = 0;
        if (!OdbierzBajt(bajt)) return false;
        ObszarOdpowiedzi[pozycja] = bajt;
        if (dlugoscRekordu != 0 && bajt == kEndOfRecords && pozycja % dlugoscRekordu == 1) break;
    }
    return true;
}

uint8_t KodPotwierdzenia(uint8_t trybPrefiksu, uint8_t bajt) {
    if (trybPrefiksu == Prefiks::Rozkaz) {
        switch (bajt) {
        case kRefusal01: return Kod::Odpowiedz01;
        case kNak: return Kod::OdpowiedzNAK;
        case kRefusal65: return Kod::Odpowiedz65;
        case kRefusalC8: return Kod::OdpowiedzC8;
        default: return Kod::NiepoprawnaOdpowiedz;
        }
    }
    return bajt == kNak ? Kod::OdpowiedzNAK : Kod::NiepoprawnaOdpowiedz;
}

// One request as the exchange's phases see it.
struct Rozkaz {
    uint8_t trybPrefiksu;
    uint8_t rozkaz;
    uint8_t dlugoscPotwierdzenia;
    uint8_t dlugoscTresci;
    uint8_t dlugoscStatusu;
    uint8_t dlugoscRekordu;
};

// ESC and the command byte, unless the request continues the previous one.
bool NadaniePrefiksu(const Rozkaz& r) {
    if (r.trybPrefiksu == Prefiks::Kontynuacja) return true;
    if (WyslijBajt(kEsc) && WyslijBajt(r.rozkaz)) return true;
    KodWyniku = Kod::TimeoutNadawania;
    return false;
}

// Mode 2: the whole request goes out in one multiplexer frame, and the phases
// below read the answer frame's payload.
bool ZadanieMux(const Rozkaz& r) {
    if (!PrzezMultiplekser()) return true;
    if (Transport().Zadanie(r.trybPrefiksu, r.rozkaz, r.dlugoscPotwierdzenia, r.dlugoscTresci,
                            r.dlugoscStatusu, r.dlugoscRekordu))
        return true;
    if (KodWyniku == 0) KodWyniku = Kod::ZapisRamkiMux;
    return false;
}

// The acknowledgement, then the answer bytes that come before the body.
bool FazaPotwierdzenia(const Rozkaz& r) {
    if (r.dlugoscPotwierdzenia == 0) return true;
    uint8_t potwierdzenie = 0;
    if (!OdbierzBajt(potwierdzenie)) return false;
    ObszarOdpowiedzi[1] = potwierdzenie;
    if (!AckNotChecked(r.rozkaz) && potwierdzenie != kAck) {
        KodWyniku = KodPotwierdzenia(r.trybPrefiksu, potwierdzenie);
        return false;
    }
    if (r.dlugoscPotwierdzenia >= 2)
        return CzytajOdpowiedz(r.dlugoscPotwierdzenia - 1u, r.dlugoscRekordu);
    return true;
}

bool NadanieTresci(const Rozkaz& r) {
    for (unsigned pozycja = 1; pozycja <= r.dlugoscTresci; ++pozycja) {
        if (!WyslijBajt(ObszarNadawania[pozycja])) {
            KodWyniku = Kod::TimeoutNadawania;
            return false;
        }
    }
    return true;
}

// Commands whose status byte is a tag: the tag is kept aside, the status
// counts as 0, and the number of answer bytes after it may change. false for
// a tag the description command does not know (KodWyniku set).
bool ZnacznikStatusu(const Rozkaz& r, uint8_t& status, unsigned& dalszeBajty) {
    if (r.rozkaz == kCmdDescription) {
        switch (status) {
        case 0xFA:
            dalszeBajty = (KodTypuUrzadzenia == kShortDescriptionType18 ||
                           KodTypuUrzadzenia == kShortDescriptionType1B)
                              ? 38
                              : 42;
            break;
        case 0xFB: dalszeBajty = 17; break;
        case 0xFC: dalszeBajty = 8; break;
        case 0xFD:
        case 0xFE: dalszeBajty = 0; break;
        default: KodWyniku = Kod::NiepoprawnaOdpowiedz; return false;
        }
    }
    if (StatusIsTag(r.rozkaz)) {
        ZnacznikOdpowiedzi = status;
        ObszarOdpowiedzi[1] = 0;
        status = 0;
    } else if (r.rozkaz == kCmdStatusAck && status == kAck) {
        ObszarOdpowiedzi[1] = 0;
        status = 0;
    }
    return true;
}

// A status the printer refused the request with.
void StatusBledu(uint8_t status) {
    KodWyniku =
        StatusDrukarki(status) ? static_cast<uint8_t>(100u + status) : Kod::NiepoprawnaOdpowiedz;
    // Status 122 carries two more bytes on a direct line; the multiplexer
    // does not forward them.
    if (KodWyniku != Kod::Status122 || PrzezMultiplekser()) return;
    uint8_t bajt = 0;
    if (!OdbierzBajt(bajt)) return;
    ObszarOdpowiedzi[1] = bajt;
    if (!OdbierzBajt(bajt)) return;
    ObszarOdpowiedzi[2] = bajt;
}

// The status byte, then the answer bytes that come after the body.
void FazaStatusu(const Rozkaz& r) {
    if (r.dlugoscStatusu == 0) return;
    uint8_t status = 0;
    if (!OdbierzBajt(status)) return;
    ObszarOdpowiedzi[1] = status;
    unsigned dalszeBajty = r.dlugoscStatusu - 1u;
    if (!ZnacznikStatusu(r, status, dalszeBajty)) return;
    if (!StatusNotChecked(r.rozkaz) && status != 0) return StatusBledu(status);
    if (dalszeBajty >= 1) CzytajOdpowiedz(dalszeBajty, r.dlugoscRekordu);
}

}  // namespace

uint8_t DlugoscRekordu(uint8_t rozkaz, uint8_t dlugoscPotwierdzenia, uint8_t dlugoscTresci,
                       uint8_t dlugoscStatusu) {
    switch (rozkaz) {
    case 0x0A:
    case 0x0B:
        return (dlugoscPotwierdzenia == 110 && dlugoscTresci == 0 && dlugoscStatusu == 0) ? 27 : 0;
    case 0x47:
    case 0x48: return 13;
    case 0xA1:
        // A selector with and without 0x80 names the same record list.
        switch (ObszarNadawania[1] & 0x7F) {
        case 0x00: return 17;
        case 0x01: return 21;
        case 0x02: return 30;
        case 0x03: return 38;
        case 0x10: return 12;
        default: return 0;  // unknown list: read to the full lengths
        }
    case 0xA2:
    case 0xA3:
    case 0xA5: return 11;
    case 0xAD:
    case 0xAE: return 16;
    case 0xD5:
    case 0xD6: return 29;
    case 0xE7: return 4;
    case 0xE9:
    case 0xEE: return 20;
    case 0xEA: return 8;
    default: return 0;
    }
}

void WymianaRamki(uint8_t trybPrefiksu, uint8_t rozkaz, uint8_t dlugoscPotwierdzenia,
                  uint8_t dlugoscTresci, uint8_t dlugoscStatusu) {
    const Rozkaz r{trybPrefiksu,
                   rozkaz,
                   dlugoscPotwierdzenia,
                   dlugoscTresci,
                   dlugoscStatusu,
                   DlugoscRekordu(rozkaz, dlugoscPotwierdzenia, dlugoscTresci, dlugoscStatusu)};

    // Whatever the printer sent after the previous exchange ended is stale.
    CzyszczeniePortu();

    if (!NadaniePrefiksu(r) || !ZadanieMux(r) || !FazaPotwierdzenia(r) || !NadanieTresci(r)) return;
    FazaStatusu(r);
}

void WykonanieRozkazu(uint8_t rozkaz, uint8_t dlugoscPotwierdzenia, uint8_t dlugoscTresci,
                      uint8_t dlugoscStatusu) {
    if (gKanalSerweraWlaczony && gKanalSerwera.ObslugaRozkazow != nullptr &&
        !gKanalSerwera.ObslugaRozkazow())
        return;
    WymianaRamki(Prefiks::Rozkaz, rozkaz, dlugoscPotwierdzenia, dlugoscTresci, dlugoscStatusu);
    ++LicznikRozkazow;
    if (gKanalSerweraWlaczony && gKanalSerwera.PoRozkazie != nullptr)
        gKanalSerwera.PoRozkazie(LicznikRozkazow);
}

void UstawKanalSerwera(const KanalSerwera* kanal) {
    gKanalSerweraWlaczony = kanal != nullptr;
    gKanalSerwera = kanal != nullptr ? *kanal : KanalSerwera{};
}

void UstawTransportMux(const TransportMux* transport) {
    gInnyTransportMux = transport != nullptr && transport->Zadanie != nullptr &&
                        transport->BajtOdpowiedzi != nullptr;
    gTransportMux = gInnyTransportMux ? *transport : TransportMux{};
}

}  // namespace vorin::link

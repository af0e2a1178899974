// The frame exchange with the printer and the request exchange around it.
#include "link/link.h"

namespace vorin::link {

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t KONIEC_REKORDOW = 0xFF;

KanalSerwera gKanalSerwera{};
bool gKanalSerweraWlaczony = false;
TransportMux gTransportMux{};
bool gTransportMuxJest = false;

bool PrzezMultiplekser() { return TrybMux == 2; }

bool PotwierdzenieNieSprawdzane(uint8_t rozkaz) {
    switch (rozkaz) {
    case 0x90:
    case 0x94:
    case 0x95:
    case 0x96:
    case 0x9B:
    case 0x9D:
    case 0x9F: return true;
    default: return false;
    }
}

bool StatusNieSprawdzany(uint8_t rozkaz) {
    switch (rozkaz) {
    case 0x11:
    case 0x31:
    case 0x72:
    case 0xF9: return true;
    default: return false;
    }
}

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
        if (gTransportMuxJest && gTransportMux.BajtOdpowiedzi(&bajt)) return true;
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
        if (dlugoscRekordu != 0 && bajt == KONIEC_REKORDOW && pozycja % dlugoscRekordu == 1) break;
    }
    return true;
}

uint8_t KodPotwierdzenia(uint8_t trybPrefiksu, uint8_t bajt) {
    if (trybPrefiksu == Prefiks::Rozkaz) {
        switch (bajt) {
        case 0x01: return Kod::Odpowiedz01;
        case NAK: return Kod::OdpowiedzNAK;
        case 0x65: return Kod::Odpowiedz65;
        case 0xC8: return Kod::OdpowiedzC8;
        default: return Kod::NiepoprawnaOdpowiedz;
        }
    }
    return bajt == NAK ? Kod::OdpowiedzNAK : Kod::NiepoprawnaOdpowiedz;
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
    const uint8_t dlugoscRekordu =
        DlugoscRekordu(rozkaz, dlugoscPotwierdzenia, dlugoscTresci, dlugoscStatusu);

    // Whatever the printer sent after the previous exchange ended is stale.
    CzyszczeniePortu();

    if (trybPrefiksu != Prefiks::Kontynuacja) {
        if (!WyslijBajt(ESC) || !WyslijBajt(rozkaz)) {
            KodWyniku = Kod::TimeoutNadawania;
            return;
        }
    }

    if (PrzezMultiplekser()) {
        if (!gTransportMuxJest) {
            KodWyniku = Kod::ZapisRamkiMux;
            return;
        }
        if (!gTransportMux.Zadanie(trybPrefiksu, rozkaz, dlugoscPotwierdzenia, dlugoscTresci,
                                   dlugoscStatusu, dlugoscRekordu)) {
            if (KodWyniku == 0) KodWyniku = Kod::ZapisRamkiMux;
            return;
        }
    }

    // Acknowledgement phase.
    if (dlugoscPotwierdzenia >= 1) {
        uint8_t potwierdzenie = 0;
        if (!OdbierzBajt(potwierdzenie)) return;
        ObszarOdpowiedzi[1] = potwierdzenie;
        if (!PotwierdzenieNieSprawdzane(rozkaz) && potwierdzenie != ACK) {
            KodWyniku = KodPotwierdzenia(trybPrefiksu, potwierdzenie);
            return;
        }
        if (dlugoscPotwierdzenia >= 2 &&
            !CzytajOdpowiedz(dlugoscPotwierdzenia - 1u, dlugoscRekordu))
            return;
    }

    // Body.
    for (unsigned pozycja = 1; pozycja <= dlugoscTresci; ++pozycja) {
        if (!WyslijBajt(ObszarNadawania[pozycja])) {
            KodWyniku = Kod::TimeoutNadawania;
            return;
        }
    }

    // Status phase.
    if (dlugoscStatusu == 0) return;
    uint8_t status = 0;
    if (!OdbierzBajt(status)) return;
    ObszarOdpowiedzi[1] = status;
    unsigned dalszeBajty = dlugoscStatusu - 1u;

    if (rozkaz == 0xE5) {
        // The status byte says which description follows and how long it is.
        switch (status) {
        case 0xFA:
            dalszeBajty = (KodTypuUrzadzenia == 0x18 || KodTypuUrzadzenia == 0x1B) ? 38 : 42;
            break;
        case 0xFB: dalszeBajty = 17; break;
        case 0xFC: dalszeBajty = 8; break;
        case 0xFD:
        case 0xFE: dalszeBajty = 0; break;
        default: KodWyniku = Kod::NiepoprawnaOdpowiedz; return;
        }
        ZnacznikOdpowiedzi = status;
        ObszarOdpowiedzi[1] = 0;
        status = 0;
    } else if (rozkaz == 0x9A || rozkaz == 0xFC) {
        ZnacznikOdpowiedzi = status;
        ObszarOdpowiedzi[1] = 0;
        status = 0;
    } else if (rozkaz == 0xA0 && status == ACK) {
        ObszarOdpowiedzi[1] = 0;
        status = 0;
    }

    if (!StatusNieSprawdzany(rozkaz) && status != 0) {
        KodWyniku = StatusDrukarki(status) ? static_cast<uint8_t>(100u + status)
                                           : Kod::NiepoprawnaOdpowiedz;
        // Status 122 carries two more bytes on a direct line; the multiplexer
        // does not forward them.
        if (KodWyniku == Kod::Status122 && !PrzezMultiplekser()) {
            uint8_t bajt = 0;
            if (!OdbierzBajt(bajt)) return;
            ObszarOdpowiedzi[1] = bajt;
            if (!OdbierzBajt(bajt)) return;
            ObszarOdpowiedzi[2] = bajt;
        }
        return;
    }

    if (dalszeBajty >= 1) CzytajOdpowiedz(dalszeBajty, dlugoscRekordu);
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
    gTransportMuxJest = transport != nullptr && transport->Zadanie != nullptr &&
                        transport->BajtOdpowiedzi != nullptr;
    gTransportMux = gTransportMuxJest ? *transport : TransportMux{};
}

}  // namespace vorin::link

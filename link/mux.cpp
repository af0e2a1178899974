// The multiplexer frame transport: frames on the port, the answer's payload
// for the reading phases, the recovery loop and the service requests.
#include "link/mux.h"

#include <algorithm>
#include <cstring>

#include "link/commands.h"
#include "link/link.h"
#include "link/mux_frame.h"
#include "link/port_ops.h"

namespace vorin::link {

namespace {
constexpr std::array<char, kDlugoscKoduMux> kDomyslnyKod = {'0', '0', '0', '0', '0', '0', '0', '0'};
}

std::array<char, kDlugoscKoduMux> KodMux = kDomyslnyKod;
std::array<char, kDlugoscKoduMux> NowyKodMux = kDomyslnyKod;
uint8_t BajtUslugowyMux = 0;

namespace {

constexpr uint8_t kDCD = 0x80;
constexpr uint16_t kPauzaPoleceniaMs = 100;
constexpr uint8_t kCR = 0x0D;
// A line that sends bytes without ever sending "BRAXO" must not keep the link
// reading: this many bytes without a whole frame end the reception.
constexpr std::size_t kLimitBajtowOdbioru = 4096;
constexpr uint8_t kMaskaKodu = 0x0F;
constexpr uint8_t kKodCzesci = 8;

// Frame state: the answer being received, its payload, the counters of the
// request being served.
struct Stan {
    mux::AnswerReceiver odbiornik;
    unsigned dlugoscLadunku = 0;
    unsigned indeksOdczytu = 0;
    bool kontynuacja = false;
    uint8_t licznikPowtorzen = 0;     // service 6 after checksum errors
    uint8_t licznikRetransmisji = 0;  // resends after control code 1
    uint8_t uslugiUstawien = 0;       // services 3, 4, 5 served for this request
};
Stan gStan;

const OperacjePortu& Port() { return BiezaceOperacjePortu(); }

bool Nosna() { return (Port().ModemStatus() & kDCD) != 0; }

// The control byte: the printer's channel and speed, what the answer looks like.
uint8_t Sterowanie(const ZadanieRamki& z) {
    uint8_t s = static_cast<uint8_t>((KanalDrukarki - 1u) & mux::kChannelMask);
    if (PredkoscDrukarki == 19200) s |= mux::kPrinterAt19200;
    if (z.usluga) return s;
    s |= mux::kPrinterRequest;
    if (z.dlugoscPotwierdzenia != 0 && z.dlugoscTresci != 0) s |= mux::kAckBeforeBody;
    if (StatusIsSpecial(z.rozkaz)) s |= mux::kStatusAsItComes;
    return s;
}

// The payload of an accepted answer, at answer position 1 on or behind the
// first piece. false when the pieces together overflow the answer area.
bool ZapiszLadunek(bool dolacz) {
    const mux::AnswerReceiver& o = gStan.odbiornik;
    const std::size_t od = dolacz ? gStan.dlugoscLadunku : 0;
    if (od + o.PayloadLength() > ObszarOdpowiedzi.Rozmiar) {
        gStan.dlugoscLadunku = 0;
        gStan.indeksOdczytu = 0;
        KodWyniku = Kod::InnyKodMux;
        return false;
    }
    std::memcpy(ObszarOdpowiedzi.Dane() + od, o.Payload(), o.PayloadLength());
    gStan.dlugoscLadunku = static_cast<unsigned>(od + o.PayloadLength());
    gStan.indeksOdczytu = 0;
    return true;
}

// Acts on the control code of a sound answer frame, in the order of the table.
bool KodSterujacy(uint8_t kod) {
    const bool byla = gStan.kontynuacja;
    gStan.kontynuacja = false;
    const uint8_t nizsze = kod & kMaskaKodu;
    if (kod == 0) return ZapiszLadunek(false);
    if (nizsze == kKodCzesci && byla) return ZapiszLadunek(true);
    uint8_t wynik = Kod::InnyKodMux;
    if (nizsze >= 1 && nizsze <= 4)
        wynik = static_cast<uint8_t>(Kod::PowtorzZadanieMux + nizsze - 1);
    else if (kod & 0x10)
        wynik = Kod::ProsbaOKodMux;
    else if (kod & 0x20)
        wynik = Kod::ProsbaOTimeoutZapisu;
    else if (kod & 0x40)
        wynik = Kod::ProsbaOTimeoutOdczytu;
    else if (nizsze == 5)
        wynik = Kod::TimeoutNadawania;
    else if (nizsze == 6)
        wynik = Kod::TimeoutOdbierania;
    else if (nizsze == 7)
        wynik = Kod::KodMux7;
    else if (nizsze == kKodCzesci) {
        if (!ZapiszLadunek(false)) return false;
        gStan.kontynuacja = true;
        wynik = Kod::DrugaCzescMux;
    }
    KodWyniku = wynik;
    return false;
}

uint16_t Slowo(uint32_t sekundy) {
    return static_cast<uint16_t>(std::min<uint32_t>(sekundy, 0xFFFF));
}

// The body of a service request, into the send area; its length.
uint8_t TrescUslugi(uint8_t typ) {
    auto slowo = [](uint16_t w) {
        ObszarNadawania[1] = static_cast<uint8_t>(w);
        ObszarNadawania[2] = static_cast<uint8_t>(w >> 8);
        return uint8_t{2};
    };
    switch (typ) {
    case UslugaMuxTyp::ZmianaKodu:
    case UslugaMuxTyp::PodanieKodu: {
        const auto& kod = typ == UslugaMuxTyp::ZmianaKodu ? NowyKodMux : KodMux;
        for (std::size_t i = 0; i < kDlugoscKoduMux; ++i)
            ObszarNadawania[1 + i] = static_cast<uint8_t>(kod[i]);
        return kDlugoscKoduMux;
    }
    case UslugaMuxTyp::TimeoutZapisu: return slowo(Slowo(TimeoutZapisu));
    case UslugaMuxTyp::TimeoutOdczytu: return slowo(Slowo(TimeoutOdczytu));
    case UslugaMuxTyp::BajtUslugowy: ObszarNadawania[1] = BajtUslugowyMux; return 1;
    default: return 0;
    }
}

// A settings complaint and the service that answers it.
bool KodUstawien(uint8_t kod, uint8_t& typ, uint8_t& bit) {
    switch (kod) {
    case Kod::ProsbaOKodMux:
        typ = UslugaMuxTyp::PodanieKodu;
        bit = 1;
        return true;
    case Kod::ProsbaOTimeoutZapisu:
        typ = UslugaMuxTyp::TimeoutZapisu;
        bit = 2;
        return true;
    case Kod::ProsbaOTimeoutOdczytu:
        typ = UslugaMuxTyp::TimeoutOdczytu;
        bit = 4;
        return true;
    default: return false;
    }
}

ZadanieRamki ZadanieUslugi(uint8_t typ) {
    ZadanieRamki z;
    z.usluga = true;
    z.typUslugi = typ;
    return z;
}

// A service request's body lives in the send area only while its frame goes
// out: the caller's request is put back.
bool WyslanieZadania(const ZadanieRamki& z) {
    if (!z.usluga) return NadanieRamkiMux(z);
    const Obszar<255> zachowany = ObszarNadawania;
    ZadanieRamki usluga = z;
    usluga.dlugoscTresci = TrescUslugi(z.typUslugi);
    const bool wyslane = NadanieRamkiMux(usluga);
    ObszarNadawania = zachowany;
    return wyslane;
}

bool ZadanieMuxTransportu(uint8_t trybPrefiksu, uint8_t rozkaz, uint8_t dlugoscPotwierdzenia,
                          uint8_t dlugoscTresci, uint8_t dlugoscStatusu, uint8_t dlugoscRekordu) {
    ZadanieRamki z;
    z.trybPrefiksu = trybPrefiksu;
    z.rozkaz = rozkaz;
    z.dlugoscPotwierdzenia = dlugoscPotwierdzenia;
    z.dlugoscTresci = dlugoscTresci;
    z.dlugoscStatusu = dlugoscStatusu;
    z.dlugoscRekordu = dlugoscRekordu;
    return ZadanieMuxZNaprawa(z);
}

}  // namespace

void UstawieniaDomyslneMux() {
    KodMux = kDomyslnyKod;
    NowyKodMux = kDomyslnyKod;
    BajtUslugowyMux = 0;
    gStan = Stan{};
}

bool NadanieRamkiMux(const ZadanieRamki& z) {
    uint8_t prefiks[2] = {kEsc, z.rozkaz};
    mux::Request r;
    r.control = Sterowanie(z);
    if (z.usluga) {
        r.prefix = &z.typUslugi;
        r.prefixLength = 1;
    } else {
        r.ackLength = z.dlugoscPotwierdzenia;
        r.statusLength = z.dlugoscStatusu;
        r.recordLength = z.dlugoscRekordu;
        r.prefix = prefiks;
        r.prefixLength = z.trybPrefiksu == Prefiks::Kontynuacja ? 0 : 2;
    }
    r.body = ObszarNadawania.Dane();
    r.bodyLength = z.dlugoscTresci;

    uint8_t ramka[mux::kFrameBufferSize];
    const std::size_t rozmiar = mux::BuildRequest(r, ramka);
    if (rozmiar == 0) {
        KodWyniku = Kod::ZapisRamkiMux;
        return false;
    }
    if (!Nosna()) {
        KodWyniku = Kod::BrakNosnejMux;
        return false;
    }
    for (std::size_t i = 0; i < rozmiar; ++i) {
        if (!ZapisBajtu(ramka[i])) {
            KodWyniku = Kod::ZapisRamkiMux;
            return false;
        }
    }
    return true;
}

bool OdbiorRamkiMux() {
    if (!Nosna()) {
        KodWyniku = Kod::BrakNosnejMux;
        return false;
    }
    mux::AnswerReceiver& o = gStan.odbiornik;
    o.Reset();
    for (std::size_t przeczytane = 0;; ++przeczytane) {
        const uint8_t bajt = OdczytBajtu();
        if (BladPortu || przeczytane == kLimitBajtowOdbioru) {
            KodWyniku = Kod::OdczytRamkiMux;
            return false;
        }
        const mux::AnswerReceiver::Step krok = o.Add(bajt);
        if (krok == mux::AnswerReceiver::Step::More) continue;
        if (krok == mux::AnswerReceiver::Step::Malformed || !o.ChecksumOk()) {
            KodWyniku = Kod::SumaRamkiMux;
            return false;
        }
        return KodSterujacy(o.Control());
    }
}

bool UslugaMux(uint8_t typ) {
    if (typ < UslugaMuxTyp::Identyfikacja || typ > UslugaMuxTyp::DrugaCzesc) {
        KodWyniku = Kod::NieznanaUslugaMux;
        return false;
    }
    return WyslanieZadania(ZadanieUslugi(typ)) && OdbiorRamkiMux();
}

PoNaprawie NaprawaMux() {
    uint8_t obsluzoneUstawienia = 0;  // bits of 39, 40, 41 served in this recovery
    bool ponowienie = false;
    const uint8_t limitUstawien = std::max<uint8_t>(LimitPowtorzenMux, 1);
    for (;;) {
        uint8_t typ = 0;
        uint8_t bit = 0;
        switch (KodWyniku) {
        case Kod::Sukces: return ponowienie ? PoNaprawie::Ponowienie : PoNaprawie::Odpowiedz;
        case Kod::SumaRamkiMux:
            if (gStan.licznikPowtorzen == LimitPowtorzenMux) return PoNaprawie::Blad;
            KodWyniku = Kod::Sukces;
            ++gStan.licznikPowtorzen;
            UslugaMux(UslugaMuxTyp::Powtorzenie);
            break;
        case Kod::PowtorzZadanieMux:
            if (gStan.licznikRetransmisji == LimitPowtorzenMux) return PoNaprawie::Blad;
            KodWyniku = Kod::Sukces;
            ++gStan.licznikRetransmisji;
            ponowienie = true;
            break;
        case Kod::DrugaCzescMux:
            KodWyniku = Kod::Sukces;
            UslugaMux(UslugaMuxTyp::DrugaCzesc);
            break;
        default:
            if (!KodUstawien(KodWyniku, typ, bit)) return PoNaprawie::Blad;
            // A multiplexer that asks again right after it was told would
            // otherwise be told for ever.
            if ((obsluzoneUstawienia & bit) != 0 || gStan.uslugiUstawien >= limitUstawien)
                return PoNaprawie::Blad;
            obsluzoneUstawienia |= bit;
            ++gStan.uslugiUstawien;
            KodWyniku = Kod::Sukces;
            UslugaMux(typ);
            ponowienie = true;
            break;
        }
    }
}

bool ZadanieMuxZNaprawa(const ZadanieRamki& zadanie) {
    gStan.licznikPowtorzen = 0;
    gStan.licznikRetransmisji = 0;
    gStan.uslugiUstawien = 0;
    gStan.dlugoscLadunku = 0;
    gStan.indeksOdczytu = 0;
    gStan.kontynuacja = false;
    for (;;) {
        if (!WyslanieZadania(zadanie)) return false;
        if (OdbiorRamkiMux()) return true;
        switch (NaprawaMux()) {
        case PoNaprawie::Blad: return false;
        case PoNaprawie::Odpowiedz: return true;
        case PoNaprawie::Ponowienie: break;
        }
    }
}

bool IdentyfikacjaMux(std::string& identyfikacja) {
    identyfikacja.clear();
    const ZadanieRamki z = ZadanieUslugi(UslugaMuxTyp::Identyfikacja);
    if (!ZadanieMuxZNaprawa(z)) return false;
    const std::size_t n = std::min<std::size_t>(gStan.dlugoscLadunku, kDlugoscIdentyfikacjiMux);
    identyfikacja.assign(reinterpret_cast<const char*>(ObszarOdpowiedzi.Dane()), n);
    return true;
}

bool ZmianaKoduMux() {
    const ZadanieRamki z = ZadanieUslugi(UslugaMuxTyp::ZmianaKodu);
    if (!ZadanieMuxZNaprawa(z)) return false;
    KodMux = NowyKodMux;
    return true;
}

bool UstawienieBajtuUslugowegoMux() {
    const ZadanieRamki z = ZadanieUslugi(UslugaMuxTyp::BajtUslugowy);
    return ZadanieMuxZNaprawa(z);
}

bool PolecenieMux(const char* tekst) {
    const std::size_t dlugosc = std::strlen(tekst);
    const bool bezCR = dlugosc == 0 || std::strcmp(tekst, "+++") == 0;
    const std::size_t razem = dlugosc + (bezCR ? 0 : 1);
    if (razem > ObszarNadawania.Rozmiar) {
        KodWyniku = Kod::ZapisRamkiMux;
        return false;
    }
    for (std::size_t i = 0; i < dlugosc; ++i)
        ObszarNadawania[1 + i] = static_cast<uint8_t>(tekst[i]);
    if (!bezCR) ObszarNadawania[razem] = kCR;
    // The multiplexer takes a command line only after a quiet moment.
    Port().Opoznienie(kPauzaPoleceniaMs);
    for (std::size_t p = 1; p <= razem; ++p) {
        if (!ZapisBajtu(ObszarNadawania[p])) {
            KodWyniku = Kod::ZapisRamkiMux;
            return false;
        }
    }
    Port().Opoznienie(kPauzaPoleceniaMs);
    return true;
}

bool BajtOdpowiedziMux(uint8_t* bajt) {
    ++gStan.indeksOdczytu;
    if (gStan.indeksOdczytu <= gStan.dlugoscLadunku) {
        *bajt = ObszarOdpowiedzi[gStan.indeksOdczytu];
        return true;
    }
    *bajt = 0;
    KodWyniku = Kod::KoniecDanychMux;
    return false;
}

const TransportMux& WbudowanyTransportMux() {
    static const TransportMux kTransport{ZadanieMuxTransportu, BajtOdpowiedziMux};
    return kTransport;
}

}  // namespace vorin::link

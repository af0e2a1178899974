// The server command channel over the platform message bus.
#include "link/server_channel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "diag/diag.h"
#include "driverfiles/records.h"
#include "link/link.h"
#include "platform/message_bus.h"
#include "vorin/driver.h"
#include "vorin/serial.h"

namespace vorin::link {
namespace {

namespace pf = vorin::platform;

std::atomic<uint32_t> gNumer{0};
std::atomic<uint32_t> gIdZastepczy{0};
std::atomic<uint32_t> gOkresCounter{0};
std::atomic<bool> gGadatliwy{false};
std::atomic<bool> gZawieszony{false};
std::mutex gNazwaBlokada;
std::string gNazwa;

constexpr std::size_t kDlugoscNazwy = 255;

uint32_t IdWUzyciu() {
    const uint32_t id = gIdZastepczy.load();
    return id != 0 ? id : pf::CurrentProcessId();
}

// A full queue gives up reports (ours come back to us, other drivers' pass
// by, the pump posts one every millisecond of a transfer), never a command
// addressed to this driver. Runs on the bus's drain thread: atomics only.
bool RozkazDlaNas(const pf::BusMessage& m) {
    const char litera = static_cast<char>(m.lParam & 0xFF);
    return m.number != 0 && m.number == gNumer.load() && m.wParam == IdWUzyciu() && litera >= 'a' &&
           litera <= 'z';
}

// The calling thread's queue, made at its first use on the channel: a
// broadcast reaches only queues that exist when it is posted.
pf::BusParticipant* Uczestnik() {
    thread_local std::unique_ptr<pf::BusParticipant> uczestnik;
    if (!uczestnik) uczestnik = pf::BusParticipant::Open(&RozkazDlaNas);
    return uczestnik.get();
}

uint32_t Ogranicz(uint32_t wartosc) { return std::min(wartosc, kWartoscMaks); }

// A server's command waits for a receiver whose queue is full; a driver's
// report passes by one that has stayed full (see BusBroadcast).
bool Wyslij(uint32_t wParam, char litera, uint32_t wartosc, bool rozkaz) {
    const uint32_t numer = gNumer.load();
    if (numer == 0) return false;
    Uczestnik();
    const uint32_t lParam = static_cast<uint8_t>(litera) | (Ogranicz(wartosc) << 8);
    return pf::BusBroadcast({numer, wParam, lParam}, rozkaz);
}

// The "###DRIVER: " line of one event, when verbose.
void Linia(const char* zdarzenie) {
    if (!gGadatliwy.load()) return;
    const std::string nazwa = NazwaSterownika();
    diag::Komunikat("%s%s%s%d%s", "###DRIVER: ", nazwa,
                    ", PID=", static_cast<int32_t>(pf::CurrentProcessId()), zdarzenie);
}

// Reports that gave way in this thread's full queue, once per batch.
void ZgloszeniePominietych(const pf::BusParticipant& u) {
    thread_local uint64_t zgloszone = 0;
    const uint64_t pominiete = u.Dropped();
    if (pominiete == zgloszone) return;
    const uint64_t nowe = pominiete - zgloszone;
    zgloszone = pominiete;
    if (!gGadatliwy.load()) return;
    const std::string nazwa = NazwaSterownika();
    diag::Komunikat("%s%s%s%d%s%d%s", "###DRIVER: ", nazwa,
                    ", PID=", static_cast<int32_t>(pf::CurrentProcessId()), " pominal ",
                    static_cast<int32_t>(std::min<uint64_t>(nowe, 0x7FFFFFFF)),
                    " najstarszych komunikatow, kolejka pelna ###\n");
}

void Raport(char litera, uint32_t wartosc, const char* zdarzenie) {
    KomunikatDoSerwera(litera, wartosc);
    Linia(zdarzenie);
}

// The pump thread of the serial library answers as the same driver.
void PowiadomBibliotekePortu() { vorin_serial_set_channel(gNumer.load(), IdSterownika()); }

void PoRozkazieHak(uint32_t licznik) { RaportPoRozkazie(licznik); }

const KanalSerwera kKanal{&ObslugaRozkazowSerwera, &PoRozkazieHak};

void PowiadomienieOLiniach(char kod, uint32_t liczba) {
    if (gNumer.load() == 0) return;
    Raport(kod, liczba,
           kod == 'L' ? " poslal komunikat LINES do Serwera ###\n"
                      : " poslal komunikat OUTLINES do Serwera ###\n");
}

// Served once per loaded library: the driver files tell the channel about
// every counted line from the start.
const bool kZarejestrowano = [] {
    driverfiles::SetLineCountNotice(&PowiadomienieOLiniach);
    return true;
}();

// One command by the table; false when the request must end here.
bool ObsluzRozkaz(char rozkaz) {
    switch (rozkaz) {
    case 'a': Raport('A', 0, " wykonal rozkaz AVAILABLE Serwera ###\n"); return true;
    case 'b':
        KodWyniku = Kod::PrzerwanieSerwera;
        Raport('B', 0, " wykonal rozkaz BREAK Serwera ###\n");
        return false;
    case 'c': Raport('C', LicznikRozkazow, " wykonal rozkaz COUNTER Serwera ###\n"); return true;
    case 'l':
        Raport('L', driverfiles::TheDriverFileState().linesRead.load(),
               " wykonal rozkaz LINES Serwera ###\n");
        return true;
    case 'o':
        Raport('O', driverfiles::TheDriverFileState().linesWritten.load(),
               " wykonal rozkaz OUTLINES Serwera ###\n");
        return true;
    case 'r':
        // Cleared first: the port's open may itself run a request exchange
        // (the channel switch of multiplexer mode 3), which must find the
        // driver running.
        if (gZawieszony.exchange(false)) OtwarciePortu();
        Raport('R', 0, " wykonal rozkaz RESUME Serwera ###\n");
        return true;
    case 's':
        if (!gZawieszony.load()) ZamknieciePortu();
        gZawieszony = true;
        Raport('S', 0, " wykonal rozkaz SUSPEND Serwera ###\n");
        return true;
    default:
        KodWyniku = Kod::NieznanyRozkazSerwera;
        Linia(" odebral nieznany rozkaz Serwera ###\n");
        return false;
    }
}

}  // namespace

uint32_t NumerKomunikatu() { return gNumer.load(); }

void UstawNumerKomunikatu(uint32_t numer) {
    gNumer = numer;
    UstawKanalSerwera(numer != 0 ? &kKanal : nullptr);
    // The queue must exist before the server's first command is posted.
    if (numer != 0) Uczestnik();
    PowiadomBibliotekePortu();
}

void UstawIdSterownikaZastepczy(uint32_t id) {
    gIdZastepczy = id;
    PowiadomBibliotekePortu();
}

uint32_t IdSterownika() { return IdWUzyciu(); }

void UstawOkresCOUNTER(uint32_t okres) { gOkresCounter = Ogranicz(okres); }
void UstawOkresLINES(uint32_t okres) {
    driverfiles::TheDriverFileState().linesPeriod = Ogranicz(okres);
}
void UstawOkresOUTLINES(uint32_t okres) {
    driverfiles::TheDriverFileState().outlinesPeriod = Ogranicz(okres);
}

void UstawGadatliwosc(bool wlaczona) { gGadatliwy = wlaczona; }
bool Gadatliwosc() { return gGadatliwy.load(); }
void UstawZawieszenie(bool zawieszony) { gZawieszony = zawieszony; }
bool Zawieszony() { return gZawieszony.load(); }

void UstawNazweSterownika(const std::string& nazwa) {
    std::lock_guard<std::mutex> blokada(gNazwaBlokada);
    gNazwa = nazwa.substr(0, kDlugoscNazwy);
}

void DopiszDoNazwySterownika(const std::string& tekst) {
    std::lock_guard<std::mutex> blokada(gNazwaBlokada);
    gNazwa = (gNazwa + tekst).substr(0, kDlugoscNazwy);
}

std::string NazwaSterownika() {
    std::lock_guard<std::mutex> blokada(gNazwaBlokada);
    return gNazwa;
}

void UstawieniaDomyslneKanalu() {
    UstawNumerKomunikatu(0);
    UstawIdSterownikaZastepczy(0);
    UstawOkresCOUNTER(0);
    UstawOkresLINES(0);
    UstawOkresOUTLINES(0);
    UstawGadatliwosc(false);
    UstawZawieszenie(false);
    UstawNazweSterownika("");
}

bool KomunikatDoSerwera(char litera, uint32_t wartosc) {
    return Wyslij(IdSterownika(), litera, wartosc, false);
}

char RozkazSerwera(uint32_t* wartosc) {
    const uint32_t numer = gNumer.load();
    if (numer == 0) return 0;
    pf::BusParticipant* u = Uczestnik();
    if (u == nullptr) return 0;
    const uint32_t id = IdSterownika();
    pf::BusMessage m;
    char rozkaz = 0;
    while (u->Take(numer, &m)) {
        const char litera = static_cast<char>(m.lParam & 0xFF);
        if (m.wParam == id && litera >= 'a' && litera <= 'z') {
            if (wartosc != nullptr) *wartosc = m.lParam >> 8;
            rozkaz = litera;
            break;
        }
    }
    ZgloszeniePominietych(*u);
    return rozkaz;
}

bool CzekanieNaKomunikat() {
    if (gNumer.load() == 0) return false;
    pf::BusParticipant* u = Uczestnik();
    return u != nullptr && u->Wait(0xFFFFFFFFu);
}

bool OgloszenieDostepnosci() {
    if (gNumer.load() == 0) return false;
    const bool wyslano = KomunikatDoSerwera('A', 0);
    Linia(" poslal komunikat AVAILABLE do Serwera ###\n");
    return wyslano;
}

bool ObslugaRozkazowSerwera() {
    if (gNumer.load() == 0) return true;
    // A request exchange made while a command is being served (the channel
    // switch of RESUME's port open) is part of that command: serving the
    // channel again there would take the next command in the middle of this
    // one, or wait inside RESUME for another RESUME.
    thread_local bool tObsluga = false;
    if (tObsluga) return true;
    struct Znacznik {
        Znacznik() { tObsluga = true; }
        ~Znacznik() { tObsluga = false; }
    } znacznik;
    for (;;) {
        const char rozkaz = RozkazSerwera(nullptr);
        if (rozkaz != 0 && !ObsluzRozkaz(rozkaz)) return false;
        if (!gZawieszony.load()) return true;
        // A queue that cannot be waited on would turn this into a busy
        // loop: let the request go on (it meets the closed port) instead.
        if (!CzekanieNaKomunikat()) return true;
    }
}

void RaportPoRozkazie(uint32_t licznikRozkazow) {
    const uint32_t okres = gOkresCounter.load();
    if (gNumer.load() == 0 || okres == 0 || licznikRozkazow % okres != 0) return;
    Raport('C', licznikRozkazow, " poslal komunikat COUNTER do Serwera ###\n");
}

bool KomunikatSerwera(uint32_t idSterownika, char litera, uint32_t wartosc) {
    return Wyslij(idSterownika, litera, wartosc, true);
}

char OdbiorKomunikatu(uint32_t* idSterownika, uint32_t* wartosc, uint32_t czekajMs) {
    const uint32_t numer = gNumer.load();
    if (numer == 0) return 0;
    pf::BusParticipant* u = Uczestnik();
    if (u == nullptr) return 0;
    using Zegar = std::chrono::steady_clock;
    const bool bezKonca = czekajMs == 0xFFFFFFFFu;
    const auto koniec = Zegar::now() + std::chrono::milliseconds(bezKonca ? 0 : czekajMs);
    for (bool ostatni = false;;) {
        pf::BusMessage m;
        while (u->Take(numer, &m)) {
            const char litera = static_cast<char>(m.lParam & 0xFF);
            if (litera < 'A' || litera > 'Z') continue;
            if (idSterownika != nullptr) *idSterownika = m.wParam;
            if (wartosc != nullptr) *wartosc = m.lParam >> 8;
            ZgloszeniePominietych(*u);
            return litera;
        }
        ZgloszeniePominietych(*u);
        if (ostatni) return 0;
        uint32_t zostalo = 0xFFFFFFFFu;
        if (!bezKonca) {
            const auto teraz = Zegar::now();
            if (teraz >= koniec) return 0;
            zostalo = static_cast<uint32_t>(
                std::chrono::ceil<std::chrono::milliseconds>(koniec - teraz).count());
        }
        // A wait that ends without news (its time is up, or the queue cannot
        // be waited on) gets one more look, then the fetch ends: looping on a
        // wait that fails at once would spin until the deadline.
        ostatni = !u->Wait(zostalo);
    }
}

}  // namespace vorin::link

namespace lk = vorin::link;

extern "C" {

uint32_t vorin_message_number(void) { return lk::NumerKomunikatu(); }
void vorin_set_message_number(uint32_t number) { lk::UstawNumerKomunikatu(number); }
uint8_t KomunikatDoSerwera(char letter, uint32_t value) {
    return lk::KomunikatDoSerwera(letter, value) ? 1 : 0;
}
char RozkazSerwera(uint32_t* value) { return lk::RozkazSerwera(value); }
uint8_t vorin_server_post(uint32_t driverId, char letter, uint32_t value) {
    return lk::KomunikatSerwera(driverId, letter, value) ? 1 : 0;
}
char vorin_server_fetch(uint32_t* driverId, uint32_t* value, uint32_t waitMs) {
    return lk::OdbiorKomunikatu(driverId, value, waitMs);
}
uint8_t vorin_channel_usable(char* why) {
    std::string dlaczego;
    const bool mozna = vorin::platform::BusUsable(&dlaczego);
    if (why != nullptr) {
        const std::size_t n = std::min<std::size_t>(dlaczego.size(), 255);
        dlaczego.copy(why, n);
        why[n] = '\0';
    }
    return mozna ? 1 : 0;
}
uint8_t vorin_channel_has_process(uint32_t pid) {
    return vorin::platform::BusHasProcess(pid) ? 1 : 0;
}

}  // extern "C"

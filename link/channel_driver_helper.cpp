// A driver process for the server channel tests: it announces itself, then
// makes request exchanges when the test asks for them on a control message
// number of the bus, and reports each outcome there. The exchanges go to a
// real port (the simulator) when one is given, else they fail at once on the
// closed port, which is enough to see the channel's side.
//
//   channel_driver_helper MESSAGE CONTROL DIR [--port N] [--id ID]
//                         [--counter-period K] [--verbose]
//
// Control (lParam low byte, test to helper): 1 one exchange, 2 set the
// request counter to wParam, 3 quit, 4 open the port. The helper answers
// 201 ready (wParam = its process id) and 202 exchange done (wParam = the
// request counter, lParam bits 8-15 = the result code).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "link/link.h"
#include "link/server_channel.h"
#include "platform/message_bus.h"

namespace lk = vorin::link;
namespace pf = vorin::platform;

namespace {

uint32_t gBlok = 0;

// One code page block, as the loader sends it: the request exchange with the
// first half, then the continuation with the second half and its CRC.
void Blok() {
    lk::KodWyniku = 0;
    const uint32_t numer = 320 + (gBlok++ % 144);
    lk::SumaKontrolna = 0;
    lk::ObszarNadawania[1] = lk::BajtSlowa(2, numer);
    lk::ObszarNadawania[2] = lk::BajtSlowa(1, numer);
    for (int i = 3; i <= 130; ++i) lk::ObszarNadawania[i] = static_cast<uint8_t>(i);
    for (int i = 1; i <= 130; ++i) lk::AktualizacjaCRC(lk::ObszarNadawania[i]);
    lk::WykonanieRozkazu(1, 1, 130, 1);
    if (lk::KodWyniku != 0) return;
    for (int i = 1; i <= 128; ++i) {
        lk::ObszarNadawania[i] = static_cast<uint8_t>(i * 3);
        lk::AktualizacjaCRC(lk::ObszarNadawania[i]);
    }
    lk::ObszarNadawania[129] = lk::BajtSlowa(2, lk::SumaKontrolna);
    lk::ObszarNadawania[130] = lk::BajtSlowa(1, lk::SumaKontrolna);
    lk::WymianaRamki(lk::Prefiks::Kontynuacja, 0, 0, 130, 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const uint32_t message = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0));
    const uint32_t control = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0));
    std::filesystem::current_path(argv[3]);
    uint8_t port = 0;
    for (int i = 4; i < argc; ++i) {
        const std::string a = argv[i];
        const uint32_t v =
            i + 1 < argc ? static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 0)) : 0;
        if (a == "--port")
            port = static_cast<uint8_t>(v), ++i;
        else if (a == "--id")
            lk::UstawIdSterownikaZastepczy(v), ++i;
        else if (a == "--counter-period")
            lk::UstawOkresCOUNTER(v), ++i;
        else if (a == "--verbose")
            lk::UstawGadatliwosc(true), lk::UstawNazweSterownika("helper");
    }
    auto bus = pf::BusParticipant::Open();
    if (!bus) return 3;
    lk::UstawNumerKomunikatu(message);
    lk::OgloszenieDostepnosci();
    auto open = [&] {
        lk::NumerPortu = port;
        lk::Predkosc = 38400;
        lk::KodParzystosci = 2;
        lk::OtwarciePortu();
    };
    if (port != 0) open();
    pf::BusBroadcast({control, pf::CurrentProcessId(), 201});
    for (;;) {
        pf::BusMessage m;
        if (!bus->Take(control, &m)) {
            if (!bus->Wait(30000)) return 4;  // the test is gone
            continue;
        }
        switch (m.lParam & 0xFF) {
        case 1:
            Blok();
            pf::BusBroadcast({control, lk::LicznikRozkazow, 202u | (uint32_t{lk::KodWyniku} << 8)});
            break;
        case 2: lk::LicznikRozkazow = m.wParam; break;
        case 3: lk::ZamknieciePortu(); return 0;
        case 4: open(); break;
        default: break;  // our own reports come back here too
        }
    }
}

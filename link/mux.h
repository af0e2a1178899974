// The multiplexer frame transport of multiplexer mode 2: every printer request
// travels in one frame to a multiplexer that forwards it to the printer and
// answers with a frame holding the printer's answer. The transport recovers
// from the multiplexer's complaints (repeat, retransmit, send your code or
// timeouts, second piece) and offers the multiplexer's own services.
//
// The frame exchange (WymianaRamki) uses it by itself when TrybMux is 2; the
// functions below are for the service operations and for tests.
//
// Frames keep a checksum of their own: the link's running checksum
// (SumaKontrolna) belongs to the caller, who may be halfway through a block.
//
// Result codes besides those of link.h: 35 to 38 control code 1 to 4 (35: the
// multiplexer asks for the request again), 36 also an unknown service type,
// 39/40/41 the multiplexer asks for its code / the write timeout / the read
// timeout, 42 control code 7, 43 any other control code and a two-piece
// answer longer than the answer area, 53 control code 8 (a second piece
// follows). A request too long for one frame is refused with 32 before
// anything is sent; an answer frame whose length code cannot be right (below
// 5, or longer than the frame buffer) is taken as damaged, 34.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vorin::link {

namespace Kod {
inline constexpr uint8_t PowtorzZadanieMux = 35;      // control code 1
inline constexpr uint8_t NieznanaUslugaMux = 36;      // control code 2; unknown service type
inline constexpr uint8_t KodMux3 = 37;                // control code 3
inline constexpr uint8_t KodMux4 = 38;                // control code 4
inline constexpr uint8_t ProsbaOKodMux = 39;          // control bit 0x10
inline constexpr uint8_t ProsbaOTimeoutZapisu = 40;   // control bit 0x20
inline constexpr uint8_t ProsbaOTimeoutOdczytu = 41;  // control bit 0x40
inline constexpr uint8_t KodMux7 = 42;                // control code 7
inline constexpr uint8_t InnyKodMux = 43;             // any other control code; answer too long
inline constexpr uint8_t DrugaCzescMux = 53;          // control code 8: a second piece follows
}  // namespace Kod

// Service request types.
namespace UslugaMuxTyp {
inline constexpr uint8_t Identyfikacja = 1;   // answer: 12 characters
inline constexpr uint8_t ZmianaKodu = 2;      // body: the new code text
inline constexpr uint8_t PodanieKodu = 3;     // body: the code text
inline constexpr uint8_t TimeoutZapisu = 4;   // body: write timeout, low byte first
inline constexpr uint8_t TimeoutOdczytu = 5;  // body: read timeout, low byte first
inline constexpr uint8_t Powtorzenie = 6;     // send the last answer again
inline constexpr uint8_t BajtUslugowy = 7;    // body: the service byte
inline constexpr uint8_t DrugaCzesc = 8;      // send the second piece
}  // namespace UslugaMuxTyp

inline constexpr std::size_t kDlugoscKoduMux = 8;
inline constexpr std::size_t kDlugoscIdentyfikacjiMux = 12;

// Settings for the services (configuration). The code text defaults to
// "00000000", the new code text too, the service byte to 0.
extern std::array<char, kDlugoscKoduMux> KodMux;
extern std::array<char, kDlugoscKoduMux> NowyKodMux;
extern uint8_t BajtUslugowyMux;
// Puts the three back to their defaults and forgets any answer.
void UstawieniaDomyslneMux();

// One request as a frame carries it: a printer request (prefix mode,
// command, lengths; the body is send area positions 1..dlugoscTresci) or a
// service request (usluga, its body in the send area too).
struct ZadanieRamki {
    bool usluga = false;
    uint8_t typUslugi = 0;
    uint8_t trybPrefiksu = 0;
    uint8_t rozkaz = 0;
    uint8_t dlugoscPotwierdzenia = 0;
    uint8_t dlugoscTresci = 0;
    uint8_t dlugoscStatusu = 0;
    uint8_t dlugoscRekordu = 0;
};

// Builds and sends one frame. 30 without carrier detect, 32 when a byte
// does not go out or the request does not fit one frame.
bool NadanieRamkiMux(const ZadanieRamki& zadanie);

// Receives, checks and acts on one answer frame; the payload goes to the
// answer area. 30, 33 (a byte did not come, or no "BRAXO" among 4096 bytes),
// 34, or the control code's result.
bool OdbiorRamkiMux();

// One service request and its answer, without recovery. Types 0 and 9 up:
// 36, nothing sent. Send area positions 1 to 255 are as before afterwards.
bool UslugaMux(uint8_t typ);

// What the recovery left the request with.
enum class PoNaprawie {
    Blad,        // KodWyniku says why; the exchange ends
    Odpowiedz,   // the answer to the request is in (repeated or joined)
    Ponowienie,  // the request must be sent again
};
// The recovery after a failed answer, a loop over KodWyniku. Codes 34 and 35
// are retried up to LimitPowtorzenMux times each (never with 0). Each of 39,
// 40, 41 is served once per recovery, and the request may go out again after
// such a service at most LimitPowtorzenMux times (at least once): then the
// complaint stands.
PoNaprawie NaprawaMux();

// A request with its recovery: sent, answered, repaired, sent again as the
// recovery says. The frame exchange's step in mode 2, and each service run.
bool ZadanieMuxZNaprawa(const ZadanieRamki& zadanie);

// Service runs. The identification is the 12 characters of the answer (fewer
// when the multiplexer sent fewer).
bool IdentyfikacjaMux(std::string& identyfikacja);
// Type 2 with NowyKodMux; on success NowyKodMux becomes KodMux.
bool ZmianaKoduMux();
// Type 7 with BajtUslugowyMux.
bool UstawienieBajtuUslugowegoMux();

// A raw command line to the multiplexer, outside any frame: the text and a
// carriage return (none after an empty text or exactly "+++"), with 100 ms of
// quiet before and after. 32 when a byte does not go out or the text is
// longer than 254 characters (nothing is sent then).
bool PolecenieMux(const char* tekst);

// The next payload byte for the reading phases; past the end 0 and 45.
bool BajtOdpowiedziMux(uint8_t* bajt);

// The transport above as the frame exchange calls it (its default).
struct TransportMux;
const TransportMux& WbudowanyTransportMux();

}  // namespace vorin::link

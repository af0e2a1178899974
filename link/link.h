// The printer link: result codes, link state, the frame exchange with the
// printer and the port binding beneath it.
//
// Every outcome is reported in one process-wide result code (`KodWyniku`,
// 0 = success). An operation that fails sets it; nothing resets it except the
// caller, who starts each exchange with the code at 0 and tests it afterwards.
//
// Threads: the link and all its state belong to the one thread that runs the
// exchanges (the program's main thread). Nothing here is locked; no other
// thread may touch these variables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vorin::link {

// ---- Result codes -----------------------------------------------------------

// The codes the link and the loader raise by name. Printer status bytes s come
// back as 100 + s (102 to 231).
namespace Kod {
inline constexpr uint8_t Sukces = 0;
inline constexpr uint8_t BladSumyCRC = 1;            // loader: printer found a checksum error
inline constexpr uint8_t BladWeryfikacji = 2;        // loader: printer found a verification error
inline constexpr uint8_t TimeoutNadawania = 20;      // a byte could not be written
inline constexpr uint8_t TimeoutOdbierania = 21;     // a byte could not be read in time
inline constexpr uint8_t NiepoprawnaOdpowiedz = 23;  // answer byte not one of the accepted values
inline constexpr uint8_t OdpowiedzNAK = 24;          // command answered with NAK
inline constexpr uint8_t OdpowiedzC8 = 26;           // command answered with 0xC8
inline constexpr uint8_t BrakNosnejMux = 30;         // multiplexer line: carrier detect off
inline constexpr uint8_t ZapisRamkiMux = 32;       // a multiplexer frame byte could not be written
inline constexpr uint8_t OdczytRamkiMux = 33;      // a multiplexer frame byte could not be read
inline constexpr uint8_t SumaRamkiMux = 34;        // multiplexer answer frame failed its checksum
inline constexpr uint8_t KoniecDanychMux = 45;     // read past the multiplexer payload
inline constexpr uint8_t PrzelaczenieKanalu = 52;  // channel switch of multiplexer mode 3 failed
inline constexpr uint8_t NieznanyRozkazSerwera = 54;
inline constexpr uint8_t PrzerwanieSerwera = 56;  // the server sent BREAK
inline constexpr uint8_t BrakDrukarki = 57;       // line check found no printer
inline constexpr uint8_t Odpowiedz01 = 101;       // command answered with 0x01 (prefix mode 0)
inline constexpr uint8_t Odpowiedz65 = 201;       // command answered with 0x65 (prefix mode 0)
inline constexpr uint8_t Status122 = 222;  // printer status 122 (two more answer bytes follow)
}  // namespace Kod

// Translates an error number (0 to 106) into its result code; any other byte
// comes back unchanged. No side effect: the caller stores the value.
uint8_t KodBledu(uint8_t numerBledu);

// The operator's text for a result code, as the loader prints it after
// "Blad nr %d: ": "blad sumy CRC", "blad weryfikacji danych",
// "timeout nadawania", "timeout odbierania",
// "niepoprawna odpowiedz z drukarki",
// "drukarka odpowiedziala NAK na sekwencje sterujaca", else "inny blad".
const char* OpisKoduWyniku(uint8_t kod);

// ---- Send and answer areas ------------------------------------------------------

// A byte area addressed by position 1 to N, as the printer protocol counts.
// A position outside 1..N reads as 0 and a write to it is dropped, so a wrong
// length can never reach memory beside the area.
template <std::size_t N>
class Obszar {
public:
    static constexpr std::size_t Rozmiar = N;

    uint8_t& operator[](std::size_t pozycja) noexcept {
        if (pozycja >= 1 && pozycja <= N) return bajty_[pozycja - 1];
        poza_ = 0;
        return poza_;
    }
    uint8_t operator[](std::size_t pozycja) const noexcept {
        return (pozycja >= 1 && pozycja <= N) ? bajty_[pozycja - 1] : 0;
    }
    // Position 1 onwards, N bytes: for copying whole runs in or out.
    uint8_t* Dane() noexcept { return bajty_.data(); }
    const uint8_t* Dane() const noexcept { return bajty_.data(); }
    void Zeruj() noexcept { bajty_.fill(0); }

private:
    std::array<uint8_t, N> bajty_{};
    uint8_t poza_ = 0;
};

// ---- Link state (process-wide, one instance) --------------------------------------

extern uint8_t KodWyniku;             // current result code; default 0
extern uint8_t NumerPortu;            // COM port number; default 1
extern uint32_t Predkosc;             // baud; default 9600
extern uint8_t KodParzystosci;        // 0 none, 1 odd, 2 even; default 2
extern uint8_t TrybMux;               // multiplexer mode 0 to 3; default 0
extern uint8_t NumerKanalu;           // multiplexer channel; default 1
extern uint32_t TimeoutZapisu;        // seconds; default 3
extern uint32_t TimeoutOdczytu;       // seconds; default 3
extern uint8_t UstawienieCTS;         // CTS output flow control; default 1
extern uint8_t PortOtwarty;           // port-open flag; default 0
extern uint8_t BladPortu;             // port I/O error flag: the last single-byte call failed
extern uint32_t SumaKontrolna;        // running CRC-16 (upper 16 bits stay 0); default 0
extern Obszar<255> ObszarNadawania;   // send area, positions 1 to 255
extern Obszar<254> ObszarOdpowiedzi;  // answer area, positions 1 to 254
extern uint8_t ZnacznikOdpowiedzi;    // answer tag (status byte of 0x9A, 0xE5, 0xFC)
extern uint32_t StanLinii;  // line check: 0 passed, 256 DSR not following RTS, 257 no carrier

// Multiplexer mode 2 settings from the driver configuration.
extern uint32_t PredkoscDrukarki;   // printer's own speed, kept aside; default 0
extern uint8_t KanalDrukarki;       // printer's own channel, kept aside; default 0
extern uint32_t TimeoutZapisuMux;   // used instead of TimeoutZapisu in mode 2; default 0
extern uint32_t TimeoutOdczytuMux;  // used instead of TimeoutOdczytu in mode 2; default 0
extern uint8_t LimitPowtorzenMux;   // multiplexer retry limit; default 0

// Kept by device identification; command 0xE5 reads it. Default 0.
extern uint8_t KodTypuUrzadzenia;

// Request exchanges made (WykonanieRozkazu counts every one). Default 0.
extern uint32_t LicznikRozkazow;

// Puts every variable above back to its default (areas to 0, port-open flag
// to 0: it does not close a port; call ZamknieciePortu first).
void UstawieniaDomyslneLacza();

// ---- Checksum and byte helpers ----------------------------------------------------

// Feeds one byte into SumaKontrolna: CRC-16/ARC (reflected 0x8005, init 0, no
// final XOR; check value 0xBB3D). Callers set SumaKontrolna to 0 themselves.
void AktualizacjaCRC(uint8_t bajt);

// Byte n of a 32-bit word, n = 1 for bits 0-7 up to n = 4 for bits 24-31;
// any other n gives 0. Send a 16-bit value high byte first with n = 2, then 1.
uint8_t BajtSlowa(uint8_t n, uint32_t slowo);

// The record length that lets a record list end early with 0xFF, for a command
// and its lengths (command 0xA1 looks at send area position 1); 0 when the
// command has none.
uint8_t DlugoscRekordu(uint8_t rozkaz, uint8_t dlugoscPotwierdzenia, uint8_t dlugoscTresci,
                       uint8_t dlugoscStatusu);

// ---- Exchanges ------------------------------------------------------------------------

// Prefix modes of WymianaRamki.
namespace Prefiks {
inline constexpr uint8_t Rozkaz = 0;        // ESC + command, detailed acknowledgement mapping
inline constexpr uint8_t RozkazProsty = 1;  // ESC + command, plain acknowledgement mapping
inline constexpr uint8_t Kontynuacja = 2;   // nothing before the body
}  // namespace Prefiks

// One frame exchange: discard the port's contents, send the prefix (unless
// continuation), read the acknowledgement and `dlugoscPotwierdzenia` - 1 answer
// bytes, send send-area positions 1..dlugoscTresci, read the status byte and
// `dlugoscStatusu` - 1 answer bytes. Outcome: KodWyniku and ObszarOdpowiedzi
// (each reading phase stores from position 1). Never retries.
void WymianaRamki(uint8_t trybPrefiksu, uint8_t rozkaz, uint8_t dlugoscPotwierdzenia,
                  uint8_t dlugoscTresci, uint8_t dlugoscStatusu);

// The request exchange for a new request: serves the server channel when one
// is installed (see KanalSerwera), runs WymianaRamki in prefix mode 0 and
// counts the request. The loader: WykonanieRozkazu(1, 1, 130, 1).
void WykonanieRozkazu(uint8_t rozkaz, uint8_t dlugoscPotwierdzenia, uint8_t dlugoscTresci,
                      uint8_t dlugoscStatusu);

// ---- Port binding ---------------------------------------------------------------------

// true when the computer has COM port `numer` and it can be opened now.
bool ObecnoscPortu(uint8_t numer);

// Closes any open port, passes UstawienieCTS, opens NumerPortu at Predkosc
// with the timeouts (the multiplexer ones in mode 2), sets the parity and
// selects the channel by TrybMux. PortOtwarty tells whether it opened; a mode 3
// channel switch that fails leaves KodWyniku 52.
void OtwarciePortu();

// Closes the port when PortOtwarty is set; otherwise makes no call.
void ZamknieciePortu();

// 9600 baud selects no parity, 19200 even parity; then CTS flow control goes
// off and the port is opened again (OtwarciePortu).
void UstawieniePredkosci();

// One byte to the port. Sets BladPortu unless it moved; true when it moved.
bool ZapisBajtu(uint8_t bajt);

// One byte from the port, bounded by the read timeout. Sets BladPortu unless a
// byte came; returns the byte, 0 when none came.
uint8_t OdczytBajtu();

// Discards what the port holds in both directions.
void CzyszczeniePortu();

// Checks that a printer is on the line: its DSR follows our RTS and carrier
// detect is on. On failure KodWyniku 57 and StanLinii 256 or 257.
void KontrolaLinii();

// ---- Seams for the server channel and the multiplexer transport -----------------------

// The server command channel, served at the start of every request exchange.
// None installed means the channel is off.
struct KanalSerwera {
    // Serves pending server commands. false: the request must not be sent
    // (the hook has set KodWyniku, 54 or 56).
    bool (*ObslugaRozkazow)();
    // After every request exchange, with the updated LicznikRozkazow.
    void (*PoRozkazie)(uint32_t licznikRozkazow);
};
void UstawKanalSerwera(const KanalSerwera* kanal);  // nullptr: off

// The multiplexer frame transport of mode 2. In that mode the exchange's own
// writes send nothing and its reads take the decoded answer payload.
struct TransportMux {
    // Carries the request (prefix, lengths, send-area body) in one frame and
    // leaves the decoded answer ready. false: failed, KodWyniku set.
    bool (*Zadanie)(uint8_t trybPrefiksu, uint8_t rozkaz, uint8_t dlugoscPotwierdzenia,
                    uint8_t dlugoscTresci, uint8_t dlugoscStatusu, uint8_t dlugoscRekordu);
    // Next payload byte into *bajt. false past the end (KodWyniku set, 45).
    bool (*BajtOdpowiedzi)(uint8_t* bajt);
};
// nullptr: the built-in frame transport of link/mux.h (the default).
void UstawTransportMux(const TransportMux* transport);

}  // namespace vorin::link

// The server command channel: a supervising server steers a driver (suspend,
// resume, break, are-you-there, counters) and the driver answers and reports
// its progress. Messages are (message number, wParam, lParam) on the platform
// message bus: wParam the driver id, lParam bits 0-7 a letter (upper case from
// a driver, lower case from the server) and bits 8-31 a value.
//
// Threads: the driver role belongs to the thread that makes the request
// exchanges; a fetch reads that thread's own queue. The settings are atomics,
// so the message-pump thread and a host's other threads may read them.
#pragma once

#include <cstdint>
#include <string>

namespace vorin::link {

// Values travel in 24 bits; larger ones are sent as this.
inline constexpr uint32_t kWartoscMaks = 0xFFFFFF;

// ---- Settings (all back to their defaults with UstawieniaDomyslneKanalu) ----

// The channel's message number; 0 (default) means off: nothing is posted or
// fetched, and request exchanges go on without any service.
uint32_t NumerKomunikatu();
void UstawNumerKomunikatu(uint32_t numer);

// Driver id override: when not 0 the driver answers as this id instead of its
// process id. IdSterownika() is the id in use.
void UstawIdSterownikaZastepczy(uint32_t id);
uint32_t IdSterownika();

// Report periods, capped at 0xFFFFFF; 0 = never (the default). LINES and
// OUTLINES periods are kept by the driver files (their notice seam); these
// setters store them there.
void UstawOkresCOUNTER(uint32_t okres);
void UstawOkresLINES(uint32_t okres);
void UstawOkresOUTLINES(uint32_t okres);

// Verbose switch: every command served and report posted prints a
// "###DRIVER: " line through the diagnostic printer. Default off.
void UstawGadatliwosc(bool wlaczona);
bool Gadatliwosc();

// Suspended flag: set by SUSPEND, cleared by RESUME; the configuration may
// start the driver suspended (the port is then not opened until RESUME).
void UstawZawieszenie(bool zawieszony);
bool Zawieszony();

// Driver name shown in the diagnostic lines (at most 255 characters kept).
void UstawNazweSterownika(const std::string& nazwa);
void DopiszDoNazwySterownika(const std::string& tekst);
std::string NazwaSterownika();

// Every setting above to its default; the request counter of the link is not
// touched (UstawieniaDomyslneLacza does that).
void UstawieniaDomyslneKanalu();

// ---- Driver role ---------------------------------------------------------------

// Posts one driver message (letter, value capped at 0xFFFFFF). false when the
// channel is off or the post failed.
bool KomunikatDoSerwera(char litera, uint32_t wartosc);

// The next command letter addressed to this driver from the calling thread's
// queue ('a'..'z'), its value in *wartosc; 0 when none waits or the channel is
// off. Other messages of the channel number are removed and dropped.
char RozkazSerwera(uint32_t* wartosc = nullptr);

// Waits for a new message in the calling thread's queue; false when the
// channel is off or the wait failed.
bool CzekanieNaKomunikat();

// The announcement at driver start: 'A' with 0, and its verbose line. Makes
// sure the calling thread has a queue from now on.
bool OgloszenieDostepnosci();

// The command service that each request exchange runs first (installed into
// the link by UstawNumerKomunikatu). false: the request must not be sent;
// KodWyniku is 56 (BREAK) or 54 (unknown command).
bool ObslugaRozkazowSerwera();

// After each request exchange: the COUNTER report when the period divides
// the counter.
void RaportPoRozkazie(uint32_t licznikRozkazow);

// ---- Server role -----------------------------------------------------------------

// Posts a command (lower-case letter) to the driver with the given id.
bool KomunikatSerwera(uint32_t idSterownika, char litera, uint32_t wartosc);

// The next driver message ('A'..'Z') from any driver, waiting up to czekajMs
// (0: do not wait; 0xFFFFFFFF: no bound). 0 when none came. Commands of
// other servers are removed and dropped.
char OdbiorKomunikatu(uint32_t* idSterownika, uint32_t* wartosc, uint32_t czekajMs);

}  // namespace vorin::link

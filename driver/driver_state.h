// The printer driver's run: its library-wide state (parameter slots, host
// switches, the five driver files, the settings of the driver configuration,
// the device entry's results) and the steps of configuration, run start and
// run finish. The exported C side is in vorin/driver.h.
//
// Threads: like the link beneath it, the run belongs to the one thread that
// calls the steps; nothing here is locked.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vorin::driver {

inline constexpr int kFileCount = 5;
// Indexes into the driver file names, in the configuration file's order.
enum DriverFile : int {
    kDeviceConfigFile = 0,    // "KONFIG.TXT"
    kReportFile = 1,          // "RAPORT.TXT"
    kCommentsFile = 2,        // "KOMENT.TXT"
    kModuleConfigFile = 3,    // "MODKONF.TXT"
    kExchangeBufferFile = 4,  // "ECRTBUF.TXT", also the printers' description file
};
extern const char* const kDefaultFileNames[kFileCount];

struct DriverState {
    // Parameter slots 0..3 (see ZlozenieParametrow and OdczytanieKonfiguracji).
    std::array<std::string, 4> slot;
    // Host switches; the library only reads them.
    // (The device commands' switches live with them, in device/device.h.)
    bool outputFileSwitch = false;
    std::uint32_t expectedVersion = 0;

    // The names as opened, and the form PlikSterownika compares with (the
    // names made from the input's directory are compared upper-cased while the
    // files keep the directory's real case).
    std::array<std::string, kFileCount> fileName;
    std::array<std::string, kFileCount> rememberedName;

    std::int32_t deviceConfigHandle = -1;
    std::int32_t reportHandle = -1;
    // The printers' description file, opened and closed by the device
    // identification; the finish closes what it left open.
    std::int32_t exchangeBufferHandle = -1;

    // Driver configuration.
    std::uint32_t messageNumber = 0;
    std::uint32_t driverIdOverride = 0;
    bool verbose = false;
    bool suspended = false;
    bool culpritFile = true;
    std::uint32_t counterPeriod = 0;
    std::string driverName;

    // Device entry.
    std::uint8_t requestedDevice = 0;
    std::string identifier;
    char muxLineKind = 0;       // 'P' or 'T'
    std::string muxName;        // 8 characters
    std::uint32_t muxWord = 0;  // sub-field 3 of the MUX2 parameters, kept only

    // Set by the finish, cleared by the reset and the start: the device
    // commands may finish a run themselves, and the host's own finish after
    // that must not write the report and the exchange copies a second time.
    bool finished = false;
};

DriverState& State();

// Upper-cases ASCII letters, as names are compared on a case-blind system.
std::string UpperCase(std::string text);
// Cuts a built text to what a header line (written with its '#') can hold.
std::string FitHeader(std::string text);
// Configuration slot: 3 with the output-file switch on, else 2.
int ConfigSlot();
// "YYYY.MM.DD" and "HH:MM" of the local clock now.
void DateAndTime(std::string& date, std::string& time);

// ---- Configuration ----
void ZerowanieStanuSterownika();
void OdczytanieKonfiguracji();
bool PoprawneUstawieniaSerwera(const char* text);
void SprawdzenieParametrow();
bool PlikSterownika(const char* path);
// false (nothing changed) when the joined text would not fit in 255 characters.
bool ZlozenieParametrow(char* parameters, char* extra);

// ---- Device entry ----
void OdczytanieWpisuUrzadzenia();
bool PoprawnyOpisPortu(const char* text);
bool UstalenieIdentyfikatora(const char* entry);
bool PoprawneParametryMUX2(const char* entry);

// ---- Run ----
void OtwarciePlikowSterownika();
void OdczytanieNaglowkaWejscia();
void OgloszenieDostepnosci();
std::uint8_t StartSterownika();
void ZakonczenieSterownika();
// The version-1 rule: `raw` (the input's header 1 as read) equals `built` as
// it is, or once a minute is added to the time in its field 5.
bool SameRunDescription(const std::string& raw, const std::string& built);

// Hands the configuration's channel settings to the server channel (the
// message number only with `withNumber`, as the run start does).
void ConfigureServerChannel(bool withNumber);
// Tells the device commands where the run keeps their files.
void InstallDeviceFiles();

}  // namespace vorin::driver

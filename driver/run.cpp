// The run start: files, input header, device entry, port, announcement to
// the server, printer type and number.
#include <cstdio>
#include <string>
#include <vector>

#include "driver/driver_state.h"
#include "device/device.h"
#include "diag/diag.h"
#include "driverfiles/records.h"
#include "driverfiles/text.h"
#include "link/link.h"
#include "link/server_channel.h"
#include "platform/message_bus.h"
#include "vorin/driver.h"

namespace vorin::driver {
namespace {

namespace df = vorin::driverfiles;
namespace lk = vorin::link;

// The printer's answer is not one of the accepted values.
constexpr std::uint8_t kNoNumberAnswer = 23;

bool Field(const std::string& text, unsigned n, char separator, std::string& out) {
    return df::ExtractField(text, n, separator, out);
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == df::kFieldSeparator) {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    return fields;
}

// HH:MM or HH:MM:SS; the minute after it as HH:MM (23:59 gives 00:00, and
// `nextDay` says so).
bool NextMinute(const std::string& time, std::string& next, bool& nextDay) {
    auto two = [&](std::size_t at, int limit, int& value) {
        if (at + 2 > time.size() || time[at] < '0' || time[at] > '9' || time[at + 1] < '0' ||
            time[at + 1] > '9') {
            return false;
        }
        value = (time[at] - '0') * 10 + (time[at + 1] - '0');
        return value <= limit;
    };
    int h = 0, m = 0, s = 0;
    if (!two(0, 23, h) || time.size() < 5 || time[2] != ':' || !two(3, 59, m)) return false;
    if (time.size() != 5 && (time.size() != 8 || time[5] != ':' || !two(6, 59, s))) return false;
    const int minutes = h * 60 + m + 1;
    nextDay = minutes == 24 * 60;
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", minutes / 60 % 24, minutes % 60);
    next = buf;
    return true;
}

// YYYY.MM.DD; the day after it in the same form.
bool NextDate(const std::string& date, std::string& next) {
    static const char kForm[] = "9999.99.99";
    if (date.size() != sizeof kForm - 1) return false;
    for (std::size_t i = 0; i < date.size(); ++i) {
        const bool digit = date[i] >= '0' && date[i] <= '9';
        if (kForm[i] == '9' ? !digit : date[i] != kForm[i]) return false;
    }
    unsigned y = static_cast<unsigned>(std::stoul(date.substr(0, 4)));
    unsigned m = static_cast<unsigned>(std::stoul(date.substr(5, 2)));
    unsigned d = static_cast<unsigned>(std::stoul(date.substr(8, 2)));
    if (m < 1 || m > 12) return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const unsigned days[] = {31, leap ? 29u : 28u, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d < 1 || d > days[m - 1]) return false;
    if (++d > days[m - 1]) {
        d = 1;
        if (++m > 12) {
            m = 1;
            ++y;
        }
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04u.%02u.%02u", y % 10000, m, d);
    next = buf;
    return true;
}

// Reads one input header into `text`; sets 11 (format error) or 10 (none).
bool ReadHeader(char* text) {
    std::uint8_t formatError = 0;
    if (OdczytanoZPlikuLinieNaglowka(df::TheDriverFileState().inputHandle.load(), text,
                                     &formatError)) {
        return true;
    }
    lk::KodWyniku = formatError ? 11 : 10;
    return false;
}

// Header 2's field 1 is the version followed by one blank.
bool VersionMatches(const std::string& header2, std::uint32_t expected) {
    std::string field;
    if (!Field(header2, 1, df::kFieldSeparator, field) || field.empty() || field.back() != ' ') {
        return false;
    }
    field.pop_back();
    std::uint32_t version = 0;
    return PoprawnaLiczbaTypuWord(field.c_str(), &version) && version == expected;
}

bool OpenRunFile(std::int32_t& handle, const std::string& path, std::uint8_t mode,
                 std::uint8_t failure) {
    if (OtwartoPlik(&handle, path.c_str(), mode)) return true;
    lk::KodWyniku = failure;
    return false;
}

}  // namespace

void ConfigureServerChannel(bool withNumber) {
    const DriverState& st = State();
    lk::UstawIdSterownikaZastepczy(st.driverIdOverride);
    lk::UstawOkresCOUNTER(st.counterPeriod);
    lk::UstawGadatliwosc(st.verbose);
    lk::UstawZawieszenie(st.suspended);
    lk::UstawNazweSterownika(st.driverName);
    lk::UstawNumerKomunikatu(withNumber ? st.messageNumber : 0);
}

void InstallDeviceFiles() {
    device::PlikiUrzadzenia files;
    files.uchwytOpisow = &State().exchangeBufferHandle;
    files.sciezkaOpisow = [] { return State().fileName[kExchangeBufferFile].c_str(); };
    files.plikWyjsciowy = [] { return State().outputFileSwitch; };
    files.zakonczenieSterownika = [] { ZakonczenieSterownika(); };
    device::UstawPlikiUrzadzenia(files);
}

bool SameRunDescription(const std::string& raw, const std::string& built) {
    if (raw == built) return true;
    std::vector<std::string> fields = SplitFields(raw);
    std::string next;
    bool nextDay = false;
    if (fields.size() < 9 || fields[8].empty() || !NextMinute(fields[4], next, nextDay)) {
        return false;
    }
    fields[4] = next;
    // A description written at 23:59 meets a run that starts the next day.
    if (nextDay && !NextDate(fields[3], fields[3])) return false;
    std::string joined = fields[0];
    for (std::size_t i = 1; i < fields.size(); ++i) joined += "\t" + fields[i];
    return joined == built;
}

void OtwarciePlikowSterownika() {
    DriverState& st = State();
    df::DriverFileState& files = df::TheDriverFileState();
    std::int32_t handle = -1;
    if (!OpenRunFile(handle, st.slot[1], 0, 6)) return;
    files.inputHandle = handle;
    if (!OpenRunFile(st.deviceConfigHandle, st.fileName[kDeviceConfigFile], 0, 7)) return;
    if (st.outputFileSwitch) {
        std::uint8_t mode = files.rewrite.load() ? 1 : 2;
        if (!MoznaOtworzycPlik(st.slot[2].c_str(), mode)) {
            lk::KodWyniku = 8;
            return;
        }
        if (!OpenRunFile(handle, st.slot[2], mode, 8)) return;
        files.outputHandle = handle;
    }
    OpenRunFile(st.reportHandle, st.fileName[kReportFile], 1, 9);
}

void OdczytanieNaglowkaWejscia() {
    DriverState& st = State();
    char text[df::kTextSize];
    if (!ReadHeader(text)) return;
    const std::string raw1 = text;
    OczyszczenieLinii(text);
    std::string field;
    std::uint8_t device = 0;
    if (!Field(text, 1, df::kFieldSeparator, field) ||
        !PoprawnaLiczbaTypuByte(field.c_str(), &device)) {
        lk::KodWyniku = 11;
        return;
    }
    if (device < 1 || device > 99) {
        lk::KodWyniku = 19;
        return;
    }
    st.requestedDevice = device;
    OdczytanieWpisuUrzadzenia();
    if (lk::KodWyniku != 0) return;
    if (!ReadHeader(text)) return;
    if (st.expectedVersion != 0) {
        if (!VersionMatches(text, st.expectedVersion) ||
            (st.expectedVersion == 1 && !SameRunDescription(raw1, df::HeaderLine(1)))) {
            lk::KodWyniku = 25;
            return;
        }
    }
    if (!ReadHeader(text)) return;
    lk::OtwarciePortu();
    if (!lk::PortOtwarty) lk::KodWyniku = 62;
}

void OgloszenieDostepnosci() {
    DriverState& st = State();
    if (st.verbose) {
        st.driverName += st.slot[0];
        if (st.driverName.size() > df::kTextMax) st.driverName.resize(df::kTextMax);
    }
    // Message number 0 leaves the channel off; the announcement is then only
    // the diagnostic line.
    ConfigureServerChannel(true);
    if (lk::NumerKomunikatu() != 0) {
        lk::OgloszenieDostepnosci();
    } else if (st.verbose) {
        diag::Komunikat("%s%s%s%d%s", "###DRIVER: ", st.driverName,
                        ", PID=", static_cast<std::int32_t>(platform::CurrentProcessId()),
                        " poslal komunikat AVAILABLE do Serwera ###\n");
    }
}

std::uint8_t StartSterownika() {
    DriverState& st = State();
    st.finished = false;
    SprawdzenieParametrow();
    if (lk::KodWyniku == 0) OtwarciePlikowSterownika();
    if (lk::KodWyniku == 0) OdczytanieNaglowkaWejscia();
    if (lk::KodWyniku != 0) return lk::KodWyniku;
    OgloszenieDostepnosci();
    bool typeFailed = false;
    if (device::PrzelacznikOdczytuTypu) {
        OdczytanieTypuUrzadzenia();
        typeFailed = lk::KodWyniku != 0;
    }
    if (lk::KodWyniku == 0 && device::PrzelacznikOdczytuNumeru) {
        if (OdczytanieNumeruUrzadzenia()) {
            // Appends only a printer whose type was read (see DopisanieOpisuDoPliku).
            if (!device::IdentyfikacjaZPliku && !device::DopisanieOpisuDoPliku()) {
                return lk::KodWyniku;
            }
            if (lk::KodWyniku == 0 && device::PrzelacznikPorownaniaNumeru &&
                device::TypUrzadzenia().deviceNumber != st.requestedDevice) {
                lk::KodWyniku = 22;
            }
        } else if (lk::KodWyniku == 0 && device::PrzelacznikPorownaniaNumeru) {
            // The printer answered, but with no number: nothing to compare,
            // which must not pass for a match.
            lk::KodWyniku = kNoNumberAnswer;
        }
    }
    // The type reading writes the header lines itself; when it failed the
    // output file still gets them, and keeps the first failure's code.
    if (typeFailed && st.outputFileSwitch &&
        !ZapisanoDoPlikuNaglowek(df::TheDriverFileState().outputHandle.load()) &&
        lk::KodWyniku == 0) {
        lk::KodWyniku = 17;
    }
    return lk::KodWyniku;
}

}  // namespace vorin::driver

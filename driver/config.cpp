// Driver reset, parameter splitting, the driver configuration file and the
// parameter check.
#include <cstring>
#include <string>

#include "device/device.h"
#include "driver/driver_state.h"
#include "driverfiles/records.h"
#include "driverfiles/text.h"
#include "link/link.h"
#include "link/server_channel.h"
#include "vorin/driver.h"

namespace vorin::driver {
namespace {

namespace df = vorin::driverfiles;
namespace lk = vorin::link;

constexpr std::uint32_t kLargestPeriod = 16777215;  // what a server notice can carry
constexpr int kConfigLines = 13;

bool Field(const std::string& text, unsigned n, char separator, std::string& out) {
    return df::extractField(text, n, separator, out);
}

bool Long(const std::string& text, std::uint32_t& value) {
    return PoprawnaLiczbaTypuLong(text.c_str(), &value) != 0;
}

bool Boolean(const std::string& text, bool& value) {
    std::uint8_t v = 0;
    if (!PoprawnaLiczbaTypuBoolean(text.c_str(), &v)) return false;
    value = v != 0;
    return true;
}

bool Period(const std::string& text, std::uint32_t& value) {
    std::uint32_t v = 0;
    if (!Long(text, v) || v > kLargestPeriod) return false;
    value = v;
    return true;
}

// Line 1: bytes separated by ':'; empty when a sub-field is not a byte.
bool Terminator(const std::string& field, std::string& bytes) {
    bytes.clear();
    std::string sub;
    for (unsigned i = 1; Field(field, i, df::kSubfieldSeparator, sub); ++i) {
        std::uint8_t b = 0;
        if (!PoprawnaLiczbaTypuByte(sub.c_str(), &b)) return false;
        bytes.push_back(static_cast<char>(b));
    }
    // No terminator at all would leave every line unending.
    return !bytes.empty();
}

// Applies configuration line `line` (1..13); false when its field is invalid.
bool ApplyLine(int line, const std::string& field, std::string& terminator) {
    DriverState& st = State();
    df::DriverFileState& files = df::driverFileState();
    std::uint32_t period = 0;
    switch (line) {
    case 1: return Terminator(field, terminator);
    case 2:
    case 3:
    case 4:
    case 5:
    case 6: st.fileName[line - 2] = field; return true;
    case 7: return PoprawneUstawieniaSerwera(field.c_str());
    case 8: return Boolean(field, st.verbose);
    case 9: return Boolean(field, st.suspended);
    case 10: return Boolean(field, st.culpritFile);
    case 11: return Period(field, st.counterPeriod);
    case 12:
        if (!Period(field, period)) return false;
        files.linesPeriod = period;
        return true;
    case 13:
        if (!Period(field, period)) return false;
        files.outlinesPeriod = period;
        return true;
    default: return false;
    }
}

// Reads the configuration file named in the configuration slot. The result
// code is 54 unless all 13 lines were good; the terminator is applied only then.
void ReadConfigFile(const std::string& path) {
    lk::KodWyniku = 54;
    std::int32_t handle = -1;
    if (!OtwartoPlik(&handle, path.c_str(), 0)) return;
    std::string terminator;
    char record[df::kTextSize];
    std::string field;
    for (int line = 1; line <= kConfigLines; ++line) {
        std::uint8_t formatError = 0;
        if (!OdczytanoZPlikuLinieDanych(handle, record, &formatError)) break;
        if (!Field(record, 1, df::kFieldSeparator, field)) break;
        if (!ApplyLine(line, field, terminator)) break;
        if (line == kConfigLines) lk::KodWyniku = 0;
    }
    ZamknieciePliku(&handle);
    if (lk::KodWyniku == 0) df::setLineTerminator(terminator);
}

// The input's directory (up to and with its last separator), or "" when
// KONFIG.TXT is in the current directory.
std::string DefaultDirectory(const std::string& input) {
    if (MoznaOtworzycPlik(kDefaultFileNames[kDeviceConfigFile], 0)) return {};
    std::size_t cut = input.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : input.substr(0, cut + 1);
}

}  // namespace

const char* const kDefaultFileNames[kFileCount] = {"KONFIG.TXT", "RAPORT.TXT", "KOMENT.TXT",
                                                   "MODKONF.TXT", "ECRTBUF.TXT"};

DriverState& State() {
    static DriverState state = [] {
        DriverState s;
        for (int i = 0; i < kFileCount; ++i) s.fileName[i] = kDefaultFileNames[i];
        return s;
    }();
    return state;
}

std::string UpperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string FitHeader(std::string text) {
    // A header line is written behind its '#', and the whole line must stay
    // readable as one text.
    if (text.size() > df::kTextMax - 1) text.resize(df::kTextMax - 1);
    return text;
}

int ConfigSlot() { return State().outputFileSwitch ? 3 : 2; }

void ZerowanieStanuSterownika() {
    DriverState& st = State();
    for (std::string& s : st.slot) s.clear();
    for (int i = 1; i <= 3; ++i) df::setHeaderLine(i, "");
    if (st.deviceConfigHandle >= 0 || st.reportHandle >= 0) {
        // A host that resets without finishing would otherwise leak them.
        ZamknieciePliku(&st.deviceConfigHandle);
        ZamknieciePliku(&st.reportHandle);
    }
    st.deviceConfigHandle = -1;
    st.reportHandle = -1;
    df::DriverFileState& files = df::driverFileState();
    for (std::int32_t h : {files.inputHandle.load(), files.outputHandle.load()}) {
        if (h >= 0) ZamknieciePliku(&h);
    }
    df::resetDriverFileCounters();
    files.linesPeriod = 0;
    files.outlinesPeriod = 0;
    lk::KodWyniku = 0;
    lk::BladPortu = 0;
    lk::LicznikRozkazow = 0;
    st.messageNumber = 0;
    st.driverIdOverride = 0;
    st.counterPeriod = 0;
    st.verbose = false;
    st.suspended = false;
    st.culpritFile = true;
    st.driverName.clear();
    st.requestedDevice = 0;
    st.identifier.clear();
    st.muxLineKind = 0;
    st.muxName.clear();
    st.muxWord = 0;
    st.finished = false;
    if (st.exchangeBufferHandle >= 0) ZamknieciePliku(&st.exchangeBufferHandle);
    st.exchangeBufferHandle = -1;
    InstallDeviceFiles();
    device::ZerowanieStanuUrzadzenia();
    lk::UstawieniaDomyslneKanalu();  // message number 0: the channel is off
}

void OdczytanieKonfiguracji() {
    DriverState& st = State();
    if (st.slot[1].empty()) {
        for (int i = 0; i < kFileCount; ++i) st.fileName[i] = kDefaultFileNames[i];
        return;
    }
    const std::string parameters = st.slot[1];
    std::string parameter;
    for (int k = ConfigSlot(); k >= 1; --k) {
        if (Field(parameters, static_cast<unsigned>(k), df::kParameterSeparator, parameter)) {
            st.slot[k] = parameter;
        }
    }
    const std::string& configPath = st.slot[ConfigSlot()];
    if (!configPath.empty()) {
        ReadConfigFile(configPath);
        if (lk::KodWyniku != 0) return;
        st.rememberedName = st.fileName;
        return;
    }
    std::string directory = DefaultDirectory(st.slot[1]);
    std::array<std::string, kFileCount> names;
    for (int i = 0; i < kFileCount; ++i) {
        names[i] = directory + kDefaultFileNames[i];
        if (names[i].size() > df::kTextMax) {
            // A cut path would name another file.
            lk::KodWyniku = 54;
            return;
        }
    }
    st.fileName = names;
    // Opened with the directory's own case (Linux names are case-sensitive),
    // compared upper-cased as on a case-blind system.
    for (int i = 0; i < kFileCount; ++i) st.rememberedName[i] = UpperCase(names[i]);
}

bool PoprawneUstawieniaSerwera(const char* text) {
    DriverState& st = State();
    std::string s = text != nullptr ? text : "";
    std::string sub;
    if (!Field(s, 1, df::kSubfieldSeparator, sub) || !Long(sub, st.messageNumber)) return false;
    st.driverIdOverride = 0;
    if (Field(s, 2, df::kSubfieldSeparator, sub)) return Long(sub, st.driverIdOverride);
    return true;
}

bool PlikSterownika(const char* path) {
    if (path == nullptr) return false;
    std::string upper = UpperCase(path);
    for (const std::string& name : State().rememberedName) {
        if (!name.empty() && upper == name) return true;
    }
    return false;
}

void SprawdzenieParametrow() {
    DriverState& st = State();
    if (st.slot[1].empty()) {
        lk::KodWyniku = 1;
    } else if (PlikSterownika(st.slot[1].c_str())) {
        lk::KodWyniku = 2;
    } else if (st.outputFileSwitch) {
        if (st.slot[2].empty()) {
            lk::KodWyniku = 3;
        } else if (PlikSterownika(st.slot[2].c_str())) {
            lk::KodWyniku = 4;
        } else if (st.slot[2] == st.slot[1]) {
            lk::KodWyniku = 5;
        }
    }
}

bool ZlozenieParametrow(char* parameters, char* extra) {
    if (parameters == nullptr) return false;
    const std::string& configPath = State().slot[ConfigSlot()];
    if (configPath.empty()) return true;
    std::string joined(parameters, df::textLength(parameters) > df::kTextMax
                                       ? df::kTextMax
                                       : df::textLength(parameters));
    bool hasExtra = extra != nullptr && extra[0] != 0 && df::textFits(extra);
    if (hasExtra) joined += std::string(";") + extra;
    joined += ";" + configPath;
    if (joined.size() > df::kTextMax) return false;
    df::storeText(parameters, joined);
    if (hasExtra) extra[0] = 0;
    return true;
}

}  // namespace vorin::driver

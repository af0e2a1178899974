// The printer's entry in the device configuration file: port specification,
// timeouts, identifier and multiplexer parameters, and header lines 1 and 3.
#include <algorithm>
#include <cstdio>
#include <string>

#include "device/device.h"
#include "driver/driver_state.h"
#include "driverfiles/records.h"
#include "driverfiles/text.h"
#include "link/link.h"
#include "link/mux.h"
#include "platform/local_time.h"
#include "vorin/driver.h"

namespace vorin::driver {
namespace {

namespace df = vorin::driverfiles;
namespace lk = vorin::link;

constexpr std::uint32_t kLargestSpeed = 115200;
constexpr std::uint32_t kMuxPortSpeed = 19200;
constexpr std::uint8_t kMuxPortChannel = 2;
constexpr std::uint8_t kChannelLimit[4] = {1, 4, 8, 8};

bool Field(const std::string& text, unsigned n, char separator, std::string& out) {
    return df::extractField(text, n, separator, out);
}

// "COM" and 1..255 written without leading zeros.
bool PortNumber(const std::string& text, std::uint8_t& port) {
    if (text.size() < 4 || text.size() > 6 || text.compare(0, 3, "COM") != 0 || text[3] == '0') {
        return false;
    }
    unsigned value = 0;
    for (std::size_t i = 3; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (value < 1 || value > 255) return false;
    port = static_cast<std::uint8_t>(value);
    return true;
}

bool MuxMode(const std::string& text, std::uint8_t& mode) {
    if (text.size() != 4 || text.compare(0, 3, "MUX") != 0 || text[3] < '0' || text[3] > '3') {
        return false;
    }
    mode = static_cast<std::uint8_t>(text[3] - '0');
    return true;
}

}  // namespace

void DateAndTime(std::string& date, std::string& time) {
    platform::LocalDateTime now = platform::LocalNow();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d.%02d.%02d", now.year % 10000, now.month, now.day);
    date = buf;
    std::snprintf(buf, sizeof buf, "%02d:%02d", now.hour, now.minute);
    time = buf;
}

bool PoprawnyOpisPortu(const char* text) {
    std::string clean = df::cleanLine(text != nullptr ? text : "");
    std::string sub[4];
    for (unsigned i = 0; i < 4; ++i) {
        if (!Field(clean, i + 1, df::kSubfieldSeparator, sub[i])) return false;
    }
    if (!PortNumber(sub[0], lk::NumerPortu)) return false;
    std::uint32_t speed = 0;
    bool speedGood = PoprawnaLiczbaZPodanegoZakresu(sub[1].c_str(), 1, kLargestSpeed, &speed) != 0;
    lk::Predkosc = speed;
    if (!speedGood) return false;
    std::uint8_t mode = 0;
    if (!MuxMode(sub[2], mode)) return false;
    lk::TrybMux = mode;
    // Multiplexer frames carry their own checks; every other line runs even parity.
    lk::KodParzystosci = mode == 2 ? 0 : 2;
    std::uint8_t channel = 0;
    if (!PoprawnaLiczbaTypuByte(sub[3].c_str(), &channel)) return false;
    lk::NumerKanalu = channel;
    if (channel < 1 || channel > kChannelLimit[mode]) return false;
    if (mode == 2) {
        lk::PredkoscDrukarki = lk::Predkosc;
        lk::KanalDrukarki = lk::NumerKanalu;
        lk::Predkosc = kMuxPortSpeed;
        lk::NumerKanalu = kMuxPortChannel;
    }
    // Rejects what the four sub-fields do not account for (a fifth one).
    return sub[0] + ":" + sub[1] + ":" + sub[2] + ":" + sub[3] == clean;
}

bool UstalenieIdentyfikatora(const char* entry) {
    DriverState& st = State();
    std::string field;
    if (Field(entry != nullptr ? entry : "", 4, df::kFieldSeparator, field)) {
        std::string id = field + " (identyfikator z pliku " + st.fileName[kDeviceConfigFile] + ")";
        if (id.size() > df::kTextMax) id.resize(df::kTextMax);
        st.identifier = id;
        return true;
    }
    st.identifier = "Braxo (identyfikator domyslny)";
    return lk::TrybMux != 2;
}

bool PoprawneParametryMUX2(const char* entry) {
    if (lk::TrybMux != 2) return true;
    DriverState& st = State();
    std::string field;
    if (!Field(entry != nullptr ? entry : "", 5, df::kFieldSeparator, field)) return false;
    std::string sub[5];
    for (unsigned i = 0; i < 5; ++i) {
        if (!Field(field, i + 1, df::kSubfieldSeparator, sub[i])) return false;
    }
    char kind = UpperCase(sub[0].substr(0, 1))[0];
    if (kind != 'P' && kind != 'T') return false;
    st.muxLineKind = kind;
    if (sub[1].size() != 8) return false;
    st.muxName = sub[1];
    // The name is the code the multiplexer asks for (control bit 0x10) and
    // that the code-change service starts from.
    std::copy(sub[1].begin(), sub[1].end(), lk::KodMux.begin());
    std::uint32_t word = 0;
    if (!PoprawnaLiczbaTypuWord(sub[2].c_str(), &word)) return false;
    st.muxWord = word;
    if (!PoprawnaLiczbaTypuWord(sub[3].c_str(), &word)) return false;
    lk::TimeoutZapisuMux = word;
    lk::TimeoutOdczytuMux = word;
    std::uint8_t retries = 0;
    if (!PoprawnaLiczbaTypuByte(sub[4].c_str(), &retries)) return false;
    lk::LimitPowtorzenMux = retries;
    return true;
}

void OdczytanieWpisuUrzadzenia() {
    DriverState& st = State();
    char record[df::kTextSize];
    std::string field[5];
    for (bool first = true;; first = false) {
        std::uint8_t formatError = 0;
        if (!OdczytanoZPlikuLinieDanych(st.deviceConfigHandle, record, &formatError)) {
            lk::KodWyniku = formatError ? 16 : (first ? 13 : 14);
            return;
        }
        lk::KodWyniku = 16;
        std::uint8_t number = 0;
        if (!Field(record, 1, df::kFieldSeparator, field[0]) ||
            !PoprawnaLiczbaTypuByte(field[0].c_str(), &number)) {
            return;
        }
        if (number == st.requestedDevice) break;
        lk::KodWyniku = 0;
    }
    std::uint32_t timeout = 0;
    Field(record, 2, df::kFieldSeparator, field[1]);
    Field(record, 3, df::kFieldSeparator, field[2]);
    Field(record, 5, df::kFieldSeparator, field[4]);
    if (field[1].empty() || !PoprawnyOpisPortu(field[1].c_str())) return;
    if (field[2].empty() || !PoprawnaLiczbaTypuWord(field[2].c_str(), &timeout)) return;
    if (!UstalenieIdentyfikatora(record) || !PoprawneParametryMUX2(record)) return;
    lk::KodWyniku = 0;
    lk::TimeoutZapisu = timeout;
    lk::TimeoutOdczytu = timeout;

    std::string date, time;
    DateAndTime(date, time);
    std::string line1 = field[0] + "\t" + field[1] + "\t" + field[2] + "\t" + date + "\t" + time +
                        "\t" + st.slot[0] + "\tWIN 8.50\t" + st.slot[1];
    if (st.outputFileSwitch) line1 += "\t" + st.slot[2];
    df::setHeaderLine(1, FitHeader(line1));
    std::string line3 = st.identifier;
    if (lk::TrybMux == 2) line3 += "\t" + field[4];
    df::setHeaderLine(3, FitHeader(line3));

    if (st.outputFileSwitch && !device::PrzelacznikOdczytuTypu &&
        !ZapisanoDoPlikuNaglowek(df::driverFileState().outputHandle.load())) {
        lk::KodWyniku = 17;
    }
}

}  // namespace vorin::driver

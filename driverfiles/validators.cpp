#include "driverfiles/validators.h"

#include <cstring>
#include <vector>

#include "driverfiles/digits.h"
#include "driverfiles/text.h"
#include "vorin/driver.h"

namespace vorin::driverfiles {
namespace {

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> groups;
    std::size_t start = 0;
    for (;;) {
        std::size_t sep = text.find(separator, start);
        if (sep == std::string_view::npos) {
            groups.push_back(text.substr(start));
            return groups;
        }
        groups.push_back(text.substr(start, sep - start));
        start = sep + 1;
    }
}

std::optional<std::uint8_t> ParseByte(std::string_view text) {
    auto v = ParseLong(text);
    if (!v || *v > 255) return std::nullopt;
    return static_cast<std::uint8_t>(*v);
}

void PutDigits(std::uint8_t out[9], bool hexDigits) {
    unsigned base = hexDigits ? 16 : 10;
    for (int i = 0; i < 3; ++i) {
        out[3 + 2 * i] = static_cast<std::uint8_t>(out[i] / base);
        out[4 + 2 * i] = static_cast<std::uint8_t>(out[i] % base);
    }
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return std::string(text.substr(b, e - b));
}

std::optional<std::uint64_t> ParseSixByteDecimal(std::string_view text) {
    std::string s = Upper(TrimBlanks(text));
    if (s.empty()) return std::nullopt;
    for (char c : s) {
        if (!IsDigit(c)) return std::nullopt;
    }
    Conversion c = DecimalToNumber(s);
    if (c.status != ConversionStatus::Valid || c.value >= kSixByteLimit) return std::nullopt;
    return c.value;
}

std::optional<std::uint64_t> ParseSixByteHex(std::string_view text) {
    std::string s = Upper(TrimBlanks(text));
    if (s.empty()) return std::nullopt;
    if (s.front() == '$' || s.front() == 'H') {
        s.erase(0, 1);
    } else if (s.back() == 'H') {
        s.pop_back();
    } else if (s.size() > 1 && s.compare(0, 2, "0X") == 0) {
        s.erase(0, 2);
    }
    if (s.empty() || s.size() > 12) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : s) {
        int d = HexValue(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<std::uint64_t>(d);
    }
    return v;
}

std::optional<std::uint64_t> ParseSixByteQuoted(std::string_view text) {
    std::string s = TrimBlanks(text);
    if (s.size() < 3 || s.front() != '\'' || s.back() != '\'') return std::nullopt;
    std::size_t inner = s.size() - 2;
    if (inner > 6) return std::nullopt;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < inner; ++i) {
        v |= static_cast<std::uint64_t>(static_cast<unsigned char>(s[1 + i])) << (8 * i);
    }
    return v;
}

std::optional<std::uint64_t> ParseSixByte(std::string_view text) {
    if (auto v = ParseSixByteDecimal(text)) return v;
    if (auto v = ParseSixByteHex(text)) return v;
    return ParseSixByteQuoted(text);
}

std::optional<std::uint32_t> ParseLong(std::string_view text) {
    auto v = ParseSixByte(text);
    if (!v || *v > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<FixedPoint> ParseFixedPoint(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::string digits;
    bool separatorSeen = false;
    unsigned decimals = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (IsDigit(c)) {
            digits.push_back(c);
            if (separatorSeen) ++decimals;
        } else if (c == '.' || c == ',') {
            if (i == 0 || separatorSeen) return std::nullopt;
            separatorSeen = true;
        } else {
            return std::nullopt;
        }
    }
    if (!IsDigit(text.back())) return std::nullopt;
    while (decimals > 0 && digits.back() == '0') {
        digits.pop_back();
        --decimals;
    }
    Conversion c = DecimalToNumber(digits);
    if (c.status != ConversionStatus::Valid || c.value > 0xFFFFFFFFu) return std::nullopt;
    return FixedPoint{static_cast<std::uint32_t>(c.value), static_cast<std::uint8_t>(decimals)};
}

std::optional<std::uint8_t> ParseParity(std::string_view text) {
    // Whole names only: "EVENONE" is no parity, even though replacing NONE by
    // N inside it would spell EVEN.
    std::string s = Upper(std::string(text));
    if (s == "N" || s == "NONE") return 0;
    if (s == "O" || s == "ODD") return 1;
    if (s == "E" || s == "EVEN") return 2;
    return std::nullopt;
}

bool ParseDate(std::string_view text, bool hexDigits, std::uint8_t out[9]) {
    std::memset(out, 0, 9);
    std::vector<std::string_view> groups = Split(text, '.');
    // Anything after the day is refused rather than ignored.
    if (groups.size() != 3) return false;
    for (int i = 0; i < 3; ++i) {
        std::string_view g = groups[static_cast<std::size_t>(i)];
        auto word = ParseLong(g);
        if (!word || *word > 0xFFFF) return false;
        if (i == 0 && g.size() == 4) {
            g = g.substr(2);
        } else if (g.size() != 2) {
            return false;
        }
        auto b = ParseByte(g);
        if (!b) return false;
        out[i] = *b;
    }
    unsigned year = out[0];
    unsigned month = out[1];
    unsigned day = out[2];
    if (year > 99 || month < 1 || month > 12) return false;
    unsigned length = 31;
    if (month == 4 || month == 6 || month == 9 || month == 11) length = 30;
    if (month == 2) length = year % 4 == 0 ? 29 : 28;
    if (day < 1 || day > length) return false;
    PutDigits(out, hexDigits);
    return true;
}

bool ParseTime(std::string_view text, bool hexDigits, std::uint8_t out[9]) {
    std::memset(out, 0, 9);
    std::vector<std::string_view> groups = Split(text, ':');
    if (groups.size() < 2 || groups.size() > 3) return false;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        if (groups[i].size() != 2) return false;
        auto b = ParseByte(groups[i]);
        if (!b) return false;
        out[i] = *b;
    }
    if (out[0] > 23 || out[1] > 59 || out[2] > 59) return false;
    PutDigits(out, hexDigits);
    return true;
}

}  // namespace vorin::driverfiles

using namespace vorin::driverfiles;

namespace {

// Validators take no over-long text: a cut copy might turn valid.
bool InputText(const char* text, std::string_view& out) {
    if (text == nullptr) return false;
    std::size_t n = TextLength(text);
    if (n > kTextMax) return false;
    out = std::string_view(text, n);
    return true;
}

uint8_t SixByteResult(std::optional<std::uint64_t> v, uint8_t value[6]) {
    if (value != nullptr) StoreBytes(v ? *v : 0, value, 6);
    return v ? 1 : 0;
}

std::optional<std::uint32_t> LongOf(const char* text) {
    std::string_view s;
    if (!InputText(text, s)) return std::nullopt;
    return ParseLong(s);
}

}  // namespace

extern "C" {

uint8_t ZnakJestCyfra(char c, uint8_t* value) {
    bool digit = c >= '0' && c <= '9';
    if (value != nullptr) *value = digit ? static_cast<uint8_t>(c - '0') : 0;
    return digit ? 1 : 0;
}

uint8_t ZnakJestKropkaLubPrzecinkiem(char c) { return c == '.' || c == ',' ? 1 : 0; }

void UsuniecieSpacji(char* text) {
    if (text == nullptr) return;
    std::size_t n = TerminateText(text);
    StoreText(text, TrimBlanks(std::string_view(text, n)));
}

uint8_t PoprawnaLiczbaSzesciobajtowaDec(const char* text, uint8_t value[6]) {
    std::string_view s;
    return SixByteResult(InputText(text, s) ? ParseSixByteDecimal(s) : std::nullopt, value);
}

uint8_t PoprawnaLiczbaSzesciobajtowaHex(const char* text, uint8_t value[6]) {
    std::string_view s;
    return SixByteResult(InputText(text, s) ? ParseSixByteHex(s) : std::nullopt, value);
}

uint8_t PoprawnaLiczbaSzesciobajtowaWCudzyslowie(const char* text, uint8_t value[6]) {
    std::string_view s;
    return SixByteResult(InputText(text, s) ? ParseSixByteQuoted(s) : std::nullopt, value);
}

uint8_t PoprawnaLiczbaSzesciobajtowa(const char* text, uint8_t value[6]) {
    std::string_view s;
    return SixByteResult(InputText(text, s) ? ParseSixByte(s) : std::nullopt, value);
}

uint8_t PoprawnaLiczbaTypuLong(const char* text, uint32_t* value) {
    auto v = LongOf(text);
    if (value != nullptr) *value = v ? *v : 0;
    return v ? 1 : 0;
}

uint8_t PoprawnaLiczbaZPodanegoZakresu(const char* text, uint32_t low, uint32_t high,
                                       uint32_t* value) {
    auto v = LongOf(text);
    if (value != nullptr) *value = v ? *v : 0;
    return v && *v >= low && *v <= high ? 1 : 0;
}

uint8_t PoprawnaLiczbaTypuWord(const char* text, uint32_t* value) {
    auto v = LongOf(text);
    if (!v || *v > 0xFFFF) return 0;
    if (value != nullptr) *value = *v;
    return 1;
}

uint8_t PoprawnaLiczbaTypuByte(const char* text, uint8_t* value) {
    auto v = LongOf(text);
    if (!v || *v > 0xFF) return 0;
    if (value != nullptr) *value = static_cast<uint8_t>(*v);
    return 1;
}

uint8_t PoprawnaLiczbaTypuBoolean(const char* text, uint8_t* value) {
    auto v = LongOf(text);
    if (!v || *v > 1) return 0;
    if (value != nullptr) *value = static_cast<uint8_t>(*v);
    return 1;
}

uint8_t PoprawnaLiczbaZmiennoprzecinkowa(const char* text, uint32_t* digits, uint8_t* decimals) {
    if (digits != nullptr) *digits = 0;
    if (decimals != nullptr) *decimals = 0;
    std::string_view s;
    if (!InputText(text, s)) return 0;
    auto v = ParseFixedPoint(s);
    if (!v) return 0;
    if (digits != nullptr) *digits = v->digits;
    if (decimals != nullptr) *decimals = v->decimals;
    return 1;
}

uint8_t PoprawnaLiczbaOsmiobajtowa(const char* text, uint8_t value[8]) {
    std::string_view s;
    Conversion c{0, ConversionStatus::BadCharacter};
    if (InputText(text, s)) c = DecimalToNumber(s);
    bool ok = c.status == ConversionStatus::Valid;
    if (value != nullptr) StoreBytes(ok ? c.value : 0, value, 8);
    return ok ? 1 : 0;
}

uint8_t PoprawnyNapisOpisujacyParzystosc(const char* text, uint8_t* parity) {
    std::string_view s;
    if (!InputText(text, s)) return 0;
    auto p = ParseParity(s);
    if (!p) return 0;
    if (parity != nullptr) *parity = *p;
    return 1;
}

namespace {

// A date or a time field: nine bytes out, all zero when the text is not one.
using ClockParser = bool (*)(std::string_view, bool, std::uint8_t[9]);
uint8_t ClockField(const char* text, uint8_t hexDigits, uint8_t result[9], ClockParser parse) {
    uint8_t scratch[9];
    uint8_t* out = result != nullptr ? result : scratch;
    std::string_view s;
    if (!InputText(text, s)) {
        std::memset(out, 0, 9);
        return 0;
    }
    return parse(s, hexDigits != 0, out) ? 1 : 0;
}

}  // namespace

uint8_t PoprawnaData(const char* text, uint8_t hexDigits, uint8_t date[9]) {
    return ClockField(text, hexDigits, date, ParseDate);
}

uint8_t PoprawnyCzas(const char* text, uint8_t hexDigits, uint8_t time[9]) {
    return ClockField(text, hexDigits, time, ParseTime);
}

uint8_t DlugoscLiczbySzesciobajtowej(const uint8_t value[6]) {
    if (value == nullptr) return 1;
    uint8_t n = 6;
    while (n > 1 && value[n - 1] == 0) --n;
    return n;
}

}  // extern "C"

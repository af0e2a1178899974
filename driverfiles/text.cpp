#include "driverfiles/text.h"

#include <cstring>

#include "vorin/driver.h"

namespace vorin::driverfiles {

std::size_t TextLength(const char* text) {
    if (text == nullptr) return 0;
    const void* nul = std::memchr(text, '\0', kTextSize);
    return nul == nullptr ? kTextSize
                          : static_cast<std::size_t>(static_cast<const char*>(nul) - text);
}

void StoreText(char* out, std::string_view s) {
    if (out == nullptr) return;
    std::size_t n = s.size() < kTextMax ? s.size() : kTextMax;
    std::memcpy(out, s.data(), n);
    std::memset(out + n, 0, kTextSize - n);
}

std::size_t TerminateText(char* text) {
    std::size_t n = TextLength(text);
    if (n > kTextMax) {
        text[kTextMax] = '\0';
        n = kTextMax;
    }
    return n;
}

bool ExtractField(std::string_view text, unsigned n, char separator, std::string& field) {
    field.clear();
    if (n == 0 || text.empty()) return false;
    std::size_t pos = 0;
    for (unsigned passed = 0; passed + 1 < n; ++passed) {
        std::size_t sep = text.find(separator, pos);
        if (sep == std::string_view::npos) return false;
        pos = sep + 1;
    }
    if (pos >= text.size() || text[pos] == separator) return false;
    std::size_t end = text.find(separator, pos);
    field.assign(
        text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
    return true;
}

namespace {
bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::string CleanLine(std::string_view text) {
    if (text.empty()) return {};
    std::size_t semicolon = text.find(kCommentChar);
    if (semicolon == 0) return {};
    // A single character is deliberately left as it is: not trimmed, not raised.
    if (text.size() == 1) return std::string(text);
    std::string s(semicolon == std::string_view::npos ? text : text.substr(0, semicolon));
    while (!s.empty() && IsBlankOrTab(s.front())) {
        if (s.size() == 1) return {};
        s.erase(0, 1);
    }
    while (!s.empty() && IsBlankOrTab(s.back())) {
        if (s.size() == 1) return {};
        s.pop_back();
    }
    // ASCII only: the files are Windows-1250 and a locale's idea of upper case
    // must not change what a driver reads from one machine to the next.
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

}  // namespace vorin::driverfiles

using namespace vorin::driverfiles;

extern "C" {

void ZerowanieNapisu(char* text) {
    if (text != nullptr) std::memset(text, 0, kTextSize);
}

uint8_t DopisanieZnaku(char* text, char c) {
    if (text == nullptr) return 0;
    std::size_t n = TerminateText(text);
    if (n >= kTextMax) return 0;
    text[n] = c;
    text[n + 1] = '\0';
    return 1;
}

uint8_t WstawienieZnakuNaPoczatek(char c, char* text) {
    if (text == nullptr) return 0;
    std::size_t n = TerminateText(text);
    if (n >= kTextMax) return 0;
    std::memmove(text + 1, text, n + 1);
    text[0] = c;
    return 1;
}

void FragmentNapisu(char* text, uint8_t from, uint8_t to) {
    if (text == nullptr) return;
    std::size_t n = TerminateText(text);
    if (from == 0 || from > n || to < from) {
        text[0] = '\0';
        return;
    }
    std::size_t last = to > n ? n : to;
    std::size_t count = last - from + 1;
    std::memmove(text, text + from - 1, count);
    text[count] = '\0';
}

uint8_t NapisyRowne(const char* a, const char* b) {
    std::size_t na = TextLength(a);
    std::size_t nb = TextLength(b);
    if (na != nb) return 0;
    if (na == 0) return 1;
    return std::memcmp(a, b, na > kTextMax ? kTextSize : na) == 0 ? 1 : 0;
}

void OczyszczenieLinii(char* text) {
    if (text == nullptr) return;
    std::size_t n = TerminateText(text);
    StoreText(text, CleanLine(std::string_view(text, n)));
}

uint8_t NapisZawieraPole(const char* text, uint8_t n, char separator, char* field) {
    std::size_t len = TextLength(text);
    std::string out;
    // The input is copied before the field is written, so text and field may
    // be the same buffer.
    bool ok = len <= kTextMax && ExtractField(std::string_view(text, len), n, separator, out);
    if (field != nullptr) StoreText(field, out);
    return ok ? 1 : 0;
}

uint8_t NapisZawieraDana(const char* text, uint8_t n, char* field) {
    return NapisZawieraPole(text, n, kFieldSeparator, field);
}

uint8_t NapisZawieraPodpole(const char* text, uint8_t n, char* field) {
    return NapisZawieraPole(text, n, kSubfieldSeparator, field);
}

uint8_t NapisZawieraParametr(const char* text, uint8_t n, char* field) {
    return NapisZawieraPole(text, n, kParameterSeparator, field);
}

}  // extern "C"

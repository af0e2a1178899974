// Compile-time conversion of the library's Polish texts from the UTF-8 of
// this source tree into the Windows-1250 bytes that callers receive.
#pragma once
#include <array>
#include <cstddef>

namespace vorin::serial {

template <std::size_t N>
struct Cp1250Text {
    std::array<char, N> bytes{};
    std::size_t size = 0;
    constexpr const char* c_str() const { return bytes.data(); }
};

namespace detail {

struct Letter {
    char16_t unicode;
    unsigned char cp1250;
};
inline constexpr Letter kPolish[] = {
    {u'ą', 0xB9}, {u'ć', 0xE6}, {u'ę', 0xEA}, {u'ł', 0xB3}, {u'ń', 0xF1}, {u'ó', 0xF3},
    {u'ś', 0x9C}, {u'ź', 0x9F}, {u'ż', 0xBF}, {u'Ą', 0xA5}, {u'Ć', 0xC6}, {u'Ę', 0xCA},
    {u'Ł', 0xA3}, {u'Ń', 0xD1}, {u'Ó', 0xD3}, {u'Ś', 0x8C}, {u'Ź', 0x8F}, {u'Ż', 0xAF},
};

}  // namespace detail

// Only ASCII and the Polish letters occur in the texts; anything else fails
// to compile (the throw is not a constant expression).
template <std::size_t N>
consteval Cp1250Text<N> ToCp1250(const char (&utf8)[N]) {
    Cp1250Text<N> out{};
    std::size_t o = 0;
    for (std::size_t i = 0; i + 1 < N;) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.bytes[o++] = static_cast<char>(c);
            ++i;
            continue;
        }
        if ((c & 0xE0) != 0xC0 || i + 2 >= N) throw "only two-byte UTF-8 letters are expected";
        char16_t u = static_cast<char16_t>(((c & 0x1F) << 6) |
                                           (static_cast<unsigned char>(utf8[i + 1]) & 0x3F));
        bool found = false;
        for (const auto& l : detail::kPolish) {
            if (l.unicode == u) {
                out.bytes[o++] = static_cast<char>(l.cp1250);
                found = true;
            }
        }
        if (!found) throw "a letter outside Windows-1250 Polish";
        i += 2;
    }
    out.bytes[o] = '\0';
    out.size = o;
    return out;
}

}  // namespace vorin::serial

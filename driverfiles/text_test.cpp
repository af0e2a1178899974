#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vorin/driver.h"

namespace {

struct Buf {
    char b[256];
    explicit Buf(const std::string& s = "") { Set(s); }
    void Set(const std::string& s) {
        std::memset(b, 0, sizeof b);
        std::memcpy(b, s.data(), s.size() < 255 ? s.size() : 255);
    }
    std::string Str() const { return std::string(b, strnlen(b, 256)); }
};

std::string Field(const std::string& text, uint8_t n, char sep, bool* ok = nullptr) {
    Buf in(text);
    Buf out("garbage");
    uint8_t r = NapisZawieraPole(in.b, n, sep, out.b);
    if (ok != nullptr) *ok = r != 0;
    return out.Str();
}

TEST(Fields, NumberingEmptyAndMissingFields) {
    bool ok = false;
    EXPECT_EQ(Field("a\t\tb", 1, '\t', &ok), "a");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Field("a\t\tb", 2, '\t', &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Field("a\t\tb", 3, '\t', &ok), "b");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Field("a\t\tb", 4, '\t', &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Field("a\tb", 0, '\t', &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Field("\tb", 1, '\t', &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Field("a\t", 2, '\t', &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Field("", 1, '\t', &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Field("only", 1, '\t', &ok), "only");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Field(std::string(254, ';') + "z", 255, ';', &ok), "z");
    EXPECT_TRUE(ok);
}

TEST(Fields, FixedSeparatorsAndTheSameBufferForTextAndField) {
    Buf line("COM1:9600:E\tx;y");
    Buf out;
    EXPECT_TRUE(NapisZawieraPodpole(line.b, 2, out.b));
    EXPECT_EQ(out.Str(), "9600");
    EXPECT_TRUE(NapisZawieraParametr(line.b, 2, out.b));
    EXPECT_EQ(out.Str(), "y");
    EXPECT_TRUE(NapisZawieraDana(line.b, 2, out.b));
    EXPECT_EQ(out.Str(), "x;y");
    EXPECT_TRUE(NapisZawieraDana(line.b, 1, line.b));
    EXPECT_EQ(line.Str(), "COM1:9600:E");
    EXPECT_FALSE(NapisZawieraDana(line.b, 2, line.b));
    EXPECT_EQ(line.Str(), "");
}

TEST(Fields, OverlongInputIsRefused) {
    char in[256];
    std::memset(in, 'a', sizeof in);  // no NUL in its 256 bytes
    Buf out("x");
    EXPECT_FALSE(NapisZawieraDana(in, 1, out.b));
    EXPECT_EQ(out.Str(), "");
}

std::string Cleaned(const std::string& s) {
    Buf b(s);
    OczyszczenieLinii(b.b);
    return b.Str();
}

TEST(CleanLine, CommentsBlanksAndCase) {
    EXPECT_EQ(Cleaned("  com1:9600 ; remark"), "COM1:9600");
    EXPECT_EQ(Cleaned("; all comment"), "");
    EXPECT_EQ(Cleaned("a"), "a");  // one character: left exactly as it is
    EXPECT_EQ(Cleaned(" "), " ");
    EXPECT_EQ(Cleaned(""), "");
    EXPECT_EQ(Cleaned("\t x \t"), "X");
    EXPECT_EQ(Cleaned("  "), "");
    EXPECT_EQ(Cleaned(" ;x"), "");
    EXPECT_EQ(Cleaned("b;"), "B");
    EXPECT_EQ(Cleaned("ab\xe6"), "AB\xe6");  // bytes above ASCII unchanged
}

TEST(TextHelpers, AppendInsertAndFragmentStayInsideTheBuffer) {
    Buf b("bc");
    EXPECT_TRUE(DopisanieZnaku(b.b, 'd'));
    EXPECT_TRUE(WstawienieZnakuNaPoczatek('a', b.b));
    EXPECT_EQ(b.Str(), "abcd");

    Buf full(std::string(255, 'f'));
    EXPECT_FALSE(DopisanieZnaku(full.b, 'g'));
    EXPECT_FALSE(WstawienieZnakuNaPoczatek('g', full.b));
    EXPECT_EQ(full.Str(), std::string(255, 'f'));
    Buf almost(std::string(254, 'f'));
    EXPECT_TRUE(WstawienieZnakuNaPoczatek('g', almost.b));
    EXPECT_EQ(almost.Str(), "g" + std::string(254, 'f'));
    EXPECT_EQ(almost.b[255], '\0');

    auto frag = [](const std::string& s, uint8_t from, uint8_t to) {
        Buf f(s);
        FragmentNapisu(f.b, from, to);
        return f.Str();
    };
    EXPECT_EQ(frag("abcdef", 2, 4), "bcd");
    EXPECT_EQ(frag("abcdef", 4, 200), "def");
    EXPECT_EQ(frag("abcdef", 0, 3), "");
    EXPECT_EQ(frag("abcdef", 7, 9), "");
    EXPECT_EQ(frag("abcdef", 4, 3), "");
    EXPECT_EQ(frag("abcdef", 6, 6), "f");

    Buf z("abc");
    ZerowanieNapisu(z.b);
    for (char c : z.b) EXPECT_EQ(c, '\0');

    EXPECT_TRUE(NapisyRowne("abc", "abc"));
    EXPECT_FALSE(NapisyRowne("abc", "abd"));
    EXPECT_FALSE(NapisyRowne("abc", "ab"));
    EXPECT_TRUE(NapisyRowne("", ""));
}

TEST(TextHelpers, UnterminatedBuffersAreCutTo255) {
    char b[256];
    std::memset(b, 'q', sizeof b);
    OczyszczenieLinii(b);
    EXPECT_EQ(std::string(b), std::string(255, 'Q'));
    std::memset(b, ' ', sizeof b);
    UsuniecieSpacji(b);
    EXPECT_EQ(std::string(b), "");
}

}  // namespace

// The diagnostic printer: the formatter on its own (Formatowanie), and the
// whole printer through its C entry in a temporary folder, reading the debug
// file back. Standard input is a file here, so the pause after a line with
// conversions reads from it (and meets its end).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "diag/diag.h"
#include "tests/support/temp_dir.h"
#include "vorin/driver.h"

namespace fs = std::filesystem;
using vorin::diag::Argument;
using vorin::diag::Formatowanie;

namespace {

template <class... A>
vorin::diag::Wynik F(const char* format, const A&... a) {
    if constexpr (sizeof...(A) == 0) {
        return Formatowanie(format, nullptr, 0);
    } else {
        const Argument lista[] = {Argument(a)...};
        return Formatowanie(format, lista, sizeof...(A));
    }
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p);  // text mode: the system's line breaks read as '\n'
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(DiagFormat, NumbersWidthsAndSigns) {
    EXPECT_EQ(F("%d", -5).linia, "***DEBUG*-5");
    EXPECT_EQ(F("%d3", 7).linia, "***DEBUG*007");
    EXPECT_EQ(F("%d", 0).linia, "***DEBUG*0");
    EXPECT_EQ(F("%d2", 12345).linia, "***DEBUG*12345");
    EXPECT_EQ(F("x=%d, y=%d", 1, 2).linia, "***DEBUG*x=1, y=2");
    EXPECT_EQ(F("%d", INT32_MIN).linia, "***DEBUG*-2147483648");
    EXPECT_EQ(F("%c%c!", 'A', 0).linia, "***DEBUG*A!");

    char out[12];
    EXPECT_STREQ(LiczbaNaNapis(-1, out, 0, 0), "4294967295");
    EXPECT_STREQ(LiczbaNaNapis(0, out, 0, 1), "0");
    EXPECT_STREQ(LiczbaNaNapis(-42, out, 4, 1), "-0042");
    EXPECT_STREQ(LiczbaNaNapis(42, out, 15, 1), "0000000042");
}

TEST(DiagFormat, TextsCutsAndLimits) {
    // A width on d counts units first: "%d12" is width 21, so all 10 positions.
    EXPECT_EQ(F("%d12", 5).linia, "***DEBUG*0000000005");
    EXPECT_EQ(F("%d30", 5).linia, "***DEBUG*005") << "3 units, 0 tens";
    EXPECT_EQ(F("%d03", 5).linia, "***DEBUG*0000000005") << "0 units, 3 tens";
    EXPECT_EQ(F("%s then twenty-two chars", "ARG").linia, "***DEBUG*ARG then twenty-two c");
    EXPECT_EQ(F("no percent sign at all, longer than eighteen").linia,
              "***DEBUG*no percent sign at all, longer than eighteen");
    EXPECT_EQ(F("%x%d", 9).linia, "***DEBUG*9") << "unknown conversion takes no argument";
    EXPECT_EQ(F("%%%d", 3).linia, "***DEBUG*3");
    EXPECT_EQ(F("a%").linia, "***DEBUG*a") << "a lone % at the end stops the parse";
    EXPECT_TRUE(F("a%").pauza);

    std::string eighteen;
    for (int i = 0; i < 18; ++i) eighteen += "%d";
    EXPECT_FALSE(F(eighteen.c_str()).bladFormatu);
    auto tooMany = F(("t" + eighteen).c_str());
    EXPECT_TRUE(tooMany.bladFormatu);
    EXPECT_EQ(tooMany.linia, vorin::diag::kBladFormatu);
    EXPECT_TRUE(F(std::string(4000, '%').c_str()).bladFormatu);

    const std::string longText(400, 'x');
    EXPECT_EQ(F("%s", longText).linia, "***DEBUG*" + std::string(149, 'x'));
    std::string many;
    for (int i = 0; i < 3; ++i) many += "%s";
    EXPECT_EQ(F(many.c_str(), longText, longText, longText).linia.size(), 225u);
    EXPECT_EQ(F(std::string(600, 'y').c_str()).linia.size(), 225u);

    EXPECT_EQ(F("%F%d", "1", 4).nazwaPliku, "debug.txt1");
    EXPECT_EQ(F("%Fdropped%d", "1", 4).linia, "***DEBUG*4");
    EXPECT_EQ(F("%F", "0123456789").nazwaPliku, "debug.txt012345");
    EXPECT_EQ(F("%d%s", "text", 5).linia, "***DEBUG*") << "wrong kinds add nothing";
    EXPECT_EQ(F("%d%d", 1).linia, "***DEBUG*1") << "a missing argument adds nothing";
}

TEST(DiagPrinter, WritesTheDebugFileWithItsLineBreaks) {
    vorin::test::TempDir temp;  // Windows: removed as far as it can be (stdin holds the keys)
    const fs::path dir = temp.Path();
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    { std::ofstream(dir / "keys") << "\n"; }
    // One key for the first pause, then the end of input for the second.
    ASSERT_NE(std::freopen((dir / "keys").string().c_str(), "r", stdin), nullptr);

    KomunikatDiagnostyczny(0, "abc");
    KomunikatDiagnostyczny(0, "%s%s%s%d%s", "###DRIVER: ", "drv", ", PID=", 12, " done ###\n");
    KomunikatDiagnostyczny(0, "%F%d", "1", 3);  // stdin at its end: must return
    std::string tooMany;
    for (int i = 0; i < 19; ++i) tooMany += "%d";
    KomunikatDiagnostyczny(0, tooMany.c_str());
    DopisanieDoPlikuDebug((dir / "no_such_dir" / "f").string().c_str(), "lost");

    EXPECT_EQ(ReadText(dir / "debug.txt"),
              "***DEBUG*abc\n"
              "***DEBUG*###DRIVER: drv, PID=12 done ###\n\n\n\n");
    EXPECT_EQ(ReadText(dir / "debug.txt1"), "***DEBUG*3\n\n\n");

    fs::current_path(before);
}

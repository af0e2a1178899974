// The driver's run on real files in a temporary folder that is the current
// directory for each test (the run looks for KONFIG.TXT and "$$$" there).
// Runs that must open their port get a real test line: a fresh pseudo-terminal
// on Linux, a socat-linked COM pair under Wine (VORIN_TEST_LINES; those tests
// skip without it). No printer answers: the type and number readings are off.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/device.h"
#include "driver/driver_state.h"
#include "link/mux.h"
#include "driverfiles/records.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "link/link.h"
#include "link/server_channel.h"
#include "platform/local_time.h"
#include "platform/test_line.h"
#include "vorin/driver.h"

namespace {

namespace dr = vorin::driver;
namespace df = vorin::driverfiles;
namespace lk = vorin::link;
namespace fs = std::filesystem;
using vorin::test::ReadWholeFile;
using vorin::test::WriteWholeFile;

std::string Lines(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\r\n";
    return s;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

// A comments file whose line n explains code n.
std::string Comments(int upTo) {
    std::vector<std::string> lines;
    for (int n = 1; n <= upTo; ++n)
        lines.push_back(std::to_string(n) + "\tkomentarz " + std::to_string(n));
    return Lines(lines);
}

std::string ConfigFile(const std::vector<std::string>& changes = {}) {
    std::vector<std::string> lines = {
        "$13:10",       "$KONFIG.TXT", "$RAPORT.TXT", "$KOMENT.TXT", "$MODKONF.TXT",
        "$ECRTBUF.TXT", "$0",          "$0",          "$0",          "$1",
        "$0",           "$0",          "$0"};
    for (std::size_t i = 0; i < changes.size() && i < lines.size(); ++i) {
        if (!changes[i].empty()) lines[i] = "$" + changes[i];
    }
    return Lines(lines);
}

class DriverRun : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::make_unique<vorin::test::TempDir>();
        previous_ = fs::current_path();
        fs::current_path(fs::path(dir_->File("")));
        dr::State() = dr::DriverState{};
        for (int i = 0; i < dr::kFileCount; ++i) dr::State().fileName[i] = dr::kDefaultFileNames[i];
        df::SetLineTerminator("\r\n");
        df::TheDriverFileState().rewrite = false;
        lk::UstawieniaDomyslneLacza();
        dr::ZerowanieStanuSterownika();
        Write("KOMENT.TXT", Comments(70));
    }
    void TearDown() override {
        if (lk::PortOtwarty) lk::ZamknieciePortu();
        dr::ZerowanieStanuSterownika();
        fs::current_path(previous_);
        dir_.reset();
    }

    void Write(const std::string& name, const std::string& bytes) {
        fs::path p(name);
        if (p.has_parent_path()) fs::create_directories(p.parent_path());
        WriteWholeFile(name, bytes);
    }
    std::string Read(const std::string& name) { return ReadWholeFile(name); }

    // A port that no system here has, so the port step fails with 62.
    static std::string MissingPortEntry(int device = 1) {
        return "$" + std::to_string(device) + "\tCOM250:9600:MUX0:1\t3";
    }

    // A real line for the runs that must open their port; a new speed on
    // every open, as a pty-backed port under Wine refuses a change of parity alone.
    bool LineEntry(std::string& entry, int device = 1) {
        static const char* const kSpeeds[] = {"9600", "19200", "38400", "57600"};
        static unsigned next = 0;
        if (!line_) {
            std::string why;
            line_ = vorin::platform::TestLine::Create(why);
            if (!line_) {
                why_ = why;
                return false;
            }
        }
        entry = "$" + std::to_string(device) + "\tCOM" + std::to_string(line_->Port()) + ":" +
                kSpeeds[next++ % 4] + ":MUX0:1\t3";
        return true;
    }

    // Runs the whole cycle as a host does; the result code.
    std::uint8_t Run(const std::string& slot1, bool outputFile = false) {
        dr::ZerowanieStanuSterownika();
        dr::State().outputFileSwitch = outputFile;
        dr::State().slot[0] = "TESTDRV";
        dr::State().slot[1] = slot1;
        dr::OdczytanieKonfiguracji();
        if (lk::KodWyniku == 0) dr::StartSterownika();
        dr::ZakonczenieSterownika();
        return lk::KodWyniku;
    }

    std::string ReportLine(int n, const std::string& report = "RAPORT.TXT") {
        std::vector<std::string> lines = SplitLines(Read(report));
        if (n < 1 || static_cast<std::size_t>(n) > lines.size()) return "<none>";
        const std::string& l = lines[n - 1];
        return l.empty() || l[0] != '#' ? "<not a header> " + l : l.substr(1);
    }

    std::unique_ptr<vorin::test::TempDir> dir_;
    fs::path previous_;
    std::unique_ptr<vorin::platform::TestLine> line_;
    std::string why_;
};

// ---- Configuration ----------------------------------------------------------

TEST_F(DriverRun, ParameterStringFillsSlotsByTheOutputFileSwitch) {
    Write("cfg.txt", ConfigFile());
    dr::State().outputFileSwitch = true;
    dr::State().slot[1] = "in.txt;out.txt;cfg.txt";
    dr::OdczytanieKonfiguracji();
    EXPECT_EQ(lk::KodWyniku, 0);
    EXPECT_EQ(dr::State().slot[1], "in.txt");
    EXPECT_EQ(dr::State().slot[2], "out.txt");
    EXPECT_EQ(dr::State().slot[3], "cfg.txt");

    // Switch off: parameter 2 is the configuration file, parameter 3 goes nowhere.
    dr::ZerowanieStanuSterownika();
    dr::State().outputFileSwitch = false;
    dr::State().slot[1] = "in.txt;out.txt;cfg.txt";
    dr::OdczytanieKonfiguracji();
    EXPECT_EQ(lk::KodWyniku, 54);  // out.txt is no configuration file
    EXPECT_EQ(dr::State().slot[1], "in.txt");
    EXPECT_EQ(dr::State().slot[2], "out.txt");
    EXPECT_EQ(dr::State().slot[3], "");
}

TEST_F(DriverRun, ConfigurationLinesAndTheirLimits) {
    struct Case {
        std::vector<std::string> changes;
        std::uint8_t code;
        std::string terminator;
    } cases[] = {
        {{}, 0, "\r\n"},
        {{"10"}, 0, "\n"},
        {{"13:300"}, 54, "\r\n"},  // not a byte: terminator stays
        {{":10"}, 54, "\r\n"},     // no terminator at all
        {{"", "", "", "", "", "", "", "", "", "", "16777216"}, 54, "\r\n"},
        {{"", "", "", "", "", "", "", "", "", "", "16777215", "16777215", "16777215"}, 0, "\r\n"},
        {{"", "", "", "", "", "", "", "2"}, 54, "\r\n"},  // boolean
        {{"", "", "", "", "", "", "x"}, 54, "\r\n"},      // server settings
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.changes.empty() ? "defaults" : c.changes.back());
        df::SetLineTerminator("\r\n");
        Write("cfg.txt", ConfigFile(c.changes));
        dr::ZerowanieStanuSterownika();
        dr::State().slot[1] = "in.txt;cfg.txt";
        dr::OdczytanieKonfiguracji();
        EXPECT_EQ(lk::KodWyniku, c.code);
        EXPECT_EQ(df::LineTerminator(), c.terminator);
    }
    // A short file fails, the names read so far stay, the remembered ones do not change.
    Write("cfg.txt", Lines({"$10", "$K2.TXT"}));
    dr::ZerowanieStanuSterownika();
    dr::State().slot[1] = "in.txt;cfg.txt";
    dr::OdczytanieKonfiguracji();
    EXPECT_EQ(lk::KodWyniku, 54);
    EXPECT_EQ(df::LineTerminator(), "\r\n");
    EXPECT_EQ(dr::State().fileName[0], "K2.TXT");
    EXPECT_EQ(dr::State().rememberedName[0], "KONFIG.TXT");
}

TEST_F(DriverRun, ServerSettings) {
    EXPECT_TRUE(dr::PoprawneUstawieniaSerwera("1234:77"));
    EXPECT_EQ(dr::State().messageNumber, 1234u);
    EXPECT_EQ(dr::State().driverIdOverride, 77u);
    EXPECT_TRUE(dr::PoprawneUstawieniaSerwera("99"));
    EXPECT_EQ(dr::State().driverIdOverride, 0u);
    EXPECT_FALSE(dr::PoprawneUstawieniaSerwera("99:x"));
}

TEST_F(DriverRun, ParametersJoinedForAnotherDriver) {
    char parameters[256] = "in.txt";
    char extra[256] = "x.txt";
    dr::State().slot[2] = "cfg.txt";
    EXPECT_TRUE(dr::ZlozenieParametrow(parameters, extra));
    EXPECT_STREQ(parameters, "in.txt;x.txt;cfg.txt");
    EXPECT_STREQ(extra, "");
    std::string full(250, 'a');
    std::snprintf(parameters, sizeof parameters, "%s", full.c_str());
    EXPECT_FALSE(dr::ZlozenieParametrow(parameters, extra));
    EXPECT_EQ(std::string(parameters), full);
}

TEST_F(DriverRun, DefaultNamesKeepTheInputDirectoryAndItsCase) {
    dr::State().slot[1] = "Sub/Dir/in.txt";
    dr::OdczytanieKonfiguracji();
    EXPECT_EQ(dr::State().fileName[0], "Sub/Dir/KONFIG.TXT");
    EXPECT_EQ(dr::State().fileName[4], "Sub/Dir/ECRTBUF.TXT");
    // Compared as a case-blind system compares them.
    EXPECT_TRUE(dr::PlikSterownika("sub/dir/raport.txt"));
    EXPECT_FALSE(dr::PlikSterownika("raport.txt"));

    dr::State().slot[1] = "c:\\drv\\in.txt";
    dr::OdczytanieKonfiguracji();
    EXPECT_EQ(dr::State().fileName[1], "c:\\drv\\RAPORT.TXT");
    EXPECT_TRUE(dr::PlikSterownika("C:\\DRV\\koment.txt"));

    // KONFIG.TXT in the current directory: bare names.
    Write("KONFIG.TXT", "");
    dr::State().slot[1] = "Sub/Dir/in.txt";
    dr::OdczytanieKonfiguracji();
    EXPECT_EQ(dr::State().fileName[0], "KONFIG.TXT");
    EXPECT_TRUE(dr::PlikSterownika("raport.txt"));

    // A name written in lower case in the configuration file never matches.
    Write("cfg.txt", ConfigFile({"", "konfig.txt"}));
    dr::State().slot[1] = "in.txt;cfg.txt";
    dr::OdczytanieKonfiguracji();
    EXPECT_FALSE(dr::PlikSterownika("konfig.txt"));
    EXPECT_TRUE(dr::PlikSterownika("raport.txt"));
}

TEST_F(DriverRun, PortSpecifications) {
    struct Case {
        const char* text;
        bool good;
        std::uint32_t speed;
        std::uint8_t channel;
    } cases[] = {
        {"com1:9600:mux0:1", true, 9600, 1},
        {"  COM7:115200:MUX1:4 ; remark", true, 115200, 4},
        {"COM1:9600:MUX0:2", false, 9600, 2},
        {"COM1:0:MUX0:1", false, 0, 1},
        {"COM1:115201:MUX0:1", false, 115201, 1},
        {"COM1:x:MUX0:1", false, 0, 1},
        {"COM01:9600:MUX0:1", false, 0, 1},
        {"COM256:9600:MUX0:1", false, 0, 1},
        {"COM1:9600:MUX4:1", false, 9600, 1},
        {"COM1:9600:MUX0:1:5", false, 9600, 1},
        {"COM1:9600:MUX3:8", true, 9600, 8},
        {"COM1:9600:MUX0", false, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        lk::UstawieniaDomyslneLacza();
        lk::Predkosc = 0;
        EXPECT_EQ(dr::PoprawnyOpisPortu(c.text), c.good);
        EXPECT_EQ(lk::Predkosc, c.speed);
        if (c.good) {
            EXPECT_EQ(lk::NumerKanalu, c.channel);
            EXPECT_EQ(lk::KodParzystosci, 2);
        }
    }
    EXPECT_TRUE(dr::PoprawnyOpisPortu("COM1:9600:MUX2:8"));
    EXPECT_EQ(lk::Predkosc, 19200u);
    EXPECT_EQ(lk::NumerKanalu, 2);
    EXPECT_EQ(lk::PredkoscDrukarki, 9600u);
    EXPECT_EQ(lk::KanalDrukarki, 8);
    EXPECT_EQ(lk::KodParzystosci, 0);
    EXPECT_EQ(lk::TrybMux, 2);
}

TEST_F(DriverRun, DeviceEntryLookup) {
    auto lookup = [&](const std::string& konfig, std::uint8_t device) {
        Write("KONFIG.TXT", konfig);
        lk::UstawieniaDomyslneLacza();
        dr::State().requestedDevice = device;
        EXPECT_TRUE(OtwartoPlik(&dr::State().deviceConfigHandle, "KONFIG.TXT", 0));
        lk::KodWyniku = 0;
        dr::OdczytanieWpisuUrzadzenia();
        ZamknieciePliku(&dr::State().deviceConfigHandle);
        return lk::KodWyniku;
    };
    EXPECT_EQ(lookup("", 1), 13);
    EXPECT_EQ(lookup(Lines({"$2\tgarbage"}), 1), 14);  // other entries are not checked
    EXPECT_EQ(lookup(Lines({"$x\tCOM1:9600:MUX0:1\t3"}), 1), 16);
    EXPECT_EQ(lookup(Lines({"#1\tCOM1:9600:MUX0:1\t3"}), 1), 16);
    EXPECT_EQ(lookup(Lines({"$1\tCOM1:9600:MUX0:1\t70000"}), 1), 16);
    EXPECT_EQ(lookup(Lines({"$1\tCOM1:9600:MUX2:1\t3\t\tP:ABCDEFGH:1:2:3"}), 1), 16);

    dr::State().slot[0] = "DRV";
    dr::State().slot[1] = "in.txt";
    EXPECT_EQ(
        lookup(Lines({"; printers", "$2\tCOM9:9600:MUX0:1\t4", "$1\tcom3:9600:mux0:1\t7"}), 1), 0);
    EXPECT_EQ(lk::NumerPortu, 3);
    EXPECT_EQ(lk::TimeoutZapisu, 7u);
    EXPECT_EQ(lk::TimeoutOdczytu, 7u);
    EXPECT_EQ(df::HeaderLine(3), "Braxo (identyfikator domyslny)");
    std::vector<std::string> f;
    std::string h1 = df::HeaderLine(1);
    for (std::size_t at = 0;;) {
        std::size_t tab = h1.find('\t', at);
        f.push_back(h1.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
        if (tab == std::string::npos) break;
        at = tab + 1;
    }
    ASSERT_EQ(f.size(), 8u) << h1;
    EXPECT_EQ(f[1], "com3:9600:mux0:1");
    EXPECT_EQ(f[3].size(), 10u);
    EXPECT_EQ(f[3][4], '.');
    EXPECT_EQ(f[4].size(), 5u);
    EXPECT_EQ(f[5], "DRV");
    EXPECT_EQ(f[6], "WIN 8.50");
    EXPECT_EQ(f[7], "in.txt");

    EXPECT_EQ(lookup(Lines({"$1\tCOM1:9600:MUX2:3\t3\tKASA 7\tt:ABCDEFGH:1:9:4"}), 1), 0);
    EXPECT_EQ(df::HeaderLine(3), "KASA 7 (identyfikator z pliku KONFIG.TXT)\tt:ABCDEFGH:1:9:4");
    EXPECT_EQ(dr::State().muxLineKind, 'T');
    EXPECT_EQ(dr::State().muxName, "ABCDEFGH");
    EXPECT_EQ(lk::TimeoutZapisuMux, 9u);
    EXPECT_EQ(lk::LimitPowtorzenMux, 4);
    EXPECT_EQ(std::string(lk::KodMux.begin(), lk::KodMux.end()), "ABCDEFGH");
    EXPECT_EQ(lookup(Lines({"$1\tCOM1:9600:MUX2:3\t3\tK\tX:ABCDEFGH:1:9:4"}), 1), 16);
    EXPECT_EQ(lookup(Lines({"$1\tCOM1:9600:MUX2:3\t3\tK\tP:ABCDEFG:1:9:4"}), 1), 16);
}

// ---- Run start and finish -------------------------------------------------

TEST_F(DriverRun, EveryResultCodeEndsInTheReportStatusLine) {
    const std::string kInput = Lines({"#1", "#", "#"});
    std::string good;
    bool haveLine = LineEntry(good);
    struct Case {
        std::uint8_t code;
        std::string slot1;
        bool outputFile;
        std::function<void()> prepare;
        std::string file;  // the file concerned, "" for none
    };
    std::vector<Case> cases = {
        {1, "", false, [] {}, ""},
        {54, "in.txt;nocfg.txt", false, [] {}, ""},
        {2, "koment.txt", false, [] {}, "koment.txt"},
        {3, "in.txt", true, [] {}, ""},
        {4, "in.txt;raport.txt", true, [] {}, "raport.txt"},
        {5, "in.txt;in.txt", true, [] {}, "in.txt"},
        {6, "missing.txt", false, [] {}, "missing.txt"},
        {7, "in.txt", false,
         [&] {
             fs::remove("KONFIG.TXT");
             Write("sub/KOMENT.TXT", Comments(9));
         },
         ""},
        {8, "in.txt;nodir/out.txt", true, [] {}, "nodir/out.txt"},
        {10, "in.txt", false, [&] { Write("in.txt", ""); }, "in.txt"},
        {11, "in.txt", false, [&] { Write("in.txt", Lines({"$1"})); }, "in.txt"},
        {11, "in.txt", false,
         [&] {
             Write("in.txt", Lines({"#x", "#", "#"}));
         },
         "in.txt"},
        {10, "in.txt", false,
         [&] {
             Write("in.txt", Lines({"#1", "#"}));
         },
         "in.txt"},
        {13, "in.txt", false, [&] { Write("KONFIG.TXT", ""); }, "KONFIG.TXT"},
        {14, "in.txt", false, [&] { Write("KONFIG.TXT", MissingPortEntry(2)); }, "KONFIG.TXT"},
        {16, "in.txt", false, [&] { Write("KONFIG.TXT", Lines({"$1\tCOM1"})); }, "KONFIG.TXT"},
        {19, "in.txt", false,
         [&] {
             Write("in.txt", Lines({"#0", "#", "#"}));
         },
         ""},
        {19, "in.txt", false,
         [&] {
             Write("in.txt", Lines({"#100", "#", "#"}));
         },
         ""},
        {62, "in.txt", false, [] {}, ""},
    };
    if (haveLine) {
        cases.push_back({0, "in.txt", false, [&] { Write("KONFIG.TXT", Lines({good})); }, ""});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " " + c.slot1);
        Write("in.txt", kInput);
        Write("KONFIG.TXT", Lines({MissingPortEntry()}));
        fs::remove("RAPORT.TXT");
        c.prepare();
        if (c.code == 7) {
            // No KONFIG.TXT here or beside the input: the default names point into sub/.
            Write("sub/in.txt", kInput);
            ASSERT_EQ(Run("sub/in.txt", c.outputFile), 7);
            EXPECT_EQ(ReportLine(2, "sub/RAPORT.TXT"), "7\t; komentarz 7 (sub/KONFIG.TXT)");
            fs::remove_all("sub");
            continue;
        }
        ASSERT_EQ(Run(c.slot1, c.outputFile), c.code);
        std::string expected =
            std::to_string(c.code) + "\t; " +
            (c.code == 0 ? "program zakonczony bezblednie" : "komentarz " + std::to_string(c.code));
        if (!c.file.empty()) expected += " (" + c.file + ")";
        EXPECT_EQ(ReportLine(2), expected);
        EXPECT_FALSE(lk::PortOtwarty);
    }
    if (!haveLine) GTEST_SKIP() << "code 0 not shown, no test line: " << why_;
}

TEST_F(DriverRun, StatusLineCommentAndCulpritFile) {
    Write("in.txt", Lines({"#1", "#", "#"}));
    Write("KONFIG.TXT", "");
    // Culprit switch off (line 10 of the configuration file): no path.
    Write("cfg.txt", ConfigFile({"", "", "", "", "", "", "", "", "", "0"}));
    EXPECT_EQ(Run("in.txt;cfg.txt"), 13);
    EXPECT_EQ(ReportLine(2), "13\t; komentarz 13");
    // An empty line 3 hides every comment from line 3 on; the path stays.
    Write("KOMENT.TXT", Lines({"1\ta", "2\tb", "", "4\td"}) + Comments(20));
    EXPECT_EQ(Run("in.txt"), 13);
    EXPECT_EQ(ReportLine(2), "13\t; (KONFIG.TXT)");
    // A code beyond the comments file and naming no file: the bare number.
    Write("KOMENT.TXT", Comments(5));
    Write("KONFIG.TXT", Lines({MissingPortEntry()}));
    EXPECT_EQ(Run("in.txt"), 62);
    EXPECT_EQ(ReportLine(2), "62");
    // Header lines 1 and 3 of a run that failed before the lookup are empty.
    EXPECT_EQ(Run("missing.txt"), 6);
    EXPECT_EQ(ReportLine(1), "");
    EXPECT_EQ(ReportLine(3), "");
}

TEST_F(DriverRun, ReportFileFailures) {
    Write("in.txt", Lines({"#1", "#", "#"}));
    Write("KONFIG.TXT", Lines({MissingPortEntry()}));
    // 9: the report cannot be opened; nothing else is written, the status is kept.
    Write("cfg.txt", ConfigFile({"", "", "nodir/R.TXT"}));
    EXPECT_EQ(Run("in.txt;cfg.txt"), 9);
    EXPECT_FALSE(fs::exists("RAPORT.TXT"));
    EXPECT_EQ(df::HeaderLine(2), "9\t; komentarz 9 (nodir/R.TXT)");
    // A run that fails before its files are open and whose report name cannot
    // be created writes RAPORT.TXT in the current directory instead.
    EXPECT_EQ(Run("koment.txt;cfg.txt"), 2);
    EXPECT_EQ(ReportLine(2), "2\t; komentarz 2 (koment.txt)");
}

// Write failures need a file that refuses writes: /dev/full, where there is one.
TEST_F(DriverRun, HeaderLinesThatCannotBeWritten) {
    std::error_code ec;
    fs::create_symlink("/dev/full", "full.txt", ec);
    if (ec || !fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    Write("in.txt", Lines({"#1", "#", "#"}));
    Write("KONFIG.TXT", Lines({MissingPortEntry()}));
    EXPECT_EQ(Run("in.txt;full.txt", true), 17);
    EXPECT_EQ(ReportLine(2), "17\t; komentarz 17 (full.txt)");

    std::string entry;
    if (!LineEntry(entry)) GTEST_SKIP() << "no test line: " << why_;
    Write("KONFIG.TXT", Lines({entry}));
    Write("cfg.txt", ConfigFile({"", "", "full.txt"}));
    EXPECT_EQ(Run("in.txt;cfg.txt"), 18);
    // The report that could not be written is removed (here: the link to it).
    EXPECT_FALSE(fs::is_symlink("full.txt"));
    EXPECT_TRUE(fs::exists("/dev/full"));
}

TEST_F(DriverRun, InputVersion) {
    Write("KONFIG.TXT", Lines({MissingPortEntry()}));
    struct Case {
        std::uint32_t expected;
        std::string header2;
        std::uint8_t code;
    } cases[] = {
        {0, "#anything", 62}, {2, "#2 ", 62}, {2, "#2", 25},
        {2, "#3 ", 25},       {2, "#x ", 25}, {2, "#2 \tmore", 62},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header2);
        Write("in.txt", Lines({"#1", c.header2, "#"}));
        dr::ZerowanieStanuSterownika();
        dr::State().expectedVersion = c.expected;
        dr::State().slot[1] = "in.txt";
        dr::OdczytanieKonfiguracji();
        EXPECT_EQ(dr::StartSterownika(), c.code);
        dr::ZakonczenieSterownika();
    }
}

TEST_F(DriverRun, VersionOneWantsThisRunsDescriptionOrTheMinuteBefore) {
    const std::string built = "1\tCOM1:9600:MUX0:1\t3\t2026.12.08\t10:15\tDRV\tWIN 8.50\tin.txt";
    EXPECT_TRUE(dr::SameRunDescription(built, built));
    // One minute earlier, with or without seconds, needs a ninth field.
    const std::string withOut = built + "\tout.txt";
    std::string earlier = withOut;
    earlier.replace(earlier.find("10:15"), 5, "10:14");
    EXPECT_TRUE(dr::SameRunDescription(earlier, withOut));
    std::string seconds = withOut;
    seconds.replace(seconds.find("10:15"), 5, "10:14:59");
    EXPECT_TRUE(dr::SameRunDescription(seconds, withOut));
    std::string noNinth = built;
    noNinth.replace(noNinth.find("10:15"), 5, "10:14");
    EXPECT_FALSE(dr::SameRunDescription(noNinth, built));
    std::string twoEarlier = withOut;
    twoEarlier.replace(twoEarlier.find("10:15"), 5, "10:13");
    EXPECT_FALSE(dr::SameRunDescription(twoEarlier, withOut));
    // The minute after 23:59 is 00:00 of the next day, across a month, a
    // year and a leap day; the same date with 00:00 is a day too early.
    const struct {
        const char* before;
        const char* after;
        bool same;
    } midnights[] = {
        {"2026.12.08\t23:59", "2026.12.09\t00:00", true},
        {"2026.12.08\t23:59:30", "2026.12.09\t00:00", true},
        {"2026.12.08\t23:59", "2026.12.08\t00:00", false},
        {"2026.12.31\t23:59", "2027.01.01\t00:00", true},
        {"2028.02.28\t23:59", "2028.02.29\t00:00", true},
        {"2026.02.28\t23:59", "2026.03.01\t00:00", true},
        {"2026.02.30\t23:59", "2026.03.01\t00:00", false},
    };
    for (const auto& m : midnights) {
        SCOPED_TRACE(m.before);
        std::string before = withOut, after = withOut;
        before.replace(before.find("2026.12.08\t10:15"), 16, m.before);
        after.replace(after.find("2026.12.08\t10:15"), 16, m.after);
        EXPECT_EQ(dr::SameRunDescription(before, after), m.same);
    }
    std::string badTime = withOut;
    badTime.replace(badTime.find("10:15"), 5, "24:00");
    EXPECT_FALSE(dr::SameRunDescription(badTime, withOut));

    // Through a real start: header 1 as this very run describes itself.
    Write("KONFIG.TXT", Lines({MissingPortEntry()}));
    auto start = [&](const std::string& header1) {
        Write("in.txt", Lines({"#" + header1, "#1 ", "#"}));
        dr::ZerowanieStanuSterownika();
        dr::State().expectedVersion = 1;
        dr::State().slot[0] = "TESTDRV";
        dr::State().slot[1] = "in.txt";
        dr::OdczytanieKonfiguracji();
        std::uint8_t code = dr::StartSterownika();
        dr::ZakonczenieSterownika();
        return code;
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto before = vorin::platform::LocalNow();
        char date[16], time[8];
        std::snprintf(date, sizeof date, "%04d.%02d.%02d", before.year, before.month, before.day);
        std::snprintf(time, sizeof time, "%02d:%02d", before.hour, before.minute);
        std::string header1 = std::string("1\tCOM250:9600:MUX0:1\t3\t") + date + "\t" + time +
                              "\tTESTDRV\tWIN 8.50\tin.txt";
        std::uint8_t same = start(header1);
        std::uint8_t other = start(header1 + "x");
        if (vorin::platform::LocalNow().minute != before.minute) continue;  // the clock moved on
        EXPECT_EQ(same, 62);  // past the check, on to the port
        EXPECT_EQ(other, 25);
        EXPECT_EQ(ReportLine(2), "25\t; komentarz 25");
        break;
    }
}

// The printer's number against the input's device number: the test plays a
// printer that answers command 0xC0 with the number "02".
TEST_F(DriverRun, PrinterNumberMustMatchTheRequestedDevice) {
    std::string entry;
    if (!LineEntry(entry)) GTEST_SKIP() << "no test line: " << why_;
    Write("in.txt", Lines({"#1", "#", "#"}));
    const struct {
        bool compare;
        const char* number;
        std::uint8_t code;
    } cases[] = {
        {true, "02", 22},
        {false, "02", 0},
        // No number in the answer: compared, that is no match (23, the
        // printer's answer is not one of the accepted values).
        {true, "x7", 23},
        {false, "x7", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.number) + (c.compare ? " compared" : ""));
        LineEntry(entry);
        Write("KONFIG.TXT", Lines({entry}));
        vorin_set_switch(VORIN_READ_NUMBER, 1);
        vorin_set_switch(VORIN_COMPARE_NUMBER, c.compare);
        std::vector<std::uint8_t> request;
        std::thread printer([&] {
            request = line_->Receive(2, 5000);
            if (request.size() == 2) {
                line_->Send({0x06, static_cast<std::uint8_t>(c.number[0]),
                             static_cast<std::uint8_t>(c.number[1])});
            }
        });
        std::uint8_t code = Run("in.txt");
        printer.join();
        vorin_set_switch(VORIN_READ_NUMBER, 0);
        vorin_set_switch(VORIN_COMPARE_NUMBER, 0);
        EXPECT_EQ(request, (std::vector<std::uint8_t>{0x1B, 0xC0}));
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(ReportLine(2),
                  c.code != 0 ? std::to_string(c.code) + "\t; komentarz " + std::to_string(c.code)
                              : "0\t; program zakonczony bezblednie");
    }
    // The type was not read: no record for the printers' description file,
    // where one without a type would refuse every printer after it.
    EXPECT_EQ(Read("ECRTBUF.TXT"), "");
}

TEST_F(DriverRun, AnnouncementGoesToTheChannelAndTheDebugLog) {
    Write("in.txt", Lines({"#1", "#", "#"}));
    Write("KONFIG.TXT", Lines({MissingPortEntry()}));
    std::string entry;
    bool haveLine = LineEntry(entry);
    if (haveLine) Write("KONFIG.TXT", Lines({entry}));
    // Verbose, channel off: only the diagnostic line.
    Write("cfg.txt", ConfigFile({"", "", "", "", "", "", "0:4242", "1", "", "", "5"}));
    Run("in.txt;cfg.txt");
    EXPECT_NE(Read("debug.txt").find("###DRIVER: TESTDRV, PID="), std::string::npos);
    EXPECT_NE(Read("debug.txt").find(" poslal komunikat AVAILABLE do Serwera ###"),
              std::string::npos);
    if (!haveLine) GTEST_SKIP() << "channel settings not shown, no test line: " << why_;
    // Channel on: the settings reach it at the start.
    LineEntry(entry);
    Write("KONFIG.TXT", Lines({entry}));
    Write("cfg.txt", ConfigFile({"", "", "", "", "", "", "49152:4242", "0", "", "", "5"}));
    dr::ZerowanieStanuSterownika();
    dr::State().slot[1] = "in.txt;cfg.txt";
    dr::OdczytanieKonfiguracji();
    EXPECT_EQ(lk::NumerKomunikatu(), 0u);
    ASSERT_EQ(dr::StartSterownika(), 0);
    EXPECT_EQ(lk::NumerKomunikatu(), 49152u);
    EXPECT_EQ(lk::IdSterownika(), 4242u);
    dr::ZakonczenieSterownika();
    dr::ZerowanieStanuSterownika();
    EXPECT_EQ(lk::NumerKomunikatu(), 0u);
}

TEST_F(DriverRun, OutputFileGetsHeadersAndIsAppendedOrRewritten) {
    std::string entry;
    if (!LineEntry(entry)) GTEST_SKIP() << "no test line: " << why_;
    Write("KONFIG.TXT", Lines({entry}));
    Write("in.txt", Lines({"#1", "#", "#", "$a"}));
    Write("out.txt", Lines({"#old"}));
    ASSERT_EQ(Run("in.txt;out.txt", true), 0);
    std::vector<std::string> out = SplitLines(Read("out.txt"));
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], "#old");
    EXPECT_EQ(out[1].substr(0, 3), "#1\t");
    EXPECT_EQ(out[3], "#Braxo (identyfikator domyslny)");
    LineEntry(entry);
    Write("KONFIG.TXT", Lines({entry}));
    df::TheDriverFileState().rewrite = true;
    ASSERT_EQ(Run("in.txt;out.txt", true), 0);
    EXPECT_EQ(SplitLines(Read("out.txt")).size(), 3u);
}

TEST_F(DriverRun, ExchangeCopiesAppendABlockPerRun) {
    Write("KONFIG.TXT", Lines({MissingPortEntry()}));
    Write("in.txt", Lines({"#1", "#", "#", "$data"}));
    Write("cfg.txt", ConfigFile());
    // No "$$$": no copies, no error.
    EXPECT_EQ(Run("in.txt;cfg.txt"), 62);
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 5);

    fs::create_directory("$$$");
    const fs::path here = fs::current_path();
    EXPECT_EQ(Run("in.txt;cfg.txt"), 62);
    EXPECT_EQ(Run("in.txt;cfg.txt"), 62);
    EXPECT_EQ(fs::current_path(), here);
    for (const char* ext : {"IN", "RAP", "KON", "SER"}) {
        SCOPED_TRACE(ext);
        std::vector<std::string> lines = SplitLines(Read(std::string("$$$/in.") + ext));
        int headers = 0;
        for (const std::string& l : lines) {
            if (l.rfind(";*** ", 0) == 0) {
                ++headers;
                EXPECT_EQ(l.substr(l.size() - 13), " TESTDRV *** ");
            }
        }
        EXPECT_EQ(headers, 2);
    }
    EXPECT_EQ(SplitLines(Read("$$$/in.IN")).size(), 2u * 5u);
    // A run the device commands already finished is not finished twice.
    dr::ZakonczenieSterownika();
    EXPECT_EQ(SplitLines(Read("$$$/in.IN")).size(), 2u * 5u);
    EXPECT_EQ(SplitLines(Read("$$$/in.KON"))[1], MissingPortEntry());
    EXPECT_FALSE(fs::exists("$$$/in.OUT"));  // the output-file switch is off
    EXPECT_EQ(SplitLines(Read("$$$/in.RAP"))[2].substr(0, 4), "#62\t");

    // An input taken from "$$$" is its own exchange copy: not copied into
    // itself (shared opens let the copy's two opens meet the one file).
    const std::string archived = Read("$$$/in.IN");
    df::TheDriverFileState().exclusiveOpen = false;
    const std::uint8_t code = Run("$$$/in.IN;cfg.txt");
    df::TheDriverFileState().exclusiveOpen = true;
    EXPECT_EQ(code, 62);
    EXPECT_EQ(Read("$$$/in.IN"), archived);
    EXPECT_EQ(SplitLines(Read("$$$/in.KON")).size(), 3u * 2u);
}

TEST_F(DriverRun, BuiltTextsStayInsideTheirBuffers) {
    // A long input path, driver name and comment: every built line is cut,
    // never overflowed, and the report stays readable line by line.
    std::string longName(200, 'n');
    std::string input = longName + ".txt";
    Write(input, Lines({"#1", "#", "#"}));
    Write("KONFIG.TXT", Lines({MissingPortEntry()}));
    Write("KOMENT.TXT", Comments(61) + "62\t" + std::string(250, 'c') + "\r\n");
    dr::ZerowanieStanuSterownika();
    dr::State().slot[0] = std::string(255, 'd');
    dr::State().slot[1] = input;
    dr::OdczytanieKonfiguracji();
    EXPECT_EQ(dr::StartSterownika(), 62);
    dr::ZakonczenieSterownika();
    EXPECT_EQ(df::HeaderLine(1).size(), 254u);
    EXPECT_EQ(df::HeaderLine(2).size(), 254u);
    for (const std::string& l : SplitLines(Read("RAPORT.TXT"))) EXPECT_LE(l.size(), 255u);
    // An input directory so long that the default names would not fit: refused.
    fs::remove("KONFIG.TXT");
    dr::ZerowanieStanuSterownika();
    dr::State().slot[1] = std::string(250, 'p') + "/in.txt";
    dr::OdczytanieKonfiguracji();
    EXPECT_EQ(lk::KodWyniku, 54);
    // The C accessors cut and fill whole buffers.
    char text[256];
    vorin_set_slot(1, std::string(300, 'x').c_str());
    vorin_get_slot(1, text);
    EXPECT_EQ(std::string(text).size(), 255u);
}

}  // namespace

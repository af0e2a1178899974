// Identification, the description file and the article count search against
// the simulator's printer model behind the link's port table (model_line.h);
// real files in a temporary folder, a second real process for the shared
// appends. The same on Linux and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "device/device.h"
#include "device/internal.h"
#include "device/model_line.h"
#include "driverfiles/records.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "link/link.h"

namespace {

using namespace vorin;
using device::test::MakeProfile;
using device::test::ModelLine;
using vorin::test::ReadWholeFile;
using vorin::test::TempDir;
using vorin::test::WriteWholeFile;

std::string gPath;
bool gOutputSwitch = false;

class Identification : public ::testing::Test {
protected:
    void SetUp() override {
        gPath = dir_.File("ECRTBUF.TXT");
        gOutputSwitch = false;
        device::PlikiUrzadzenia pliki;
        pliki.sciezkaOpisow = [] { return gPath.c_str(); };
        pliki.plikWyjsciowy = [] { return gOutputSwitch; };
        device::UstawPlikiUrzadzenia(pliki);
        device::ZerowanieStanuUrzadzenia();
        device::PrzelacznikLiczeniaPLU = 0;
        device::PrzelacznikOdczytuNumeru = 0;
        for (int i = 1; i <= 3; ++i) driverfiles::SetHeaderLine(i, "");
    }
    void TearDown() override {
        int32_t& h = device::UchwytPlikuOpisow();
        if (h >= 0) ZamknieciePliku(&h);
        device::UstawPlikiUrzadzenia({});
    }
    std::string File() const { return ReadWholeFile(gPath); }

    TempDir dir_;
};

struct Case {
    const char* name;
    sim::PrinterProfile profile;
    const char* model;
    uint8_t a, b, generation;
    const char* identification;
    const char* description;
};

TEST_F(Identification, EachModelClassAndIdentificationRule) {
    sim::PrinterProfile old = MakeProfile(22, 5, 0, "MIR12345678");
    old.oldTypeQuery = true;
    const Case cases[] = {
        {"older printer, NAK to 0xFE", old, "Mirto", 4, 40, 1, "MIR12345678",
         "Mirto I gen. ver. 05"},
        {"class K", MakeProfile(31, 12, 'C', "KAL12345678"), "Kalen", 4, 40, 1, "KAL12345678",
         "Kalen I gen. ver. 12"},
        {"102 v1 A: 12 characters, no blank", MakeProfile(102, 1, 'A', "SOV123456789"), "Sovel", 6,
         18, 2, "SOV123456789", "Sovel II gen. ver. 01"},
        {"102 v1 B: blank after the third", MakeProfile(102, 1, 'B', "SOV12345678"), "Sovel", 6, 18,
         2, "SOV 12345678", "Sovel II gen. ver. 01"},
        {"114: 11 characters, no blank", MakeProfile(114, 3, 'A', "BRX12345678"), "Braxo", 4, 40, 2,
         "BRX12345678", "Braxo II gen. ver. 03"},
        {"105: blank after the third", MakeProfile(105, 2, 0, "BRX12345678"), "Braxo", 4, 40, 2,
         "BRX 12345678", "Braxo II gen. ver. 02"},
        {"107 class T", MakeProfile(107, 4, 0, "TRI12345678"), "Trina", 5, 18, 2, "TRI 12345678",
         "Trina II gen. ver. 04"},
        {"111 special pair", MakeProfile(111, 1, 'A', "BRX12345678"), "Braxo", 4, 40, 1,
         "BRX12345678", "Braxo I gen. ver. 01"},
        {"112 special pair", MakeProfile(112, 9, 0, "BRX12345678"), "Braxo", 4, 40, 1,
         "BRX12345678", "Braxo I gen. ver. 09"},
        {"117 class P: 9 characters, no generation", MakeProfile(117, 2, 0, "PVT123456XY"),
         "Pello Vita", 6, 24, 2, "PVT123456", "Pello Vita ver. 02"},
        {"100 v1 A is class M", MakeProfile(100, 1, 'A', "MIR123456789"), "Mirto", 4, 40, 2,
         "MIR123456789", "Mirto II gen. ver. 01"},
        {"43 class S, first generation", MakeProfile(43, 100, 0, "SOV12345678"), "Sovel", 6, 18, 1,
         "SOV12345678", "Sovel I gen. ver. 100"},
        {"TAB, CR and LF from the printer", MakeProfile(22, 5, 0, "MI\tR\r\n45678"), "Mirto", 4, 40,
         1, "MI R  45678", "Mirto I gen. ver. 05"},
    };
    for (const Case& c : cases) {
        // gtest's SCOPED_TRACE breaks its thread registry under Wine.
        const ::testing::Message trace = ::testing::Message() << c.name;
        SetUp();
        std::remove(gPath.c_str());
        ModelLine line(c.profile);
        link::KodWyniku = 0;
        EXPECT_TRUE(OdczytanieTypuUrzadzenia()) << trace;
        EXPECT_EQ(link::KodWyniku, 0) << trace;
        VorinDeviceType t;
        vorin_get_device_type(&t);
        EXPECT_EQ(t.typeCode, c.profile.type) << trace;
        EXPECT_EQ(link::KodTypuUrzadzenia, c.profile.type) << trace;
        EXPECT_EQ(t.version, c.profile.version) << trace;
        EXPECT_EQ(t.variant, c.profile.variant) << trace;
        EXPECT_STREQ(t.modelName, c.model) << trace;
        EXPECT_EQ(t.modelA, c.a) << trace;
        EXPECT_EQ(t.modelB, c.b) << trace;
        EXPECT_EQ(t.generation, c.generation) << trace;
        EXPECT_STREQ(t.identification, c.identification) << trace;
        EXPECT_STREQ(t.description, c.description) << trace;
        EXPECT_EQ(t.pluCount, 65535u) << trace;
        EXPECT_STREQ(t.pluText, "?????") << trace;
        EXPECT_EQ(line.CountOf(0xE6), 0u) << trace;
        EXPECT_EQ(line.CountOf(0xFF), c.profile.oldTypeQuery ? 1u : 0u) << trace;
        // Recorded for the next run; the number was not read (field 2 "xx").
        EXPECT_EQ(File(), std::string("$") + c.identification + "\txx\t" +
                              std::to_string(c.profile.type) + "\t" + c.model + "\t?????\t" +
                              t.generationText + "\t" + t.versionText + "\t" + c.description +
                              "\r\n")
            << trace;
        EXPECT_EQ(driverfiles::HeaderLine(3),
                  std::string(c.description) + " (identyfikator odczytany z urzadzenia)")
            << trace;
        TearDown();
    }
}

TEST_F(Identification, NumberIsTwoCharactersAndMustBeAByte) {
    sim::PrinterProfile p = MakeProfile(22, 1, 0, "MIR12345678");
    p.number = "42";
    {
        ModelLine line(p);
        EXPECT_TRUE(OdczytanieNumeruUrzadzenia());
        EXPECT_EQ(device::TypUrzadzenia().deviceNumber, 42);
        EXPECT_STREQ(device::TypUrzadzenia().numberText, "42");
    }
    p.number = "x7";
    ModelLine line(p);
    device::TypUrzadzenia().deviceNumber = 0;
    EXPECT_FALSE(OdczytanieNumeruUrzadzenia());
    EXPECT_EQ(link::KodWyniku, 0);
    EXPECT_EQ(device::TypUrzadzenia().deviceNumber, 0);
}

TEST_F(Identification, KnownPrinterIsFoundAndNotCountedAgain) {
    ModelLine line(MakeProfile(102, 1, 'A', "SOV123456789"));
    device::PrzelacznikLiczeniaPLU = 1;
    driverfiles::SetHeaderLine(3, "Braxo (identyfikator domyslny)\tP:MUXNAME1:1:2:3");
    ASSERT_TRUE(OdczytanieTypuUrzadzenia());
    EXPECT_EQ(device::TypUrzadzenia().pluCount, 2000u);
    EXPECT_EQ(line.CountOf(0xE6), 18u);
    EXPECT_FALSE(device::IdentyfikacjaZPliku);
    EXPECT_EQ(driverfiles::HeaderLine(3),
              "Sovel 2000 PLU II gen. ver. 01 (identyfikator odczytany z urzadzenia)\t"
              "P:MUXNAME1:1:2:3");

    line.ClearRecord();
    device::ZerowanieStanuUrzadzenia();
    gOutputSwitch = true;
    int32_t out = -1;
    driverfiles::TheDriverFileState().exclusiveOpen = false;
    ASSERT_TRUE(OtwartoPlik(&out, dir_.File("out.txt").c_str(), 1));
    driverfiles::TheDriverFileState().exclusiveOpen = true;
    driverfiles::TheDriverFileState().outputHandle = out;
    ASSERT_TRUE(OdczytanieTypuUrzadzenia());
    driverfiles::TheDriverFileState().outputHandle = -1;
    ZamknieciePliku(&out);
    EXPECT_TRUE(device::IdentyfikacjaZPliku);
    EXPECT_EQ(line.CountOf(0xE6), 0u);
    EXPECT_EQ(device::TypUrzadzenia().pluCount, 2000u);
    EXPECT_GE(device::UchwytPlikuOpisow(), 0) << "left open for the run finish";
    const std::string source = "identyfikator odczytany z urzadzenia i pliku " + gPath;
    EXPECT_STREQ(device::TypUrzadzenia().sourceText, source.c_str());
    const std::string line3 = "Sovel 2000 PLU II gen. ver. 01 (" + source + ")\tP:MUXNAME1:1:2:3";
    EXPECT_EQ(driverfiles::HeaderLine(3), line3);
    EXPECT_EQ(ReadWholeFile(dir_.File("out.txt")), "#\r\n#\r\n#" + line3 + "\r\n");
    const std::string file = File();
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1) << "not appended twice";
}

// The PLU switch may change between runs: a record is read back as it was
// written, and one without a count is counted when the switch asks for it.
TEST_F(Identification, RecordWithoutCountIsReadBackAsNotCounted) {
    // A long folder: the source text then fills header line 3, which must
    // still end in its multiplexer field.
    gPath = dir_.File(std::string(150, 'd'));  // within Windows' MAX_PATH
    ASSERT_TRUE(std::filesystem::create_directory(gPath));
    gPath += "/ECRTBUF.TXT";
    const std::string mux = "P:MUXNAME1:1:2:3";
    ModelLine line(MakeProfile(22, 5, 0, "MIR12345678"));
    ASSERT_TRUE(OdczytanieTypuUrzadzenia());
    device::ZerowanieStanuUrzadzenia();
    ASSERT_TRUE(OdczytanieTypuUrzadzenia()) << int(link::KodWyniku);
    EXPECT_TRUE(device::IdentyfikacjaZPliku);
    EXPECT_EQ(device::TypUrzadzenia().pluCount, 65535u);

    line.ClearRecord();
    device::ZerowanieStanuUrzadzenia();
    device::PrzelacznikLiczeniaPLU = 1;
    driverfiles::SetHeaderLine(3, "Braxo (identyfikator domyslny)\t" + mux);
    ASSERT_TRUE(OdczytanieTypuUrzadzenia()) << int(link::KodWyniku);
    EXPECT_TRUE(device::IdentyfikacjaZPliku);
    EXPECT_EQ(line.CountOf(0xE6), 18u);
    EXPECT_EQ(device::TypUrzadzenia().pluCount, 2000u);
    EXPECT_STREQ(device::TypUrzadzenia().description, "Mirto 2000 PLU I gen. ver. 05");
    EXPECT_NE(std::string(device::TypUrzadzenia().sourceText).find(", liczba PLU odczytana"),
              std::string::npos);
    const std::string line3 = driverfiles::HeaderLine(3);
    EXPECT_EQ(line3.size(), 254u);
    EXPECT_EQ(line3.substr(0, 30), "Mirto 2000 PLU I gen. ver. 05 ");
    EXPECT_EQ(line3.substr(line3.size() - mux.size() - 1), "\t" + mux);

    // Recorded with a count, found again with the switch off. (The lookup
    // left the file open; Windows removes no open file.)
    ZamknieciePliku(&device::UchwytPlikuOpisow());
    std::remove(gPath.c_str());
    device::ZerowanieStanuUrzadzenia();
    ASSERT_TRUE(OdczytanieTypuUrzadzenia());
    device::ZerowanieStanuUrzadzenia();
    device::PrzelacznikLiczeniaPLU = 0;
    line.ClearRecord();
    ASSERT_TRUE(OdczytanieTypuUrzadzenia()) << int(link::KodWyniku);
    EXPECT_TRUE(device::IdentyfikacjaZPliku);
    EXPECT_EQ(line.CountOf(0xE6), 0u);
    EXPECT_EQ(device::TypUrzadzenia().pluCount, 2000u);
    EXPECT_STREQ(device::TypUrzadzenia().description, "Mirto 2000 PLU I gen. ver. 05");
    const std::string file = File();
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1) << "not appended twice";
}

TEST_F(Identification, UnterminatedLastLineIsRepairedBeforeAppending) {
    // The blank line ends no search for the last line.
    WriteWholeFile(
        gPath,
        ";printers met\r\n\r\n$OTHER00001\t01\t22\tMirto\t?????\tI\t05\tMirto I gen. ver. 05");
    ModelLine line(MakeProfile(22, 5, 0, "MIR12345678"));
    ASSERT_TRUE(OdczytanieTypuUrzadzenia());
    EXPECT_EQ(
        File(),
        ";printers met\r\n\r\n$OTHER00001\t01\t22\tMirto\t?????\tI\t05\tMirto I gen. ver. 05\r\n"
        "$MIR12345678\txx\t22\tMirto\t?????\tI\t05\tMirto I gen. ver. 05\r\n");
}

TEST_F(Identification, RefusedRecordsFailWith60) {
    const struct {
        const char* file;
        uint8_t code;
    } cases[] = {
        // Same identification, another description: a different printer.
        {"$MIR12345678\t07\t22\tMirto\t?????\tI\t05\tMirto I gen. ver. 06\r\n", 60},
        {"$MIR12345678\t7x\t22\tMirto\t?????\tI\t05\tMirto I gen. ver. 05\r\n", 60},
        {"$OTHER\t07\t22\tMirto\t?????\tI\r\n", 60},
        {"$MIR12345678\t07\t22\tMirto\tmany\tI\t05\tMirto I gen. ver. 05\r\n", 60},
        {"#header where a record should be\r\n", 60},
    };
    for (const auto& c : cases) {
        // gtest's SCOPED_TRACE breaks its thread registry under Wine.
        const ::testing::Message trace = ::testing::Message() << c.file;
        WriteWholeFile(gPath, c.file);
        ModelLine line(MakeProfile(22, 5, 0, "MIR12345678"));
        device::ZerowanieStanuUrzadzenia();
        EXPECT_FALSE(OdczytanieTypuUrzadzenia()) << trace;
        EXPECT_EQ(link::KodWyniku, c.code) << trace;
        EXPECT_EQ(File(), c.file) << "nothing appended" << trace;
    }
}

TEST_F(Identification, AppendFailureAndOutputFailure) {
    gPath = dir_.File("no-such-folder/ECRTBUF.TXT");
    {
        ModelLine line(MakeProfile(22, 5, 0, "MIR12345678"));
        EXPECT_FALSE(OdczytanieTypuUrzadzenia());
        EXPECT_EQ(link::KodWyniku, 59);
    }
    gPath = dir_.File("ECRTBUF.TXT");
    gOutputSwitch = true;
    driverfiles::TheDriverFileState().outputHandle = -1;
    ModelLine line(MakeProfile(22, 5, 0, "MIR12345678"));
    EXPECT_FALSE(OdczytanieTypuUrzadzenia());
    EXPECT_EQ(link::KodWyniku, 17);
}

TEST_F(Identification, PrinterThatDoesNotAnswerLeavesTheLinkCode) {
    sim::PrinterProfile p = MakeProfile(22, 5, 0, "MIR12345678");
    p.oldTypeQuery = true;
    p.identification = "MIR1234567";  // one short: the printer stops before the host's count
    ModelLine line(p);
    EXPECT_FALSE(OdczytanieTypuUrzadzenia());
    EXPECT_EQ(link::KodWyniku, link::Kod::TimeoutOdbierania);
    EXPECT_EQ(File(), "");
}

TEST_F(Identification, CountSearch) {
    const struct {
        uint32_t plu;
        uint32_t count;
        size_t probes;
    } cases[] = {{2000, 2000, 18}, {65535, 65535, 1}, {1, 1, 17}, {0, 0, 17}, {65534, 65534, 17}};
    for (const auto& c : cases) {
        // gtest's SCOPED_TRACE breaks its thread registry under Wine.
        const ::testing::Message trace = ::testing::Message() << c.plu;
        sim::PrinterProfile p = MakeProfile(22, 5, 0, "MIR12345678");
        p.pluCount = c.plu;
        ModelLine line(p);
        uint32_t count = 12345;
        EXPECT_TRUE(device::UstalenieLiczbyPLU(count)) << trace;
        EXPECT_EQ(count, c.count) << trace;
        EXPECT_EQ(line.CountOf(0xE6), c.probes) << trace;
        EXPECT_EQ(link::KodWyniku, 0) << trace;
    }
}

TEST_F(Identification, ProbeSendsTheNumberLowByteFirst) {
    ModelLine line(MakeProfile(22, 5, 0, "MIR12345678"));
    bool beyond = true;
    EXPECT_TRUE(device::ProbaNumeruPLU(0x0102, beyond));
    EXPECT_FALSE(beyond);
    EXPECT_EQ(line.Written(), (std::vector<uint8_t>{0x1B, 0xE6, 0x02, 0x01}));
}

}  // namespace

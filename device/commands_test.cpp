// Article records, keys, the status check and the display text against the
// simulator's printer model behind the link's port table (model_line.h), the
// records written to a real output file in a temporary folder. The line
// plays the modem lines, so the status check runs past its line check here;
// on a pseudo-terminal it cannot (tests/device_e2e_test.cpp shows that end).
#include <gtest/gtest.h>

#include <string>

#include "device/device.h"
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

int gRunEnded = 0;

sim::Article Bread() {
    sim::Article a;
    a.name = "Bread";
    a.group = 3;
    a.department = 12;
    a.unit = 1;
    a.tax = 5;
    a.flag = 0;
    a.code = 5901234123457;
    a.price = 1250;
    a.locked = 1;
    return a;
}

const std::string kName19 = "Bread              ";
const std::string kName20 = kName19 + " ";

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        gRunEnded = 0;
        device::PlikiUrzadzenia pliki;
        pliki.zakonczenieSterownika = [] { ++gRunEnded; };
        device::UstawPlikiUrzadzenia(pliki);
        device::ZerowanieStanuUrzadzenia();
        // Shared, so that the test can read what was written while it is open.
        driverfiles::TheDriverFileState().exclusiveOpen = false;
        ASSERT_TRUE(OtwartoPlik(&out_, dir_.File("out.txt").c_str(), 1));
        driverfiles::TheDriverFileState().exclusiveOpen = true;
        driverfiles::TheDriverFileState().outputHandle = out_;
    }
    void TearDown() override {
        driverfiles::TheDriverFileState().outputHandle = -1;
        ZamknieciePliku(&out_);
        device::UstawPlikiUrzadzenia({});
    }
    // What the output file got since the last call.
    std::string Output() {
        const std::string all = ReadWholeFile(dir_.File("out.txt"));
        std::string fresh = all.substr(seen_);
        seen_ = all.size();
        return fresh;
    }
    // Identifies the printer first, as a run start does.
    void Identify(ModelLine&) {
        ASSERT_TRUE(device::OdczytanieKoduTypu());
        link::KodWyniku = 0;
    }

    TempDir dir_;
    int32_t out_ = -1;
    size_t seen_ = 0;
};

TEST_F(Commands, FullArticleRecordsByteForByte) {
    sim::PrinterProfile p = MakeProfile(22, 5, 0, "MIR12345678");
    p.articles[7] = Bread();
    p.articles[57920] = Bread();  // where 123456 would land if cut to its two low bytes
    sim::Article small = Bread();
    small.code = 42;
    small.price = 0;
    small.name = "Sm\tall\r\n\x1b";  // printer bytes that would split the record
    p.articles[8] = small;
    ModelLine line(p);
    Identify(line);
    line.ClearRecord();

    OdczytanieArtykulu(7, 7);
    EXPECT_EQ(link::KodWyniku, 0);
    EXPECT_EQ(line.Written(), (std::vector<uint8_t>{0x1B, 0xAC, 0x07, 0x00}));
    EXPECT_EQ(Output(), "$00007\t" + kName19 + "\t3\t12\t1\t5\t0\t5901234123457\t1250\t1\r\n");
    OdczytanieArtykulu(8, 9);
    EXPECT_EQ(Output(), "$00008\tSm all   " + std::string(10, ' ') +
                            "\t3\t12\t1\t5\t0\t0000000000042\t0\t1\r\n");
    // A number the printer's two bytes cannot carry: no such article there.
    line.ClearRecord();
    OdczytanieArtykulu(123456, 123456);
    OdczytanieArtykuluKrotkiego(65536, 65536);
    EXPECT_EQ(link::KodWyniku, 0);
    EXPECT_TRUE(line.Written().empty());
    EXPECT_EQ(Output(), "");

    // Missing article: skipped. last < first: nothing sent at all.
    line.ClearRecord();
    OdczytanieArtykulu(9, 9);
    EXPECT_EQ(link::KodWyniku, 0);
    OdczytanieArtykulu(7, 6);
    EXPECT_EQ(line.CountOf(0xAC), 1u);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(gRunEnded, 0);
}

TEST_F(Commands, HighRangeSendsOffsetAndWritesShortRecord) {
    sim::PrinterProfile p = MakeProfile(22, 5, 0, "MIR12345678");
    p.articles[65030] = Bread();
    p.articles[65535] = Bread();
    ModelLine line(p);
    Identify(line);
    device::PrzelacznikWysokiegoZakresu = 1;
    line.ClearRecord();
    OdczytanieArtykulu(7, 7);
    EXPECT_EQ(line.Written(), (std::vector<uint8_t>{0x1B, 0xAC, 0x06, 0xFE}));
    EXPECT_EQ(Output(), "$07\t" + kName19 + "\t3\t1250\r\n");
    line.ClearRecord();
    EXPECT_TRUE(RozkazArtykulu(7, 7));
    EXPECT_EQ(line.Written(), (std::vector<uint8_t>{0x1B, 0xF1, 0x06, 0xFE}));
    // The short-record read and command 0x04 never add the offset.
    line.ClearRecord();
    RozkazArtykulu04(7, 7);
    EXPECT_EQ(line.Written(), (std::vector<uint8_t>{0x1B, 0x04, 0x07, 0x00}));
    // 512 + 65023 is the last number the two bytes carry; 513 is none.
    line.ClearRecord();
    link::KodWyniku = 0;
    OdczytanieArtykulu(513, 513);
    EXPECT_EQ(link::KodWyniku, 0);
    EXPECT_FALSE(RozkazArtykulu(513, 513));
    EXPECT_EQ(link::KodWyniku, 202);
    EXPECT_FALSE(RozkazArtykulu04(65536, 65536));
    EXPECT_EQ(link::KodWyniku, 202);
    EXPECT_TRUE(line.Written().empty());
    EXPECT_EQ(Output(), "");
    link::KodWyniku = 0;
    EXPECT_TRUE(RozkazArtykulu(512, 512));
    EXPECT_EQ(line.Written(), (std::vector<uint8_t>{0x1B, 0xF1, 0xFF, 0xFF}));
}

TEST_F(Commands, ClassPAndSpecialPairRecords) {
    sim::Article eight = Bread();
    eight.group = 8;
    {
        sim::PrinterProfile p = MakeProfile(117, 2, 0, "PVT123456XY");
        p.articles[7] = Bread();
        ModelLine line(p);
        Identify(line);
        OdczytanieArtykulu(7, 7);
        EXPECT_EQ(Output(), "$00007\t" + kName19 + "\t3\t12\t5901234123457\t1250\r\n");
    }
    {
        sim::PrinterProfile p = MakeProfile(111, 1, 0, "BRX12345678");
        p.articles[7] = eight;
        ModelLine line(p);
        Identify(line);
        OdczytanieArtykulu(7, 7);
        EXPECT_EQ(link::KodWyniku, 0);
        EXPECT_EQ(Output(), "$00007\t" + kName19 + "\t8\t12\t1\t5\t0\t5901234123457\t1250\t1\r\n");
    }
}

TEST_F(Commands, ValueOutOfRangeGives23AndEndsTheRun) {
    const struct {
        const char* what;
        void (*spoil)(sim::Article&);
    } cases[] = {
        {"group 8", [](sim::Article& a) { a.group = 8; }},
        {"department 0", [](sim::Article& a) { a.department = 0; }},
        {"department 100", [](sim::Article& a) { a.department = 100; }},
        {"unit 4", [](sim::Article& a) { a.unit = 4; }},
        {"tax 17", [](sim::Article& a) { a.tax = 17; }},
        {"flag 2", [](sim::Article& a) { a.flag = 2; }},
        {"byte 35 is 2", [](sim::Article& a) { a.locked = 2; }},
    };
    for (const auto& c : cases) {
        // gtest's SCOPED_TRACE breaks its thread registry under Wine.
        const ::testing::Message trace = ::testing::Message() << c.what;
        sim::PrinterProfile p = MakeProfile(102, 1, 'A', "SOV123456789");
        p.articles[7] = Bread();
        c.spoil(p.articles[7]);
        ModelLine line(p);
        Identify(line);
        gRunEnded = 0;
        OdczytanieArtykulu(7, 7);
        EXPECT_EQ(link::KodWyniku, 23) << trace;
        EXPECT_EQ(gRunEnded, 1) << trace;
        EXPECT_EQ(Output(), "") << trace;
    }
}

TEST_F(Commands, ShortRecordCountAndArticleCommands) {
    sim::PrinterProfile p = MakeProfile(102, 1, 'A', "SOV123456789");
    p.articles[7] = Bread();
    ModelLine line(p);
    Identify(line);
    line.ClearRecord();
    OdczytanieArtykuluKrotkiego(7, 7);
    EXPECT_EQ(line.Written(), (std::vector<uint8_t>{0x1B, 0x03, 0x07, 0x00}));
    EXPECT_EQ(Output(), "$00007\t" + kName20 + "\t3\t5901234123457\t1250\r\n");

    uint32_t count = 0;
    EXPECT_TRUE(OdczytanieLiczbyPLU(&count));
    EXPECT_EQ(count, 2000u);
    EXPECT_EQ(line.CountOf(0x91), 1u);

    // An extended type takes 0x9F; the model refuses 0xF1 from it.
    line.ClearRecord();
    EXPECT_TRUE(RozkazArtykulu(7, 7));
    EXPECT_EQ(line.Commands(), (std::vector<uint8_t>{0x9F}));
    EXPECT_FALSE(RozkazArtykulu(8, 8));
    EXPECT_EQ(link::KodWyniku, 202);

    // A refusal of this article is recorded and forgiven; others are left.
    uint8_t code = 0;
    link::KodWyniku = 222;
    EXPECT_TRUE(ZapisanieBleduArtykulu(8, &code));
    EXPECT_EQ(code, 222);
    EXPECT_EQ(link::KodWyniku, 0);
    EXPECT_EQ(Output(), "$00008\t222\r\n");
    link::KodWyniku = 105;
    code = 0;
    EXPECT_FALSE(ZapisanieBleduArtykulu(8, &code));
    EXPECT_EQ(link::KodWyniku, 105);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Output(), "");
}

TEST_F(Commands, CountWithoutQueryForOlderModels) {
    for (auto [type, variant] : {std::pair<uint8_t, uint8_t>{22, 0}, {101, 'B'}}) {
        ModelLine line(MakeProfile(type, 1, variant, type == 22 ? "MIR12345678" : "MIR12345678"));
        Identify(line);
        line.ClearRecord();
        uint32_t count = 0;
        EXPECT_TRUE(OdczytanieLiczbyPLU(&count));
        EXPECT_EQ(count, 65535u);
        EXPECT_TRUE(line.Commands().empty());
    }
}

std::vector<uint8_t> Codes(std::initializer_list<int> digitsOrKeys) {
    std::vector<uint8_t> v;
    for (int k : digitsOrKeys) v.push_back(device::KodKlawisza(static_cast<uint8_t>(k)));
    return v;
}

TEST_F(Commands, KeysReachThePrinter) {
    ModelLine line(MakeProfile(22, 5, 0, "MIR12345678"));
    EXPECT_TRUE(NacisniecieKlawisza('5', 0));
    EXPECT_EQ(line.Written(), (std::vector<uint8_t>{0x1B, 0xF9, 0x0B, 0xF4}));
    EXPECT_TRUE(line.Pauses().empty());

    line.ClearRecord();
    link::KodWyniku = 0;
    EXPECT_FALSE(NacisniecieKlawisza('A', 1));
    EXPECT_TRUE(line.Written().empty());
    EXPECT_EQ(link::KodWyniku, 0);

    const std::vector<uint8_t> before = line.Device().Keys();
    EXPECT_TRUE(WpisanieLiczby(300, 0));
    EXPECT_TRUE(WpisanieTekstu(2, "AB"));
    EXPECT_TRUE(SekwencjaKlawiszy());
    std::vector<uint8_t> expected = {11};
    for (uint8_t c : Codes({'0', '4', '4', 13, '2', '1', 13, '0', '6', '5', 13, '0', '6', '6', 13}))
        expected.push_back(c);
    for (int i = 0; i < 10; ++i) expected.push_back(21);
    for (uint8_t c : {77, 9, 22}) expected.push_back(c);
    EXPECT_EQ(line.Device().Keys(), expected);
    EXPECT_EQ(before.size(), 1u);
    // Every key but the last of WpisanieLiczby(300, 0) paused 100 ms.
    EXPECT_EQ(line.Pauses(), std::vector<unsigned>(expected.size() - 2, 100));
}

TEST_F(Commands, StatusCheckTakesTheFirstProblemFromTheTop) {
    struct Row {
        const char* what;
        uint8_t s9b, s94, s95, s96, j;
        uint32_t state;
        uint8_t code;
    };
    const Row rows[] = {
        {"ready", 0x01, 0, 0, 0x40, 0, 0, 0},
        {"A and I: 258, not 47", 0x00, 0, 0x04, 0x40, 0, 258, 57},
        {"B", 0x05, 0, 0, 0x40, 0, 259, 57},
        {"I", 0x01, 0x1A, 0x47, 0x00, 1, 0, 47},
        {"H", 0x01, 0x1A, 0x43, 0x00, 1, 0, 101},
        {"G", 0x01, 0x0A, 0x43, 0x00, 1, 0, 48},
        {"C", 0x01, 0x0A, 0x41, 0x00, 1, 260, 57},
        {"D", 0x01, 0x0A, 0x01, 0x00, 1, 261, 57},
        {"E", 0x01, 0x08, 0x01, 0x00, 1, 262, 57},
        {"F", 0x01, 0x08, 0x00, 0x00, 1, 263, 57},
        {"J", 0x01, 0x00, 0x00, 0x00, 1, 0, 223},
        {"K", 0x01, 0x00, 0x00, 0x00, 0, 0, 227},
    };
    for (const Row& r : rows) {
        // gtest's SCOPED_TRACE breaks its thread registry under Wine.
        const ::testing::Message trace = ::testing::Message() << r.what;
        sim::PrinterProfile p = MakeProfile(22, 5, 0, "MIR12345678");
        p.status9B = r.s9b | 0x08;
        p.status94 = r.s94;
        p.status95 = r.s95;
        p.status96 = r.s96;
        p.status66 = {0, r.j};
        ModelLine line(p);
        EXPECT_EQ(StanDrukarki(), r.code == 0) << trace;
        EXPECT_EQ(link::KodWyniku, r.code) << trace;
        EXPECT_EQ(link::StanLinii, r.state) << trace;
        EXPECT_EQ(device::FlagaBituStatusu, 1) << trace;
        EXPECT_EQ(line.Commands(), (std::vector<uint8_t>{0x9B, 0x94, 0x95, 0x96, 0x66})) << trace;
    }
    // The flag is the 0x9B answer's, kept when a later query fails.
    {
        sim::PrinterProfile p = MakeProfile(22, 5, 0, "MIR12345678");
        p.status9B = 0x09;
        ModelLine line(p);
        line.answered = 1;
        device::FlagaBituStatusu = 0;
        EXPECT_FALSE(StanDrukarki());
        EXPECT_EQ(link::KodWyniku, link::Kod::TimeoutOdbierania);
        EXPECT_EQ(device::FlagaBituStatusu, 1);
    }
    // No carrier: the line check's code, and no status query goes out.
    ModelLine line(MakeProfile(22, 5, 0, "MIR12345678"));
    line.carrier = false;
    EXPECT_FALSE(StanDrukarki());
    EXPECT_EQ(link::KodWyniku, 57);
    EXPECT_EQ(link::StanLinii, 257u);
    EXPECT_TRUE(line.Commands().empty());
}

TEST_F(Commands, DisplayText) {
    sim::PrinterProfile p = MakeProfile(22, 5, 0, "MIR12345678");
    p.display[1] = {0, "TOTAL                              12.50"};
    p.display[2] = {1, "READY"};
    p.display[3] = {2, "ODD FORM"};
    ModelLine line(p);
    char text[256];
    EXPECT_TRUE(OdczytanieTekstuDrukarki(1, text));
    EXPECT_STREQ(text, "TOTAL                              12.50");
    EXPECT_TRUE(OdczytanieTekstuDrukarki(2, text));
    EXPECT_STREQ(text, "READY               ");
    EXPECT_TRUE(ZgodnoscTekstuDrukarki(2, "READY               "));
    EXPECT_FALSE(ZgodnoscTekstuDrukarki(2, "READY"));
    EXPECT_FALSE(OdczytanieTekstuDrukarki(3, text));
    EXPECT_EQ(link::KodWyniku, 23);
    EXPECT_STREQ(text, "");
    link::KodWyniku = 0;
    EXPECT_FALSE(OdczytanieTekstuDrukarki(9, text));
    EXPECT_EQ(link::KodWyniku, 105);
}

}  // namespace

// The device commands end to end on Linux: the library's own link and serial
// port library open a pseudo-terminal that the real vorin-sim serves with a
// printer profile from sim/profiles. What a pseudo-terminal cannot show: the
// modem lines, so the status check ends in its line check here (code 57);
// device/commands_test.cpp shows the check's own table on a line that plays
// the modem lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "device/device.h"
#include "driverfiles/records.h"
#include "e2e_process.h"
#include "link/link.h"
#include "vorin/serial.h"
#include "platform/dynlib.h"

namespace {

using namespace vorin;

constexpr uint8_t kPort = 41;  // COM41 is the simulator's line through VORIN_COM41

std::string Bin() { return platform::programDirectory(); }
std::string Profile(const std::string& name) {
    return std::string(VORIN_SOURCE_DIR) + "/sim/profiles/" + name + ".profile";
}

std::string gPath;

class DeviceEndToEnd : public ::testing::Test {
protected:
    void Start(const std::string& profile) {
        keys_ = dir_.path() + "/keys.txt";
        std::string error;
        ASSERT_TRUE(sim_.Start(Bin() + "vorin-sim",
                               {"--printer", Profile(profile), "--dump-keys", keys_},
                               dir_.path() + "/sim.log", &error))
            << error;
        setenv(("VORIN_COM" + std::to_string(kPort)).c_str(), sim_.line().c_str(), 1);
        gPath = dir_.path() + "/ECRTBUF.TXT";
        device::PlikiUrzadzenia pliki;
        pliki.sciezkaOpisow = [] { return gPath.c_str(); };
        device::UstawPlikiUrzadzenia(pliki);
        device::ZerowanieStanuUrzadzenia();
        link::UstawieniaDomyslneLacza();
        link::NumerPortu = kPort;
        link::Predkosc = 38400;
        link::TimeoutOdczytu = 1;
        link::OtwarciePortu();
        char why[256] = "";
        char* whyText = why;
        int32_t whyCode = 0;
        if (!link::PortOtwarty) IsError(&whyText, &whyCode);
        ASSERT_TRUE(link::PortOtwarty)
            << "port " << sim_.line() << ": " << why << " (" << whyCode << ")";
        ASSERT_TRUE(OtwartoPlik(&out_, (dir_.path() + "/out.txt").c_str(), 1));
        driverfiles::driverFileState().outputHandle = out_;
    }
    void TearDown() override {
        link::ZamknieciePortu();
        driverfiles::driverFileState().outputHandle = -1;
        if (out_ >= 0) ZamknieciePliku(&out_);
        device::PrzelacznikLiczeniaPLU = 0;
        device::UstawPlikiUrzadzenia({});
    }

    e2e::TempDir dir_;
    e2e::Simulator sim_;
    std::string keys_;
    int32_t out_ = -1;
};

TEST_F(DeviceEndToEnd, SovelIdentifiedCountedReadAndTypedAt) {
    Start("sovel");
    device::PrzelacznikLiczeniaPLU = 1;
    ASSERT_TRUE(OdczytanieTypuUrzadzenia()) << int(link::KodWyniku);
    EXPECT_TRUE(OdczytanieNumeruUrzadzenia());
    const VorinDeviceType& t = device::TypUrzadzenia();
    EXPECT_EQ(t.deviceNumber, 7);
    EXPECT_STREQ(t.identification, "SOV000012345");
    EXPECT_STREQ(t.description, "Sovel 2000 PLU II gen. ver. 01");
    EXPECT_EQ(e2e::ReadFile(gPath),
              "$SOV000012345\txx\t102\tSovel\t2000\tII\t01\tSovel 2000 PLU II gen. ver. 01\r\n");

    OdczytanieArtykulu(7, 7);
    OdczytanieArtykulu(8, 8);  // not in the table: skipped
    OdczytanieArtykuluKrotkiego(1, 1);
    EXPECT_EQ(link::KodWyniku, 0);
    EXPECT_EQ(e2e::ReadFile(dir_.path() + "/out.txt"),
              "$00007\tCoffee 250g        \t3\t12\t1\t5\t0\t5901234123464\t1250\t1\r\n"
              "$00001\tBread               \t1\t5901234123457\t350\r\n");

    EXPECT_TRUE(WpisanieLiczby(300, 0));
    EXPECT_TRUE(WpisanieTekstu(2, "AB"));
    EXPECT_TRUE(SekwencjaKlawiszy());
    EXPECT_FALSE(NacisniecieKlawisza('A', 1));
    char text[256];
    EXPECT_TRUE(OdczytanieTekstuDrukarki(2, text));
    EXPECT_STREQ(text, "READY               ");

    EXPECT_FALSE(StanDrukarki());
    EXPECT_EQ(link::KodWyniku, 57) << "a pseudo-terminal has no modem lines";

    link::ZamknieciePortu();
    EXPECT_EQ(sim_.Stop(), 0);
    // digits 0 4 4 Enter; 2 1 Enter; 0 6 5 Enter; 0 6 6 Enter; ten Escapes; 1 7 Enter
    EXPECT_EQ(e2e::ReadFile(keys_),
              "14\n18\n18\n22\n20\n12\n22\n14\n19\n11\n22\n14\n19\n19\n22\n"
              "21\n21\n21\n21\n21\n21\n21\n21\n21\n21\n77\n9\n22\n");
    const std::string log = e2e::ReadFile(dir_.path() + "/sim.log.err");
    EXPECT_NE(log.find("unknown_commands=0"), std::string::npos) << log;
    EXPECT_NE(log.find("keys=28 bad_keys=0"), std::string::npos) << log;
}

TEST_F(DeviceEndToEnd, OlderPrinterAndSecondRunFromTheFile) {
    Start("mirto-old");
    ASSERT_TRUE(OdczytanieTypuUrzadzenia()) << int(link::KodWyniku);
    EXPECT_STREQ(device::TypUrzadzenia().description, "Mirto I gen. ver. 05");
    EXPECT_FALSE(device::IdentyfikacjaZPliku);
    device::ZerowanieStanuUrzadzenia();
    ASSERT_TRUE(OdczytanieTypuUrzadzenia()) << int(link::KodWyniku);
    EXPECT_TRUE(device::IdentyfikacjaZPliku);
    EXPECT_EQ(device::TypUrzadzenia().pluCount, 65535u);
    int32_t& h = device::UchwytPlikuOpisow();
    if (h >= 0) ZamknieciePliku(&h);
    link::ZamknieciePortu();
    sim_.Stop();
    const std::string log = e2e::ReadFile(dir_.path() + "/sim.log.err");
    // 0xFE is refused by this printer, which a host must take as "ask the old way".
    EXPECT_NE(log.find("unknown_commands=2"), std::string::npos) << log;
}

TEST_F(DeviceEndToEnd, EveryReadyProfileIsIdentified) {
    const struct {
        const char* profile;
        const char* description;
    } cases[] = {
        {"mirto-old", "Mirto I gen. ver. 05"}, {"kalen", "Kalen I gen. ver. 12"},
        {"sovel", "Sovel II gen. ver. 01"},    {"trina", "Trina II gen. ver. 04"},
        {"pello-vita", "Pello Vita ver. 02"},  {"braxo", "Braxo I gen. ver. 03"},
    };
    for (const auto& c : cases) {
        Start(c.profile);
        EXPECT_TRUE(OdczytanieTypuUrzadzenia()) << c.profile << ": " << int(link::KodWyniku);
        EXPECT_STREQ(device::TypUrzadzenia().description, c.description) << c.profile;
        EXPECT_TRUE(OdczytanieNumeruUrzadzenia()) << c.profile;
        TearDown();
        sim_.Stop();
    }
}

TEST(DeviceSimulator, ProfileMistakesAreUsageErrors) {
    e2e::TempDir dir;
    const std::string bad = dir.path() + "/bad.profile";
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"type = 102\nversion = 1\nvariant = A\nidentification = SOV00001234\n",
         "identification must be 12 characters"},
        {"type = 300\n", "bad value '300' for type"},
        {"colour = red\n", "unknown key 'colour'"},
        {"identification = MIR00001234\narticles = missing.txt\n", "cannot read the article table"},
    };
    for (const auto& c : cases) {
        FILE* f = std::fopen(bad.c_str(), "wb");
        std::fputs(c.text, f);
        std::fclose(f);
        std::string out, err;
        const int status =
            e2e::RunPiped({Bin() + "vorin-sim", "--printer", bad}, {}, "", 10, &out, &err);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << c.text;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
}

}  // namespace

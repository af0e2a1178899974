// The driver library as another program sees it: loaded at run time, every
// exported name looked up by name.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/dynlib.h"

namespace pf = vorin::platform;

namespace {

const char* const kExports[] = {
    "OtwartoPlik",
    "ZamknieciePliku",
    "MoznaOtworzycPlik",
    "Moje_feof",
    "ZatwierdzeniePliku",
    "OdczytanoZPlikuLinie",
    "OdczytanoZPlikuKonkretnaLinie",
    "OdczytanoZPlikuLinieDanych",
    "OdczytanoZPlikuLinieNaglowka",
    "ZapisanoDoPlikuLinie",
    "ZapisanoDoPlikuLinieDanych",
    "ZapisanoDoPlikuNaglowek",
    "OczyszczenieLinii",
    "NapisZawieraPole",
    "NapisZawieraDana",
    "NapisZawieraPodpole",
    "NapisZawieraParametr",
    "ZerowanieNapisu",
    "DopisanieZnaku",
    "WstawienieZnakuNaPoczatek",
    "FragmentNapisu",
    "NapisyRowne",
    "LiczbaOsmiobajtowaZNapisu",
    "StatusKonwersjiLiczby",
    "NapisZLiczbyOsmiobajtowej",
    "NapisZLiczbySzesciobajtowej",
    "ZnakJestCyfra",
    "ZnakJestKropkaLubPrzecinkiem",
    "UsuniecieSpacji",
    "PoprawnaLiczbaSzesciobajtowaDec",
    "PoprawnaLiczbaSzesciobajtowaHex",
    "PoprawnaLiczbaSzesciobajtowaWCudzyslowie",
    "PoprawnaLiczbaSzesciobajtowa",
    "PoprawnaLiczbaTypuLong",
    "PoprawnaLiczbaZPodanegoZakresu",
    "PoprawnaLiczbaTypuWord",
    "PoprawnaLiczbaTypuByte",
    "PoprawnaLiczbaTypuBoolean",
    "PoprawnaLiczbaZmiennoprzecinkowa",
    "PoprawnaLiczbaOsmiobajtowa",
    "PoprawnyNapisOpisujacyParzystosc",
    "PoprawnaData",
    "PoprawnyCzas",
    "DlugoscLiczbySzesciobajtowej",
};

class DriverLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        std::string path = pf::ProgramDirectory() + pf::DynlibFileName("vorindriver");
        std::string error;
        lib = pf::DynlibOpen(path.c_str(), &error);
        ASSERT_NE(lib, nullptr) << path << ": " << error;
    }
    void TearDown() override { pf::DynlibClose(lib); }
    template <typename Fn>
    Fn Get(const char* name) {
        return reinterpret_cast<Fn>(pf::DynlibSymbol(lib, name));
    }
    void* lib = nullptr;
};

TEST_F(DriverLibrary, EveryExportResolvesByName) {
    for (const char* name : kExports) EXPECT_NE(pf::DynlibSymbol(lib, name), nullptr) << name;
    EXPECT_EQ(pf::DynlibSymbol(lib, "NoSuchFunction"), nullptr);
}

TEST_F(DriverLibrary, ResolvedFunctionsWork) {
    auto byte = Get<uint8_t (*)(const char*, uint8_t*)>("PoprawnaLiczbaTypuByte");
    auto field = Get<uint8_t (*)(const char*, uint8_t, char*)>("NapisZawieraDana");
    auto text8 = Get<void (*)(const uint8_t*, char*)>("NapisZLiczbyOsmiobajtowej");
    auto eof = Get<uint8_t (*)(int32_t)>("Moje_feof");
    ASSERT_TRUE(byte && field && text8 && eof);
    uint8_t b = 0;
    EXPECT_EQ(byte("FFH", &b), 1);
    EXPECT_EQ(b, 255);
    char out[256];
    EXPECT_EQ(field("a\tb", 2, out), 1);
    EXPECT_STREQ(out, "b");
    uint8_t v[8];
    std::memset(v, 0xFF, sizeof v);
    text8(v, out);
    EXPECT_STREQ(out, "18446744073709551615");
    EXPECT_EQ(eof(-1), 1);
}

// Both libraries answer the package's version, the same text.
TEST_F(DriverLibrary, BothLibrariesAnswerThePackageVersion) {
    using VersionFn = const char* (*)();
    auto driverVersion = Get<VersionFn>("vorin_version");
    ASSERT_NE(driverVersion, nullptr);
    std::string error;
    const std::string path = pf::ProgramDirectory() + pf::DynlibFileName("vorinserial");
    void* serial = pf::DynlibOpen(path.c_str(), &error);
    ASSERT_NE(serial, nullptr) << path << ": " << error;
    auto serialVersion = reinterpret_cast<VersionFn>(pf::DynlibSymbol(serial, "vorin_version"));
    ASSERT_NE(serialVersion, nullptr);
    EXPECT_STREQ(driverVersion(), VORIN_VERSION);
    EXPECT_STREQ(serialVersion(), VORIN_VERSION);
    pf::DynlibClose(serial);
}

}  // namespace

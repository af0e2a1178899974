// The device operations as another program sees them: the built vorindriver
// loaded at run time and every name looked up.
#include <gtest/gtest.h>

#include "platform/dynlib.h"

namespace {

namespace pf = vorin::platform;

// Another program binds to these names alone.
TEST(DeviceExports, EveryDeviceOperationIsExportedByName) {
    void* lib =
        pf::dynlibOpen((pf::programDirectory() + pf::dynlibFileName("vorindriver")).c_str());
    ASSERT_NE(lib, nullptr);
    for (const char* name :
         {"ZerowanieSzczegolowychDanychOTypieUrzadzenia", "OdczytanieNumeruUrzadzenia",
          "OdczytanieTypuUrzadzenia", "vorin_get_device_type", "OdczytanieLiczbyPLU",
          "OdczytanieArtykulu", "OdczytanieArtykuluKrotkiego", "RozkazArtykulu", "RozkazArtykulu04",
          "ZapisanieBleduArtykulu", "NacisniecieKlawisza", "WpisanieLiczby", "SeriaEscape",
          "SekwencjaKlawiszy", "WpisanieTekstu", "StanDrukarki", "OdczytanieTekstuDrukarki",
          "ZgodnoscTekstuDrukarki"})
        EXPECT_NE(pf::dynlibSymbol(lib, name), nullptr) << name;
    pf::dynlibClose(lib);
}

}  // namespace

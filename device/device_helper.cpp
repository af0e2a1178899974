// Second process for the description file test: appends COUNT records with
// the identifications PREFIX0, PREFIX1, ... to FILE, as a driver that meets
// new printers does, then writes "ok" (or "failed") to DONE.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "device/device.h"
#include "link/link.h"

namespace {
std::string gPath;
const char* Path() { return gPath.c_str(); }
}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    gPath = argv[1];
    const std::string prefix = argv[2];
    const int count = std::atoi(argv[3]);
    vorin::device::PlikiUrzadzenia pliki;
    pliki.sciezkaOpisow = Path;
    vorin::device::UstawPlikiUrzadzenia(pliki);
    VorinDeviceType& t = vorin::device::TypUrzadzenia();
    std::snprintf(t.numberText, sizeof t.numberText, "07");
    std::snprintf(t.typeText, sizeof t.typeText, "22");
    std::snprintf(t.modelName, sizeof t.modelName, "Mirto");
    std::snprintf(t.pluText, sizeof t.pluText, "?????");
    std::snprintf(t.generationText, sizeof t.generationText, "I");
    std::snprintf(t.versionText, sizeof t.versionText, "05");
    std::snprintf(t.description, sizeof t.description, "Mirto I gen. ver. 05");
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        std::snprintf(t.identification, sizeof t.identification, "%s%d", prefix.c_str(), i);
        vorin::link::KodWyniku = 0;
        ok = vorin::device::DopisanieOpisuDoPliku();
    }
    if (FILE* done = std::fopen(argv[4], "wb")) {
        std::fputs(ok ? "ok" : "failed", done);
        std::fclose(done);
    }
    return ok ? 0 : 1;
}

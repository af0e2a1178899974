// Second process for the record tests: opens, appends to and reads driver
// files through the same library and writes what happened to a result file.
//
//   driverfiles_helper open   <path> <mode> <exclusive 0|1> <result>
//   driverfiles_helper append <path> <text> <result>
//   driverfiles_helper read   <path> <result>
#include <fstream>
#include <string>

#include "driverfiles/records.h"
#include "vorin/driver.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string cmd = argv[1];
    std::string path = argv[2];
    std::string out;
    auto& st = vorin::driverfiles::TheDriverFileState();
    if (cmd == "open" && argc == 6) {
        st.exclusiveOpen = std::string(argv[4]) == "1";
        int32_t h = -1;
        out = OtwartoPlik(&h, path.c_str(), static_cast<uint8_t>(std::stoi(argv[3]))) ? "1" : "0";
        ZamknieciePliku(&h);
    } else if (cmd == "append" && argc == 5) {
        st.exclusiveOpen = false;
        int32_t h = -1;
        out =
            OtwartoPlik(&h, path.c_str(), 2) && ZapisanoDoPlikuLinieDanych(h, argv[3]) ? "1" : "0";
        ZamknieciePliku(&h);
    } else if (cmd == "read" && argc == 4) {
        st.exclusiveOpen = false;
        int32_t h = -1;
        if (OtwartoPlik(&h, path.c_str(), 0)) {
            char text[256];
            uint8_t formatError = 0;
            while (OdczytanoZPlikuLinieDanych(h, text, &formatError))
                out += std::string(text) + "\n";
            ZamknieciePliku(&h);
        } else {
            out = "<cannot open>";
        }
    } else {
        return 2;
    }
    std::ofstream(argv[argc - 1], std::ios::binary) << out;
    return 0;
}

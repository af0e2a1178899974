// The loader's upload in multiplexer mode 2 over COM <n>, as one program: the
// Windows build runs it under Wine for the end-to-end test
// (tests/mux_upload_e2e_test.cpp, MuxUploadWine), with COM <n> mapped to a
// `vorin-sim --mux` line. Exit status: the link's result code (0: all 144
// blocks accepted), 64 for a bad command line, 74 when the port did not open.
#include <cstdio>
#include <cstdlib>

#include "loader/codepage_image.h"
#include "loader/upload.h"
#include "tests/mux_line.h"

int main(int argc, char** argv) {
    const int port = argc == 2 ? std::atoi(argv[1]) : 0;
    if (port < 1 || port > 255) {
        std::fprintf(stderr, "usage: mux_upload_probe COM-NUMBER\n");
        return 64;
    }
    if (!vorin::e2e::OpenMuxLink(static_cast<uint8_t>(port))) {
        std::fprintf(stderr, "COM%d did not open\n", port);
        return 74;
    }
    const int code = vorin::loader::UploadImage(vorin::kCodePageImage, nullptr);
    vorin::e2e::CloseMuxLink();
    std::printf("result code %d\n", code);
    return code;
}

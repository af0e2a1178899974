// Draws a code page image as a PNG sheet of all its glyphs, so that the image
// can be checked by eye without the loader or a printer.
//
//   codepage-preview IMAGE.bin OUT.png

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "loader/preview.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: codepage-preview IMAGE.bin OUT.png\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "codepage-preview: cannot open " << argv[1] << "\n";
        return 1;
    }
    // Read the whole file (up to a limit) so that a longer file is noticed.
    std::vector<unsigned char> image;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        image.insert(image.end(), buf, buf + in.gcount());
        if (image.size() > (1u << 20)) break;
    }
    if (in.bad()) {
        std::cerr << "codepage-preview: cannot read " << argv[1] << "\n";
        return 1;
    }
    if (image.size() != 36864) {
        std::cerr << "codepage-preview: " << argv[1] << " is "
                  << (image.size() > (1u << 20) ? "over 1 MiB"
                                                : std::to_string(image.size()) + " bytes")
                  << ", a code page image is 36864 bytes\n";
        return 1;
    }
    std::string error;
    if (!vorin::WriteGlyphSheetPng(image.data(), image.size(), argv[2], &error)) {
        std::cerr << "codepage-preview: " << error << "\n";
        return 1;
    }
    return 0;
}

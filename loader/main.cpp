// vorin-codepage: loads code page 437 into a VORIN receipt printer.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "loader/codepage_image.h"
#include "loader/dialogue.h"
#include "loader/options.h"
#include "loader/port_list.h"
#include "loader/preview.h"
#include "platform/console.h"
#include "platform/ports.h"

#ifndef VORIN_VERSION
#define VORIN_VERSION "unknown"
#endif

namespace {

// Reads an image file, which must hold exactly one image.
bool ReadImageFile(const std::string& path, std::vector<unsigned char>* image, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot open the file";
        return false;
    }
    image->assign(vorin::kImageSize + 1, 0);
    in.read(reinterpret_cast<char*>(image->data()), static_cast<std::streamsize>(image->size()));
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    if (in.bad()) {
        *error = path + ": read error";
        return false;
    }
    if (got != vorin::kImageSize) {
        *error = path + ": a code page image is exactly " + std::to_string(vorin::kImageSize) +
                 " bytes; this file has " +
                 (got > vorin::kImageSize ? "more" : std::to_string(got));
        return false;
    }
    image->resize(vorin::kImageSize);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vorin::loader;
    Options options;
    std::string error;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!ParseOptions(args, &options, &error)) {
        std::fprintf(stderr, "vorin-codepage: %s\n(see vorin-codepage --help)\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("vorin-codepage %s\n", VORIN_VERSION);
        return 0;
    }

    if (options.listPorts) {
        std::fputs(FormatPortList(vorin::platform::ListSerialPorts()).c_str(), stdout);
        return 0;
    }

    std::vector<unsigned char> fileImage;
    const unsigned char* image = vorin::kCodePageImage;
    if (!options.imagePath.empty()) {
        if (!ReadImageFile(options.imagePath, &fileImage, &error)) {
            std::fprintf(stderr, "vorin-codepage: %s\n", error.c_str());
            return kExitUsage;
        }
        image = fileImage.data();
    }

    if (!options.previewPath.empty()) {
        if (!vorin::WriteGlyphSheetPng(image, vorin::kImageSize, options.previewPath, &error)) {
            std::fprintf(stderr, "vorin-codepage: %s\n", error.c_str());
            return kExitUsage;
        }
        std::printf("%s\n", options.previewPath.c_str());
        return 0;
    }

    vorin::platform::Console console;
    if (!console.Open(&error)) {
        std::fprintf(stderr, "vorin-codepage: %s\n", error.c_str());
        return kExitUsage;
    }
    DialogueSettings settings;
    settings.image = image;
    settings.port = options.port;
    settings.waitForKey = options.waitForKey;
    const int status = RunDialogue(console, settings);
    console.Close();
    return status;
}

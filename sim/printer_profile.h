// What a printer model answers: read from a small text file given to
// `vorin-sim --printer PROFILE` (the format is in sim/README.md), with the
// article table it names. Portable C++, no I/O beyond reading the files.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace vorin::sim {

// One article as the printer stores it. Field names are the simulator's own;
// the bytes go out as they are, so a table can hold values a host must refuse.
struct Article {
    std::string name;        // up to 20 characters (19 in the full record)
    uint8_t group = 1;       // full record byte 20; short record: high nibble of byte 26, minus 1
    uint8_t department = 1;  // byte 21
    uint8_t unit = 0;        // byte 22
    uint8_t tax = 1;         // byte 23
    uint8_t flag = 0;        // byte 24
    uint64_t code = 0;       // bytes 25-30 (short record: 21-26, 44 bits)
    uint32_t price = 0;      // bytes 31-34 (short record: 27-30)
    uint8_t locked = 0;      // byte 35
};

struct DisplayLine {
    uint8_t form = 0;  // 0: 40 characters, 1: 20 characters, others are sent as they are
    std::string text;
};

struct PrinterProfile {
    std::string number = "01";  // the two characters answered to 0xC0
    uint8_t type = 22;
    uint8_t version = 1;
    uint8_t variant = 0;                   // a letter, 0 for none
    bool oldTypeQuery = false;             // answers 0xFE with NAK, knows 0xFF and 0x5B
    std::string identification;            // the bytes answered to 0x71
    uint32_t pluCount = 0;                 // 0..65535: 0xE6 accepts 1..pluCount, 0x91 reports it
    std::map<uint32_t, Article> articles;  // by the number the host sends
    uint8_t status9B = 0x01;               // bit 0 set: ready
    uint8_t status94 = 0;
    uint8_t status95 = 0;
    uint8_t status96 = 0x40;  // bit 6 set: ready
    std::array<uint8_t, 2> status66{0, 0};
    std::map<uint8_t, DisplayLine> display;  // by line number
};

// Extended types: 100 and above, except 111 and 112.
bool IsExtendedType(uint8_t type);
// How many identification characters this printer sends: 12 for types 100
// to 102 with version 1 variant A, else 11.
size_t IdentificationLength(const PrinterProfile& profile);

// Reads a profile; false with a message naming file and line.
bool LoadProfile(const std::string& path, PrinterProfile& profile, std::string& error);
// Reads an article table into profile.articles.
bool LoadArticles(const std::string& path, PrinterProfile& profile, std::string& error);

}  // namespace vorin::sim

// The printer's byte values and the command bytes whose answers follow rules
// of their own. The frame exchange steers by them, and the multiplexer frame
// tells the multiplexer about the same commands, so both read them from here.
#pragma once

#include <cstdint>

namespace vorin::link {

inline constexpr uint8_t kEsc = 0x1B;             // first byte of every new request
inline constexpr uint8_t kAck = 0x06;             // command accepted
inline constexpr uint8_t kNak = 0x15;             // command refused
inline constexpr uint8_t kKoniecRekordow = 0xFF;  // ends a record list early

// Acknowledgement bytes that prefix mode 0 maps to codes of their own.
inline constexpr uint8_t kPotwierdzenie01 = 0x01;
inline constexpr uint8_t kPotwierdzenie65 = 0x65;
inline constexpr uint8_t kPotwierdzenieC8 = 0xC8;

// The multiplexer mode that carries every request in a frame.
inline constexpr uint8_t kTrybRamekMux = 2;

// The device description: its status byte is a tag that says which
// description follows and how long it is.
inline constexpr uint8_t kRozkazOpisu = 0xE5;
// Descriptions after tag 0xFA are shorter on these device types.
inline constexpr uint8_t kTypKrotkiegoOpisu1 = 0x18;
inline constexpr uint8_t kTypKrotkiegoOpisu2 = 0x1B;
// Its status byte goes to the answer tag too.
inline constexpr uint8_t kRozkazZnacznika9A = 0x9A;
inline constexpr uint8_t kRozkazZnacznikaFC = 0xFC;
// Answers ACK where others answer status 0.
inline constexpr uint8_t kRozkazStatusuACK = 0xA0;

// Printer status that carries two more bytes on a direct line.
inline constexpr uint8_t kStatusZDwomaBajtami = 122;

// Commands whose acknowledgement is taken as it comes.
inline constexpr bool PotwierdzenieNieSprawdzane(uint8_t rozkaz) {
    switch (rozkaz) {
    case 0x90:
    case 0x94:
    case 0x95:
    case 0x96:
    case 0x9B:
    case 0x9D:
    case 0x9F: return true;
    default: return false;
    }
}

// Commands whose status byte is data, not a verdict.
inline constexpr bool StatusNieSprawdzany(uint8_t rozkaz) {
    switch (rozkaz) {
    case 0x11:
    case 0x31:
    case 0x72:
    case 0xF9: return true;
    default: return false;
    }
}

// Commands whose status byte goes to the answer tag.
inline constexpr bool StatusJestZnacznikiem(uint8_t rozkaz) {
    return rozkaz == kRozkazOpisu || rozkaz == kRozkazZnacznika9A || rozkaz == kRozkazZnacznikaFC;
}

// Every command whose status byte is not the plain 0-or-error verdict: the
// multiplexer must forward such a status as it comes.
inline constexpr bool StatusSzczegolny(uint8_t rozkaz) {
    return StatusNieSprawdzany(rozkaz) || StatusJestZnacznikiem(rozkaz) ||
           rozkaz == kRozkazStatusuACK;
}

}  // namespace vorin::link

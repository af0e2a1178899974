// A port table (link/port_ops.h) for a line that a test or a model plays: every
// open, setting and modem-line call succeeds and does nothing, the byte calls
// move nothing, carrier detect is on and pauses are not slept through. A test
// copies it and sets the entries its line answers (WriteByte, ReadByte, ...).
// Header only: the fuzz targets and the device model line use it too.
#pragma once

#include <cstdint>

#include "link/port_ops.h"

namespace vorin::test {

inline link::OperacjePortu IdlePortTable() {
    return {
        [](uint8_t) -> uint8_t { return 1; },                                // SerialPortPresent
        [](uint8_t, uint32_t, uint16_t, uint16_t) -> int32_t { return 0; },  // InitializePort
        []() -> int32_t { return 0; },                                       // UnInitializePort
        [](uint8_t) {},                                                      // UstawCTS
        [](uint8_t) -> uint8_t { return 1; },                                // ChangeParity
        [](uint16_t) -> uint8_t { return 1; },                               // ChangeSpeed
        [](uint8_t) -> uint8_t { return 1; },                                // UstawKanal
        []() -> int32_t { return 1; },                                       // SetDTRLine
        []() -> int32_t { return 1; },                                       // ClearDTRLine
        []() -> int32_t { return 1; },                                       // SetRTSLine
        []() -> int32_t { return 1; },                                       // ClearRTSLine
        [](uint8_t) -> int32_t { return 1; },                                // WriteByte
        [](uint8_t* b) -> int32_t {
            *b = 0;
            return 0;
        },                                 // ReadByte
        []() -> int32_t { return 0; },     // ClearPort
        []() -> uint8_t { return 0x80; },  // ModemStatus
        [](uint16_t) {},                   // Opoznienie
    };
}

}  // namespace vorin::test

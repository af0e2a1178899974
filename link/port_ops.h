// The printer link's way to the serial port.
//
// The link never calls the port library directly: every port call goes
// through one table of operations. The default table calls the flat functions
// of vorinserial (include/vorin/serial.h); a test installs a scripted printer
// in its place, and the multiplexer transport reaches the wire through the same
// single-byte operations as a direct connection.
//
// Each entry has the signature and the meaning of the flat function of the same
// name, so the table reads like serial.h. `Opoznienie` is in the table too: the
// line check and the channel switch pause between line changes, and a scripted
// peer records those pauses instead of sleeping through them.
#pragma once

#include <cstdint>

namespace vorin::link {

struct OperacjePortu {
    uint8_t (*SerialPortPresent)(uint8_t port);
    int32_t (*InitializePort)(uint8_t port, uint32_t speed, uint16_t writeTimeout,
                              uint16_t readTimeout);
    int32_t (*UnInitializePort)();
    void (*UstawCTS)(uint8_t on);
    uint8_t (*ChangeParity)(uint8_t parity);
    uint8_t (*ChangeSpeed)(uint16_t speed);
    uint8_t (*UstawKanal)(uint8_t channel);
    int32_t (*SetDTRLine)();
    int32_t (*ClearDTRLine)();
    int32_t (*SetRTSLine)();
    int32_t (*ClearRTSLine)();
    int32_t (*WriteByte)(uint8_t b);
    int32_t (*ReadByte)(uint8_t* b);
    int32_t (*ClearPort)();
    uint8_t (*ModemStatus)();
    void (*Opoznienie)(uint16_t milliseconds);
};

// The table that calls vorinserial.
const OperacjePortu& DomyslneOperacjePortu();

// The table in use. Starts as the default table.
const OperacjePortu& BiezaceOperacjePortu();

// Installs `ops` as the table in use (copied; every entry must be set).
// Meant for start-up and tests, never while an exchange runs.
void UstawOperacjePortu(const OperacjePortu& ops);

// Puts the default table back.
void PrzywrocOperacjePortu();

}  // namespace vorin::link

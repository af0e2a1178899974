// The link set up as a driver configured for multiplexer mode 2 sets it (port
// at 19200 without parity on channel 2, the printer at 38400 on channel 1 in
// the frames), on COM `port` (mapped to the simulator's line by the caller:
// VORIN_COM<n> natively, Wine's port registry under Wine).
//
// A pseudo-terminal has no modem lines, and the frames go out only while
// carrier detect is on: the port table is the real library's except that
// ModemStatus reports carrier detect. Everything else is the real serial
// library on the real line.
#pragma once

#include <cstdint>

namespace vorin::e2e {

// Sets the link up and opens COM `port`; false when it did not open.
bool OpenMuxLink(uint8_t port);
// Closes the port and puts the link's defaults and port table back.
void CloseMuxLink();

}  // namespace vorin::e2e

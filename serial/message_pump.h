// The message-pump thread (TWatekObslugiKomunikatow): while a byte transfer
// waits it reports 'A' to the supervising server every millisecond, and it
// answers the server's one-letter commands ('a', 'b', 'e', 'r', 's'; 's'
// suspends it until 'r'). It needs no open port.
//
// The channel's message number and driver id live in the driver library,
// which passes them down here (vorin_serial_set_channel) whenever they
// change; a host of the serial library alone sets them itself.
#pragma once

#include <cstdint>

namespace vorin::serial {

// Starts the thread unless it runs already.
void OtwarcieWatku();

// Ends the thread, also a suspended one, and waits for it (bounded by one
// pass of its loop, which never blocks on a device).
void ZamkniecieWatku();

// The channel the thread uses: message number (0 = off) and driver id (0 =
// this process's id).
void UstawKanalWatku(uint32_t numer, uint32_t idSterownika);

// Passes made by the run loop since the thread started (for tests and
// benchmarks: proves the loop runs or sleeps).
uint64_t PrzebiegiWatku();

}  // namespace vorin::serial

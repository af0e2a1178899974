// The command-line options of vorin-sim's multiplexer (--mux and the --mux-*
// faults), kept apart from the printer's options.
#pragma once

#include <functional>
#include <string>

#include "sim/mux.h"

namespace vorin::sim {

struct MuxOptions {
    bool on = false;
    MuxFaults faults;
    std::string code = "00000000";
    std::string identification = "VORIN-MUX-01";
};

// Their part of --help.
extern const char kMuxUsage[];

// Takes `option` when it is one of the multiplexer's; `value` fetches its
// argument. Returns false for any other option; *error is set for a bad value.
bool ParseMuxOption(const std::string& option, const std::function<std::string()>& value,
                    MuxOptions& options, std::string* error);

// Checks the options together; false with *error.
bool CheckMuxOptions(const MuxOptions& options, std::string* error);

}  // namespace vorin::sim

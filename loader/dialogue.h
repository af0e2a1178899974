// The operator dialogue of the code page loader: banner, port prompt, port
// open, upload with a percentage rewritten in place, report, closing key wait.
#pragma once

#include "platform/console.h"

namespace vorin::loader {

struct DialogueSettings {
    const unsigned char* image = nullptr;  // 36,864 bytes
    int port = 0;                          // 1 to 255: no prompt; 0: ask
    bool waitForKey = true;
};

// Runs the whole dialogue on an open console. Returns the exit status: 0 on
// success or when the operator typed port 0, the link's result code when the
// upload failed, or one of the kExit... values of options.h.
int RunDialogue(vorin::platform::Console& console, const DialogueSettings& settings);

}  // namespace vorin::loader

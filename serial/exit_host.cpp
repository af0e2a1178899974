// A driver library as a host writes one: it opens the port through the
// serial library and closes it in its own teardown (a static destructor,
// which on Windows runs inside the DLL's DLL_PROCESS_DETACH, under the loader
// lock). Loaded by vorin-serial-exit-child to show that such a teardown ends,
// both when the host library is unloaded and when the process exits with it
// loaded.
#include <vorin/serial.h>

#include <cstdint>

namespace {

struct ClosesAtTeardown {
    bool open = false;
    ~ClosesAtTeardown() {
        if (open) UnInitializePort();
    }
};

ClosesAtTeardown gPort;

}  // namespace

extern "C" int32_t vorin_exit_host_open(uint8_t port) {
    const int32_t opened = InitializePort(port, 38400, 3, 3);
    gPort.open = opened == 0;
    if (!gPort.open) return opened;
    return WriteByte(0x55) == 1 ? 0 : -1;
}

// A host that ends with its port still open, for the tests that watch how a
// process ends (tests/loader_e2e_test.cpp): it must end at once and with no
// fault, however the host lets go of the library. The library is loaded at
// run time, as a host in another language does, so that unloading it really
// unloads it.
//
//   vorin-serial-exit-child open <port>         open, send a byte, return from main
//   vorin-serial-exit-child failed-open <port>  an open that fails after the device
//                                               opened (a speed the line refuses)
//   vorin-serial-exit-child unload <port>       open, unload the library, return
//   vorin-serial-exit-child pump-unload <port>  start the message-pump thread, unload
//                                               the library while it runs, return
//   vorin-serial-exit-child host-unload <port>  a host library (exit_host.cpp) opens
//                                               the port; unload the host, return
//   vorin-serial-exit-child host-exit <port>    the same, return with the host loaded
// Exit status 0 when the steps before the end went as planned, else 1.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/dynlib.h"

namespace platform = vorin::platform;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MODE <port>\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const auto port = static_cast<uint8_t>(std::atoi(argv[2]));

    std::string error;
    if (mode == "host-unload" || mode == "host-exit") {
        const std::string host =
            platform::ProgramDirectory() + platform::DynlibFileName("vorin-serial-exit-host");
        void* library = platform::DynlibOpen(host.c_str(), &error);
        if (library == nullptr) {
            std::fprintf(stderr, "%s: %s\n", host.c_str(), error.c_str());
            return 1;
        }
        using Open = int32_t (*)(uint8_t);
        auto open = reinterpret_cast<Open>(platform::DynlibSymbol(library, "vorin_exit_host_open"));
        if (open == nullptr || open(port) != 0) return 1;
        if (mode == "host-unload") platform::DynlibClose(library);
        return 0;  // the host closes the port in its teardown
    }
    const std::string path = platform::ProgramDirectory() + platform::DynlibFileName("vorinserial");
    void* library = platform::DynlibOpen(path.c_str(), &error);
    if (library == nullptr) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    using Init = int32_t (*)(uint8_t, uint32_t, uint16_t, uint16_t);
    using Write = int32_t (*)(uint8_t);
    auto init = reinterpret_cast<Init>(platform::DynlibSymbol(library, "InitializePort"));
    auto write = reinterpret_cast<Write>(platform::DynlibSymbol(library, "WriteByte"));
    if (init == nullptr || write == nullptr) return 1;

    if (mode == "pump-unload") {
        using Start = void (*)();
        auto start = reinterpret_cast<Start>(platform::DynlibSymbol(library, "OpenThread"));
        if (start == nullptr) return 1;
        start();
        platform::DynlibClose(library);
        // A thread of the library left running would now run unmapped code.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return 0;
    }
    if (mode == "failed-open") {
        // A line that takes any speed (some do) makes this an ordinary open:
        // the end must be as clean either way.
        std::printf("open %s\n", init(port, 12345, 3, 3) != 0 ? "failed" : "succeeded");
        return 0;
    }
    const int32_t opened = init(port, 38400, 3, 3);
    if (opened != 0 || write(0x55) != 1) {
        std::fprintf(stderr, "InitializePort: %d\n", static_cast<int>(opened));
        return 1;
    }
    if (mode == "unload") platform::DynlibClose(library);
    return 0;  // with the port open
}

// COM ports on the network against the same over a pseudo-terminal, on one
// machine: the whole code page upload to vorin-sim (unpaced: what the line's
// round trips cost) directly on its pty, through ser2net's RFC 2217 accepter
// and through its plain TCP one; and one WriteByte on each, the far end
// drained. The ratio network/pty is what a device server adds at best (on
// loopback; a real network adds its own round-trip time per answered byte).
//
//   build/native/bin/network_bench   (run from build/native/bin; needs ser2net)
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <vorin/serial.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "link/link.h"
#include "loader/codepage_image.h"
#include "loader/upload.h"
#include "platform/test_line.h"
#include "tests/support/processes.h"
#include "tests/support/ser2net.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace vorin;

constexpr int kComPort = 9;
enum Way { kPty, kRfc2217, kTcp };
const char* const kWayNames[] = {"pty", "rfc2217", "tcp"};

// Maps COM `port` to `line` directly or through a ser2net started in `server`.
bool MapPort(int port, const std::string& line, Way way, test::Ser2net& server,
             const std::string& dir) {
    std::string target = line;
    if (way != kPty) {
        if (!server.Start(dir, line, way == kRfc2217)) return false;
        target = server.Url();
    }
    setenv(("VORIN_COM" + std::to_string(port)).c_str(), target.c_str(), 1);
    return true;
}

void BM_Upload(benchmark::State& state) {
    const Way way = static_cast<Way>(state.range(0));
    state.SetLabel(kWayNames[way]);
    if (way != kPty && !test::Ser2net::Installed()) return state.SkipWithError("no ser2net");
    const std::string sim = (std::filesystem::current_path() / "vorin-sim").string();
    test::TempDir dir;
    double seconds = 0;
    int uploads = 0;
    for (auto _ : state) {
        state.PauseTiming();
        test::Simulator printer;
        test::Ser2net server;
        std::string error;
        if (!printer.Start(sim, {"--quiet"}, dir.Path() + "/sim.log", &error))
            return state.SkipWithError(error.c_str());
        if (!MapPort(kComPort, printer.Line(), way, server, dir.Path()))
            return state.SkipWithError("ser2net did not start");
        link::UstawieniaDomyslneLacza();
        link::NumerPortu = kComPort;
        link::Predkosc = 38400;
        link::OtwarciePortu();
        if (!link::PortOtwarty) return state.SkipWithError("the port did not open");
        state.ResumeTiming();
        const double start = test::Now();
        const uint8_t code = loader::UploadImage(kCodePageImage, nullptr);
        seconds += test::Now() - start;
        ++uploads;
        state.PauseTiming();
        link::ZamknieciePortu();
        printer.Stop();
        state.ResumeTiming();
        if (code != 0)
            return state.SkipWithError(("upload failed with code " + std::to_string(code)).c_str());
    }
    state.counters["seconds"] = uploads ? seconds / uploads : 0;
}

void BM_WriteByte(benchmark::State& state) {
    const Way way = static_cast<Way>(state.range(0));
    state.SetLabel(kWayNames[way]);
    if (way != kPty && !test::Ser2net::Installed()) return state.SkipWithError("no ser2net");
    std::string why;
    auto line = platform::TestLine::Create(why);
    if (!line) return state.SkipWithError(why.c_str());
    const std::string path = std::getenv(("VORIN_COM" + std::to_string(line->Port())).c_str());
    test::TempDir dir;
    test::Ser2net server;
    if (!MapPort(kComPort, path, way, server, dir.Path()))
        return state.SkipWithError("ser2net did not start");
    if (InitializePort(kComPort, 38400, 3, 3) != 0)
        return state.SkipWithError("InitializePort failed");
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        while (!stop.load()) line->Receive(4096, 20);
    });
    for (auto _ : state)
        if (WriteByte(0x55) != 1) state.SkipWithError("WriteByte failed");
    UnInitializePort();
    stop.store(true);
    drain.join();
}

BENCHMARK(BM_Upload)
    ->DenseRange(kPty, kTcp)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_WriteByte)->DenseRange(kPty, kTcp)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

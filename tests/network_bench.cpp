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

// One upload to a fresh simulator reached `way`; its seconds, or -1 with `error`.
double UploadOnce(Way way, const std::string& dir, std::string* error) {
    const std::string sim = (std::filesystem::current_path() / "vorin-sim").string();
    test::Simulator printer;
    test::Ser2net server;
    if (!printer.Start(sim, {"--quiet"}, dir + "/sim.log", error)) return -1;
    if (!MapPort(kComPort, printer.Line(), way, server, dir)) {
        *error = "ser2net did not start";
        return -1;
    }
    link::UstawieniaDomyslneLacza();
    link::NumerPortu = kComPort;
    link::Predkosc = 38400;
    link::OtwarciePortu();
    if (!link::PortOtwarty) {
        *error = "the port did not open";
        return -1;
    }
    const double start = test::Now();
    const uint8_t code = loader::UploadImage(kCodePageImage, nullptr);
    const double seconds = test::Now() - start;
    link::ZamknieciePortu();
    printer.Stop();
    if (code != 0) {
        *error = "upload failed with code " + std::to_string(code);
        return -1;
    }
    return seconds;
}

// Each iteration uploads over all three ways in turn, so that the ratios
// compare runs made under the same load of a shared machine.
void BM_Upload(benchmark::State& state) {
    if (!test::Ser2net::Installed()) return state.SkipWithError("no ser2net");
    test::TempDir dir;
    double seconds[3] = {0, 0, 0};
    int rounds = 0;
    for (auto _ : state) {
        for (Way way : {kPty, kRfc2217, kTcp}) {
            std::string error;
            const double s = UploadOnce(way, dir.Path(), &error);
            if (s < 0) return state.SkipWithError(error.c_str());
            seconds[way] += s;
        }
        ++rounds;
    }
    for (Way way : {kPty, kRfc2217, kTcp})
        state.counters[std::string(kWayNames[way]) + "_s"] = seconds[way] / rounds;
    state.counters["rfc2217_ratio"] = seconds[kRfc2217] / seconds[kPty];
    state.counters["tcp_ratio"] = seconds[kTcp] / seconds[kPty];
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

BENCHMARK(BM_Upload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_WriteByte)->DenseRange(kPty, kTcp)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

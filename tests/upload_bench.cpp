// The whole code page upload over a pseudo-terminal to vorin-sim: unpaced
// (what the serial library and the link cost by themselves), and with the
// simulator pacing the line at 38400 baud, reported as a ratio to the time the
// wire itself needs: 144 blocks x 265 bytes x 11 bits / 38400 baud = 10.93 s.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/link.h"
#include "loader/codepage_image.h"
#include "loader/upload.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace vorin;

constexpr double kWireSeconds = 144.0 * 265.0 * 11.0 / 38400.0;
constexpr int kComPort = 9;

void RunUpload(benchmark::State& state, const std::vector<std::string>& simArgs) {
    const std::string sim = (std::filesystem::current_path() / "vorin-sim").string();
    test::TempDir dir;
    double seconds = 0;
    int uploads = 0;
    for (auto _ : state) {
        state.PauseTiming();
        test::Simulator printer;
        std::string error;
        std::vector<std::string> args{"--quiet"};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        if (!printer.Start(sim, args, dir.Path() + "/sim.log", &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        setenv(("VORIN_COM" + std::to_string(kComPort)).c_str(), printer.Line().c_str(), 1);
        link::UstawieniaDomyslneLacza();
        link::NumerPortu = kComPort;
        link::Predkosc = 38400;
        link::OtwarciePortu();
        if (!link::PortOtwarty) {
            state.SkipWithError("the port did not open");
            return;
        }
        state.ResumeTiming();
        const double start = test::Now();
        const uint8_t code = loader::UploadImage(kCodePageImage, nullptr);
        seconds += test::Now() - start;
        ++uploads;
        state.PauseTiming();
        link::ZamknieciePortu();
        printer.Stop();
        state.ResumeTiming();
        if (code != 0) {
            state.SkipWithError(("upload failed with code " + std::to_string(code)).c_str());
            return;
        }
    }
    const double mean = uploads ? seconds / uploads : 0;
    state.counters["seconds"] = mean;
    state.counters["wire_ratio"] = mean / kWireSeconds;
    state.counters["bytes_per_s"] = mean > 0 ? 144.0 * 265.0 / mean : 0;
}

void BM_UploadUnpaced(benchmark::State& state) { RunUpload(state, {}); }
void BM_UploadPaced38400(benchmark::State& state) { RunUpload(state, {"--pace", "38400"}); }

BENCHMARK(BM_UploadUnpaced)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_UploadPaced38400)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();

// The whole code page upload through the multiplexer: the link in mode 2
// against `vorin-sim --mux --pace 19200` (10 bits a byte, 8N1, both
// directions), as a ratio to the time the framed traffic needs on the wire.
// Per block, from the frame sizes ("BRAXO" + length code's count):
//   first half  request 5 + enc(5 + 2 + 130 + 2 = 139) = 5 + 159 = 164
//               answer  5 + enc(2 + 2 [ACK, status] + 2) = 5 + 7  = 12
//   second half request 5 + enc(5 + 130 + 2 = 137)     = 5 + 157 = 162
//               answer  5 + enc(2 + 1 + 2) = 5 + 6              = 11
//   349 bytes; 144 blocks = 50,256 bytes x 10 bits / 19200 = 26.18 s.
//
//   build/native/bin/mux_upload_bench   (run from build/native/bin)
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/mux_frame.h"
#include "loader/codepage_image.h"
#include "loader/upload.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"
#include "tests/mux_line.h"

namespace {

using namespace vorin;
using link::mux::EncodedSize;

constexpr std::size_t kId = link::mux::kIdLength;
constexpr std::size_t kBlockWireBytes =
    (kId + EncodedSize(5 + 2 + 130 + 2)) + (kId + EncodedSize(2 + 2 + 2)) +
    (kId + EncodedSize(5 + 130 + 2)) + (kId + EncodedSize(2 + 1 + 2));
static_assert(kBlockWireBytes == 349);
constexpr double kWireSeconds = 144.0 * kBlockWireBytes * 10.0 / 19200.0;
constexpr uint8_t kComPort = 15;

void RunUpload(benchmark::State& state, const std::vector<std::string>& simArgs) {
    const std::string sim = (std::filesystem::current_path() / "vorin-sim").string();
    test::TempDir dir;
    double seconds = 0;
    int uploads = 0;
    for (auto _ : state) {
        state.PauseTiming();
        test::Simulator mux;
        std::string error;
        std::vector<std::string> args{"--quiet", "--mux"};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        if (!mux.Start(sim, args, dir.Path() + "/sim.log", &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        setenv(("VORIN_COM" + std::to_string(kComPort)).c_str(), mux.Line().c_str(), 1);
        if (!e2e::OpenMuxLink(kComPort)) {
            state.SkipWithError("the port did not open");
            return;
        }
        state.ResumeTiming();
        const double start = test::Now();
        const uint8_t code = loader::UploadImage(kCodePageImage, nullptr);
        seconds += test::Now() - start;
        ++uploads;
        state.PauseTiming();
        e2e::CloseMuxLink();
        mux.Stop();
        state.ResumeTiming();
        if (code != 0) {
            state.SkipWithError(("upload failed with code " + std::to_string(code)).c_str());
            return;
        }
    }
    const double mean = uploads ? seconds / uploads : 0;
    state.counters["seconds"] = mean;
    state.counters["wire_seconds"] = kWireSeconds;
    state.counters["wire_ratio"] = mean / kWireSeconds;
}

void BM_MuxUploadUnpaced(benchmark::State& state) { RunUpload(state, {}); }
void BM_MuxUploadPaced19200(benchmark::State& state) { RunUpload(state, {"--pace", "19200"}); }

BENCHMARK(BM_MuxUploadUnpaced)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MuxUploadPaced19200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

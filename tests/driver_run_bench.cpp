// A whole driver run through the sample host vorin-driver (a real process):
// start (configuration, files, device entry, port, the printer's type and
// number), 1,000 input records of the cheap command DEVNUMBER (one short
// exchange and one result record each), finish (report, exchange copies),
// against vorin-sim unpaced on a pseudo-terminal. With the rewrite switch off
// every output line is committed to disk; with it on, none is.
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e_process.h"

namespace {

namespace fs = std::filesystem;
using namespace vorin;

constexpr int kRecords = 1000;

void WriteFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void RunDriver(benchmark::State& state, bool rewrite) {
    const fs::path bin = fs::current_path();
    e2e::TempDir dir;
    const std::string folder = dir.path() + "/driver";
    fs::copy(fs::path(VORIN_SOURCE_DIR) / "examples" / "driver", folder,
             fs::copy_options::recursive);
    std::string input = "#1\r\n#\r\n#\r\n";
    for (int i = 0; i < kRecords; ++i) input += "$DEVNUMBER\r\n";
    WriteFile(folder + "/zadanie.txt", input);

    e2e::Simulator printer;
    std::string error;
    if (!printer.Start((bin / "vorin-sim").string(),
                       {"--quiet", "--printer", folder + "/printer.profile"},
                       dir.path() + "/sim.log", &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<std::string> argv = {"/bin/sh",
                                     "-c",
                                     "cd \"$0\" && exec \"$@\"",
                                     folder,
                                     (bin / "vorin-driver").string(),
                                     "--read-type",
                                     "--read-number"};
    if (rewrite) argv.push_back("--rewrite");
    argv.insert(argv.end(), {"BENCH", "zadanie.txt;wynik.txt;vorin.cfg"});
    for (auto _ : state) {
        std::string out, err;
        int status = e2e::RunPiped(argv, {{"VORIN_COM7", printer.line()}}, "", 120, &out, &err);
        if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError(("run failed: " + out + err).c_str());
            return;
        }
    }
    state.counters["records_per_s"] =
        benchmark::Counter(kRecords, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DriverRunCommitPerLine(benchmark::State& state) { RunDriver(state, false); }
void BM_DriverRunRewrite(benchmark::State& state) { RunDriver(state, true); }

BENCHMARK(BM_DriverRunCommitPerLine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_DriverRunRewrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();

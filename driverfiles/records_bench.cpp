// How fast the record layer reads and writes, and what the per-line commit
// costs. Run: build/<preset>/bin/driverfiles_bench
#include <benchmark/benchmark.h>

#include <string>

#include "driverfiles/records.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "vorin/driver.h"

namespace df = vorin::driverfiles;

namespace {

void ReadDataLines(benchmark::State& state) {
    vorin::test::TempDir dir;
    std::string path = dir.File("in.txt");
    std::string content;
    for (int i = 0; i < 10000; ++i) content += "$" + std::to_string(i) + "\tPLU\t12,50\t1\r\n";
    vorin::test::WriteWholeFile(path, content);
    char text[256];
    uint8_t fe = 0;
    for (auto _ : state) {
        int32_t h = -1;
        OtwartoPlik(&h, path.c_str(), 0);
        int n = 0;
        while (OdczytanoZPlikuLinieDanych(h, text, &fe)) ++n;
        ZamknieciePliku(&h);
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations() * 10000);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(content.size()));
}
BENCHMARK(ReadDataLines)->Unit(benchmark::kMillisecond);

void WriteDataLines(benchmark::State& state) {
    vorin::test::TempDir dir;
    std::string path = dir.File("out.txt");
    df::TheDriverFileState().rewrite = state.range(0) == 0;  // 1 = commit every line
    const int lines = state.range(0) != 0 ? 100 : 10000;
    for (auto _ : state) {
        int32_t h = -1;
        OtwartoPlik(&h, path.c_str(), 1);
        for (int i = 0; i < lines; ++i) ZapisanoDoPlikuLinieDanych(h, "12345\tPLU\t12,50\t1");
        ZamknieciePliku(&h);
    }
    df::TheDriverFileState().rewrite = false;
    state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(WriteDataLines)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void ParseSixByte(benchmark::State& state) {
    const char* texts[] = {"281474976710655", "0xFFFF", "'AB'", "  12  ", "bad"};
    uint8_t v[6];
    for (auto _ : state) {
        for (const char* t : texts) benchmark::DoNotOptimize(PoprawnaLiczbaSzesciobajtowa(t, v));
    }
    state.SetItemsProcessed(state.iterations() * 5);
}
BENCHMARK(ParseSixByte);

}  // namespace

BENCHMARK_MAIN();

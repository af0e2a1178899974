// WriteByte where the adapter's driver overstates its output queue, a byte
// that CTS holds until the write timeout, and what the byte calls' lock
// costs. Linux only: a pseudo-terminal with the ioctl shim
// (platform/shim/ioctl_shim.cpp) answering TIOCOUTQ and the modem lines as
// the adapters would; the pty itself neither paces nor holds bytes.
//
//   build/native/bin/serial_queue_bench
#include <vorin/serial.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "platform/test_line.h"

extern "C" {
void vorin_ioctl_shim_set(const char* settings);
long vorin_ioctl_shim_outq_questions(void);
long vorin_ioctl_shim_line_questions(void);
}

namespace {

// Takes what the host writes, until stopped.
class Drain {
public:
    explicit Drain(vorin::platform::TestLine& line) : line_(line) {
        thread_ = std::thread([this] {
            while (!stop_.load()) line_.Receive(4096, 20);
        });
    }
    ~Drain() {
        stop_ = true;
        thread_.join();
    }

private:
    vorin::platform::TestLine& line_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One WriteByte at the speed given, on an adapter whose TIOCOUTQ reports
// 1280 bytes for 1 ms after each write (cdc-acm with one URB out).
void BM_WriteByteOverstatedQueue(benchmark::State& state) {
    std::string why;
    auto line = vorin::platform::TestLine::Create(why);
    if (!line) return state.SkipWithError(why.c_str());
    UstawCTS(0);
    if (InitializePort(line->Port(), static_cast<uint32_t>(state.range(0)), 3, 3) != 0)
        return state.SkipWithError("InitializePort failed");
    vorin_ioctl_shim_set("outq=1280,hold_us=1000");
    {
        Drain drain(*line);
        for (auto _ : state)
            if (WriteByte(0x55) != 1) state.SkipWithError("WriteByte failed");
    }
    vorin_ioctl_shim_set(nullptr);
    UnInitializePort();
}

// One byte held until the write timeout (1 s): by CTS with the library's
// CTS flow control (range 1), or in the output queue (range 0: CTS flow done
// by the kernel or the adapter). The process's CPU time is what counts.
void BM_HeldWriteUntilTimeout(benchmark::State& state) {
    std::string why;
    auto line = vorin::platform::TestLine::Create(why);
    if (!line) return state.SkipWithError(why.c_str());
    const bool byCts = state.range(0) != 0;
    UstawCTS(byCts ? 1 : 0);
    if (InitializePort(line->Port(), 115200, 1, 1) != 0)
        return state.SkipWithError("InitializePort failed");
    vorin_ioctl_shim_set(byCts ? "cts=0" : "outq=1,hold_us=-1");
    for (auto _ : state)
        if (WriteByte(0x55) != 0) state.SkipWithError("the byte was not held");
    state.counters["looks"] = benchmark::Counter(
        static_cast<double>(vorin_ioctl_shim_outq_questions() + vorin_ioctl_shim_line_questions()),
        benchmark::Counter::kAvgIterations);
    vorin_ioctl_shim_set(nullptr);
    UnInitializePort();
    UstawCTS(1);
}

// What the byte calls' lock adds to each call: one uncontended lock and
// unlock (compare with BM_WriteByte of serial_byte_bench).
void BM_ByteCallLock(benchmark::State& state) {
    std::mutex m;
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(m);
        benchmark::DoNotOptimize(&m);
    }
}

BENCHMARK(BM_WriteByteOverstatedQueue)->Arg(38400)->UseRealTime();
BENCHMARK(BM_WriteByteOverstatedQueue)->Arg(300)->Iterations(30)->UseRealTime();
BENCHMARK(BM_HeldWriteUntilTimeout)
    ->Arg(1)
    ->Arg(0)
    ->Iterations(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ByteCallLock);

}  // namespace

BENCHMARK_MAIN();

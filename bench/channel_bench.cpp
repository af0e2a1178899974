// The server channel's costs on the POSIX bus:
//  - the round trip of one command: the server posts 'a', a driver thread
//    serves it inside a request exchange (no port: the frame fails at once)
//    and the answer 'A' comes back;
//  - what the channel adds to one request exchange when it is on and no
//    command waits (against the 286 us one byte takes at 38400 baud);
//  - the CPU a suspended driver and an idle message-pump thread use.
// The Windows figures come from channel_roundtrip under Wine.
//
//   build/native/bin/channel_bench
#include <sys/resource.h>
#include <vorin/serial.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/link.h"
#include "link/server_channel.h"
#include "platform/message_bus.h"

namespace lk = vorin::link;
namespace pf = vorin::platform;

namespace {

constexpr uint32_t kNumber = 0xC3A0;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A driver that makes a request exchange whenever a message arrives.
class Driver {
public:
    Driver() {
        thread_ = std::thread([this] {
            lk::RozkazSerwera(nullptr);  // opens this thread's queue
            ready_ = true;
            while (!stop_.load()) {
                lk::CzekanieNaKomunikat();
                lk::KodWyniku = 0;
                lk::WykonanieRozkazu(1, 1, 130, 1);
            }
        });
        while (!ready_.load()) std::this_thread::yield();
    }
    ~Driver() {
        stop_ = true;
        lk::KomunikatSerwera(pf::CurrentProcessId(), 'a', 0);  // wakes it
        thread_.join();
    }

private:
    std::atomic<bool> ready_{false}, stop_{false};
    std::thread thread_;
};

void BM_CommandRoundTrip(benchmark::State& state) {
    lk::UstawNumerKomunikatu(kNumber);
    {
        Driver driver;
        const uint32_t id = pf::CurrentProcessId();
        for (auto _ : state) {
            lk::KomunikatSerwera(id, 'a', 0);
            uint32_t from = 0;
            char got;
            while ((got = lk::OdbiorKomunikatu(&from, nullptr, 5000)) != 'A' && got != 0) {}
            if (got == 0) state.SkipWithError("no answer");
        }
    }
    lk::UstawNumerKomunikatu(0);
}
BENCHMARK(BM_CommandRoundTrip)->Unit(benchmark::kMicrosecond);

// The service and the report test that every request exchange runs.
void BM_ExchangeOverhead(benchmark::State& state) {
    const bool on = state.range(0) != 0;
    lk::UstawNumerKomunikatu(on ? kNumber : 0);
    lk::UstawOkresCOUNTER(5);
    for (auto _ : state) {
        benchmark::DoNotOptimize(lk::ObslugaRozkazowSerwera());
        lk::RaportPoRozkazie(1);  // not a multiple of the period: no report
    }
    lk::UstawOkresCOUNTER(0);
    lk::UstawNumerKomunikatu(0);
    state.SetLabel(on ? "channel on, idle" : "channel off");
}
BENCHMARK(BM_ExchangeOverhead)->Arg(0)->Arg(1);

void BM_CounterReportPost(benchmark::State& state) {
    lk::UstawNumerKomunikatu(kNumber);
    lk::UstawOkresCOUNTER(1);
    uint32_t n = 0;
    for (auto _ : state) lk::RaportPoRozkazie(++n);
    lk::UstawOkresCOUNTER(0);
    lk::UstawNumerKomunikatu(0);
}
BENCHMARK(BM_CounterReportPost);

// CPU per second of wall time while the process only holds a suspended
// driver thread (blocked in its wait for the next message).
void BM_SuspendedDriverCpu(benchmark::State& state) {
    lk::UstawNumerKomunikatu(kNumber);
    std::atomic<bool> done{false};
    lk::UstawZawieszenie(true);
    std::thread driver([&] {
        lk::KodWyniku = 0;
        lk::WykonanieRozkazu(1, 1, 130, 1);  // waits for RESUME
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (auto _ : state) {
        const double before = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        state.counters["cpu_ms_per_s"] = (CpuSeconds() - before) * 1000.0;
    }
    lk::KomunikatSerwera(pf::CurrentProcessId(), 'r', 0);
    driver.join();
    lk::UstawZawieszenie(false);
    lk::UstawNumerKomunikatu(0);
    if (!done.load()) state.SkipWithError("the driver did not resume");
}
BENCHMARK(BM_SuspendedDriverCpu)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same for an idle message-pump thread (its 1 ms loop), channel on.
void BM_IdlePumpCpu(benchmark::State& state) {
    vorin_serial_set_channel(kNumber, 0);
    OpenThread();
    for (auto _ : state) {
        const double before = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        state.counters["cpu_ms_per_s"] = (CpuSeconds() - before) * 1000.0;
    }
    CloseThread();
    vorin_serial_set_channel(0, 0);
}
BENCHMARK(BM_IdlePumpCpu)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

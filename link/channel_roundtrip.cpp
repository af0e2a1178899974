// Timing of the server channel where Google Benchmark is not built (the
// Windows build under Wine): the command round trip through a driver
// thread's request exchange, and the service each idle exchange runs.
//
//   channel_roundtrip [ROUND_TRIPS]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "link/commands.h"
#include "link/link.h"
#include "link/server_channel.h"
#include "platform/message_bus.h"

namespace lk = vorin::link;
namespace pf = vorin::platform;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    lk::UstawNumerKomunikatu(0xC3A2);
    std::atomic<bool> ready{false}, stop{false};
    std::thread driver([&] {
        lk::RozkazSerwera(nullptr);  // opens this thread's queue
        ready = true;
        while (!stop.load()) {
            lk::CzekanieNaKomunikat();
            lk::KodWyniku = 0;
            lk::WykonanieRozkazu(lk::kCmdWriteBlock, 1, 130, 1);
        }
    });
    while (!ready.load()) std::this_thread::yield();
    const uint32_t id = pf::CurrentProcessId();
    int lost = 0;
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        lk::KomunikatSerwera(id, 'a', 0);
        char got;
        while ((got = lk::OdbiorKomunikatu(nullptr, nullptr, 5000)) != 'A' && got != 0) {}
        if (got == 0) ++lost;
    }
    const double trip =
        std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
    stop = true;
    lk::KomunikatSerwera(id, 'a', 0);
    driver.join();

    const int calls = 100000;
    const auto idleStart = Clock::now();
    for (int i = 0; i < calls; ++i) {
        lk::ObslugaRozkazowSerwera();
        lk::RaportPoRozkazie(1);
    }
    const double idle =
        std::chrono::duration<double, std::micro>(Clock::now() - idleStart).count() / calls;
    std::printf("round trip of one command: %.1f us (%d rounds, %d without answer)\n", trip, rounds,
                lost);
    std::printf("added to an idle request exchange, channel on: %.2f us\n", idle);
    lk::UstawNumerKomunikatu(0);
    return lost == 0 ? 0 : 1;
}

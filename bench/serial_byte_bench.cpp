// The cost of one WriteByte / ReadByte over a pseudo-terminal, next to a
// plain write() / read() of one byte on the same kind of line in the same
// run. Linux only: the baseline talks to the tty directly.
//
//   build/native/bin/serial_byte_bench
#include <vorin/serial.h>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/test_line.h"

namespace {

// Keeps the printer's side busy: drains what the host writes, or keeps the
// host's input full, until stopped.
class Peer {
public:
    enum Mode { kDrain, kFeed };
    Peer(vorin::platform::TestLine& line, Mode mode) : line_(line) {
        thread_ = std::thread([this, mode] {
            std::vector<uint8_t> chunk(256, 0x5A);
            while (!stop_.load()) {
                if (mode == kDrain)
                    line_.Receive(4096, 20);
                else if (!line_.Send(chunk))
                    break;
            }
        });
    }
    ~Peer() {
        stop_ = true;
        thread_.join();
    }

private:
    vorin::platform::TestLine& line_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::unique_ptr<vorin::platform::TestLine> NewLine(benchmark::State& state) {
    std::string why;
    auto line = vorin::platform::TestLine::Create(why);
    if (!line) state.SkipWithError(why.c_str());
    return line;
}

int OpenPlain(uint8_t port) {
    std::string path = std::getenv(("VORIN_COM" + std::to_string(port)).c_str());
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

void BM_WriteByte(benchmark::State& state) {
    auto line = NewLine(state);
    if (!line) return;
    if (InitializePort(line->Port(), 38400, 3, 3) != 0)
        return state.SkipWithError("InitializePort failed");
    {
        Peer peer(*line, Peer::kDrain);
        for (auto _ : state)
            if (WriteByte(0x55) != 1) state.SkipWithError("WriteByte failed");
    }
    UnInitializePort();
}

void BM_ReadByte(benchmark::State& state) {
    auto line = NewLine(state);
    if (!line) return;
    if (InitializePort(line->Port(), 38400, 3, 3) != 0)
        return state.SkipWithError("InitializePort failed");
    {
        Peer peer(*line, Peer::kFeed);
        uint8_t b;
        for (auto _ : state)
            if (ReadByte(&b) != 1) state.SkipWithError("ReadByte failed");
        UnInitializePort();  // ends the feeder's blocked write too
    }
}

void BM_PlainWrite(benchmark::State& state) {
    auto line = NewLine(state);
    if (!line) return;
    int fd = OpenPlain(line->Port());
    {
        Peer peer(*line, Peer::kDrain);
        uint8_t b = 0x55;
        for (auto _ : state)
            if (::write(fd, &b, 1) != 1) state.SkipWithError("write failed");
    }
    ::close(fd);
}

void BM_PlainRead(benchmark::State& state) {
    auto line = NewLine(state);
    if (!line) return;
    int fd = OpenPlain(line->Port());
    {
        Peer peer(*line, Peer::kFeed);
        uint8_t b;
        for (auto _ : state)
            if (::read(fd, &b, 1) != 1) state.SkipWithError("read failed");
        ::close(fd);
    }
}

BENCHMARK(BM_WriteByte)->UseRealTime();
BENCHMARK(BM_PlainWrite)->UseRealTime();
BENCHMARK(BM_ReadByte)->UseRealTime();
BENCHMARK(BM_PlainRead)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

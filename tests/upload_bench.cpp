// The whole code page upload over a pseudo-terminal to vorin-sim: unpaced
// (what the serial library and the link cost by themselves), and with the
// simulator pacing the line at 38400 baud, reported as a ratio to the time the
// wire itself needs: 144 blocks x 265 bytes x 11 bits / 38400 baud = 10.93 s.
//
// BM_UploadBare is the floor the unpaced upload is held against: the same
// frames to the same simulator from this thread, one write() or read() a
// byte, no library. cpu_s / cpu_share: this process's CPU time during the
// upload (the simulator's is its own).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

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

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One frame exchange as the link makes it, a system call a byte: the input
// cleared, the prefix (a continuation has none), the acknowledgement, the
// body, the status byte.
class BareLine {
public:
    explicit BareLine(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 30;  // a read ends after 3 s without a byte
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~BareLine() { ::close(fd_); }
    bool Open() const { return fd_ >= 0; }

    bool Exchange(bool prefix, const uint8_t* body, unsigned length) {
        ::tcflush(fd_, TCIFLUSH);
        if (prefix && (!Put(0x1B) || !Put(0x01) || Get() != 0x06)) return false;
        for (unsigned i = 0; i < length; ++i)
            if (!Put(body[i])) return false;
        return Get() == 0;
    }

private:
    bool Put(uint8_t b) { return ::write(fd_, &b, 1) == 1; }
    int Get() {
        uint8_t b = 0;
        return ::read(fd_, &b, 1) == 1 ? b : -1;
    }
    int fd_;
};

bool BareUpload(BareLine& line) {
    using namespace vorin::link;
    for (uint32_t index = 0; index < vorin::kBlockCount; ++index) {
        const unsigned char* block = kCodePageImage + std::size_t(index) * vorin::kBlockSize;
        const uint32_t number = index + vorin::kFirstPrinterBlock;
        uint8_t body[130];
        SumaKontrolna = 0;
        body[0] = BajtSlowa(2, number);
        body[1] = BajtSlowa(1, number);
        for (unsigned i = 0; i < 128; ++i) body[2 + i] = block[i];
        for (uint8_t b : body) AktualizacjaCRC(b);
        if (!line.Exchange(true, body, 130)) return false;
        for (unsigned i = 0; i < 128; ++i) {
            body[i] = block[128 + i];
            AktualizacjaCRC(body[i]);
        }
        body[128] = BajtSlowa(2, SumaKontrolna);
        body[129] = BajtSlowa(1, SumaKontrolna);
        if (!line.Exchange(false, body, 130)) return false;
    }
    return true;
}

enum class Uploader { Library, Bare };

void RunUpload(benchmark::State& state, const std::vector<std::string>& simArgs,
               Uploader uploader = Uploader::Library) {
    const std::string sim = (std::filesystem::current_path() / "vorin-sim").string();
    test::TempDir dir;
    double seconds = 0;
    double cpu = 0;
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
        bool ok = false;
        if (uploader == Uploader::Bare) {
            BareLine line(printer.Line());
            if (!line.Open()) {
                state.SkipWithError("the line did not open");
                return;
            }
            state.ResumeTiming();
            const double start = test::Now();
            const double cpuStart = CpuSeconds();
            ok = BareUpload(line);
            cpu += CpuSeconds() - cpuStart;
            seconds += test::Now() - start;
            state.PauseTiming();
        } else {
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
            const double cpuStart = CpuSeconds();
            ok = loader::UploadImage(kCodePageImage, nullptr) == 0;
            cpu += CpuSeconds() - cpuStart;
            seconds += test::Now() - start;
            state.PauseTiming();
            link::ZamknieciePortu();
        }
        ++uploads;
        printer.Stop();
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("the upload failed");
            return;
        }
    }
    const double mean = uploads ? seconds / uploads : 0;
    state.counters["seconds"] = mean;
    state.counters["wire_ratio"] = mean / kWireSeconds;
    state.counters["bytes_per_s"] = mean > 0 ? 144.0 * 265.0 / mean : 0;
    state.counters["cpu_s"] = uploads ? cpu / uploads : 0;
    state.counters["cpu_share"] = seconds > 0 ? cpu / seconds : 0;
}

void BM_UploadUnpaced(benchmark::State& state) { RunUpload(state, {}); }
void BM_UploadBare(benchmark::State& state) { RunUpload(state, {}, Uploader::Bare); }
void BM_UploadPaced38400(benchmark::State& state) { RunUpload(state, {"--pace", "38400"}); }

BENCHMARK(BM_UploadUnpaced)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_UploadBare)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_UploadPaced38400)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();

// The byte hand-over of the Windows build, measured where it hurts: under Wine,
// where every kernel object call is a round trip to the Wine server. Like
// serial_byte_bench, the baseline talks to the system directly.
//
//   serial_wine_bench.exe bytes COM COUNT [library|own]
//       WriteByte COUNT times on COM (the other end must be drained), then
//       this program's own overlapped WriteFile + wait on the same port, one
//       byte a call with one reused event: microseconds a byte and the
//       process's CPU microseconds a byte (medians of rounds; Wine counts CPU
//       time in 10 ms ticks, so use some 20,000 bytes), and the ratio. With
//       `library` or `own`, only that one (to count the Wine server's
//       requests of each).
//   serial_wine_bench.exe upload COM
//       the whole code page upload through the link to a printer on COM (for
//       `vorin-sim --pace 38400`): seconds, span / wire time, and the CPU
//       time this process used.
//
// docs/performance.md shows the set-up (Wine's COM mapping, the peers).
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/link.h"
#include "loader/codepage_image.h"
#include "loader/upload.h"

// From vorin/serial.h, whose OpenThread would clash with the system's.
extern "C" {
int32_t InitializePort(uint8_t port, uint32_t speed, uint16_t writeTimeout, uint16_t readTimeout);
int32_t UnInitializePort(void);
int32_t WriteByte(uint8_t b);
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;
constexpr double kWireSeconds = 144.0 * 265.0 * 11.0 / 38400.0;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double MicrosPerCall(Clock::time_point start, int count) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// Wall and process CPU microseconds a byte, each the median of the rounds.
struct PerByte {
    double wall = 0;
    double cpu = 0;
};

PerByte Medians(std::vector<double> wall, std::vector<double> cpu) {
    return {Median(std::move(wall)), Median(std::move(cpu))};
}

// One byte a call, as a program of its own would write it.
class RawPort {
public:
    explicit RawPort(int com)
        : handle_(::CreateFileA(("\\\\.\\COM" + std::to_string(com)).c_str(),
                                GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr)),
          event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        COMMTIMEOUTS t{};
        t.WriteTotalTimeoutConstant = 3000;
        if (handle_ != INVALID_HANDLE_VALUE) ::SetCommTimeouts(handle_, &t);
    }
    ~RawPort() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
        if (event_ != nullptr) ::CloseHandle(event_);
    }
    bool Open() const { return handle_ != INVALID_HANDLE_VALUE && event_ != nullptr; }

    bool WriteOne(uint8_t b) {
        OVERLAPPED ov{};
        ov.hEvent = event_;
        DWORD moved = 0;
        if (::WriteFile(handle_, &b, 1, &moved, &ov)) return moved == 1;
        if (::GetLastError() != ERROR_IO_PENDING) return false;
        ::WaitForSingleObject(event_, INFINITE);
        return ::GetOverlappedResult(handle_, &ov, &moved, FALSE) && moved == 1;
    }

private:
    HANDLE handle_;
    HANDLE event_;
};

// WriteByte a byte over rounds; 0 when it failed.
PerByte LibraryMicros(int com, int count) {
    std::vector<double> rounds, cpu;
    for (int round = 0; round < kRounds; ++round) {
        if (InitializePort(static_cast<uint8_t>(com), 38400, 3, 3) != 0) {
            std::fprintf(stderr, "InitializePort(%d) failed\n", com);
            return {};
        }
        const double cpuStart = ProcessCpuSeconds();
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i)
            if (WriteByte(0x55) != 1) {
                std::fprintf(stderr, "WriteByte failed\n");
                UnInitializePort();
                return {};
            }
        rounds.push_back(MicrosPerCall(start, count));
        cpu.push_back((ProcessCpuSeconds() - cpuStart) * 1e6 / count);
        UnInitializePort();
    }
    return Medians(rounds, cpu);
}

// The same for this program's own overlapped writes.
PerByte OwnMicros(int com, int count) {
    std::vector<double> rounds, cpu;
    for (int round = 0; round < kRounds; ++round) {
        RawPort port(com);
        if (!port.Open()) {
            std::fprintf(stderr, "COM%d did not open\n", com);
            return {};
        }
        const double cpuStart = ProcessCpuSeconds();
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i)
            if (!port.WriteOne(0x55)) {
                std::fprintf(stderr, "WriteFile failed\n");
                return {};
            }
        rounds.push_back(MicrosPerCall(start, count));
        cpu.push_back((ProcessCpuSeconds() - cpuStart) * 1e6 / count);
    }
    return Medians(rounds, cpu);
}

int Bytes(int com, int count, const std::string& only) {
    const PerByte lib = only == "own" ? PerByte{-1, -1} : LibraryMicros(com, count);
    const PerByte own = only == "library" ? PerByte{-1, -1} : OwnMicros(com, count);
    if (lib.wall == 0 || own.wall == 0) return 1;
    if (lib.wall > 0) std::printf("WriteByte %.1f us (cpu %.1f us)\n", lib.wall, lib.cpu);
    if (own.wall > 0)
        std::printf("overlapped WriteFile + wait %.1f us (cpu %.1f us)\n", own.wall, own.cpu);
    if (lib.wall > 0 && own.wall > 0) std::printf("ratio %.2f\n", lib.wall / own.wall);
    return 0;
}

int Upload(int com) {
    using namespace vorin::link;
    UstawieniaDomyslneLacza();
    NumerPortu = static_cast<uint8_t>(com);
    Predkosc = 38400;
    OtwarciePortu();
    if (!PortOtwarty) {
        std::fprintf(stderr, "COM%d did not open\n", com);
        return 74;
    }
    const double cpuStart = ProcessCpuSeconds();
    const auto start = Clock::now();
    const int code = vorin::loader::UploadImage(vorin::kCodePageImage, nullptr);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ProcessCpuSeconds() - cpuStart;
    ZamknieciePortu();
    std::printf("result %d, %.2f s, span/wire %.3f, cpu %.2f s (%.1f %%)\n", code, seconds,
                seconds / kWireSeconds, cpu, 100.0 * cpu / seconds);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc >= 3 ? argv[1] : "";
    const int com = argc >= 3 ? std::atoi(argv[2]) : 0;
    if (mode == "bytes" && (argc == 4 || argc == 5) && com > 0)
        return Bytes(com, std::max(1, std::atoi(argv[3])), argc == 5 ? argv[4] : "");
    if (mode == "upload" && argc == 3 && com > 0) return Upload(com);
    std::fprintf(stderr, "usage: serial_wine_bench bytes COM COUNT [library|own] | upload COM\n");
    return 64;
}

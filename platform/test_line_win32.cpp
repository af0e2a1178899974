// Test lines under Wine: pairs of COM ports linked by socat between two
// pseudo-terminals (scripts/wine-lines), named in $VORIN_TEST_LINES as
// "5:6,7:8" (library port : peer port).
//
// A pair is reserved with a named mutex for as long as its TestLine lives, so
// test programs that ctest runs at the same time never share a line (Wine
// does not refuse a second exclusive open of a COM port, so nothing else
// would stop them). Create takes the first free pair and waits a bounded
// time when all are taken.
//
// HangUp asks scripts/wine-lines to end the pair's socat (a request file
// "hangup<n>" beside the line's links, found through Wine's port mapping);
// the script starts a fresh pair and removes the request, which HangUp
// waits for.
#include "platform/test_line.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/serial_device.h"

namespace vorin::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kLineSpeed = 38400;
constexpr auto kReserveWait = std::chrono::seconds(60);
constexpr auto kHangUpWait = std::chrono::seconds(10);

struct Pair {
    uint8_t library;
    uint8_t peer;
};

// "5:6,7:8" -> pairs; false with a reason on anything else.
bool ParsePairs(const std::string& text, std::vector<Pair>& pairs, std::string& why) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(',', pos);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(pos, end - pos);
        const std::size_t colon = item.find(':');
        char* rest = nullptr;
        const unsigned long lib = std::strtoul(item.c_str(), &rest, 10);
        const bool libOk = colon != std::string::npos && rest == item.c_str() + colon && colon > 0;
        const unsigned long peer = libOk ? std::strtoul(item.c_str() + colon + 1, &rest, 10) : 0;
        if (!libOk || rest != item.c_str() + item.size() || colon + 1 == item.size() || lib < 1 ||
            lib > 255 || peer < 1 || peer > 255 || lib == peer) {
            why = "VORIN_TEST_LINES: \"" + item +
                  "\" is not <library port>:<peer port> (COM numbers 1..255)";
            return false;
        }
        pairs.push_back({static_cast<uint8_t>(lib), static_cast<uint8_t>(peer)});
        pos = end + 1;
    }
    if (pairs.empty()) {
        why = "VORIN_TEST_LINES is empty";
        return false;
    }
    return true;
}

// The Unix path that Wine maps COM<n> to, as a Windows path on drive Z:
// (Wine's view of /), or empty.
std::string MappedPath(uint8_t port) {
    char value[MAX_PATH] = {};
    DWORD size = sizeof value;
    const std::string name = "COM" + std::to_string(port);
    if (::RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Wine\\Ports", name.c_str(), RRF_RT_REG_SZ,
                       nullptr, value, &size) != ERROR_SUCCESS ||
        value[0] != '/') {
        return {};
    }
    std::string path = std::string("Z:") + value;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string HangUpRequestPath(uint8_t port) {
    std::string path = MappedPath(port);
    const std::size_t slash = path.rfind('\\');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1) + "hangup" + std::to_string(port);
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int32_t SetRaw(SerialDevice& device, uint32_t speed) {
    LineSettings s;
    if (int32_t e = device.GetLineSettings(s)) return e;
    s.baudRate = speed;
    s.parity = 0;
    s.stopBits = 0;
    s.byteSize = 8;
    s.outxCtsFlow = s.outxDsrFlow = false;
    s.dtrControl = s.rtsControl = 0;
    s.outX = s.inX = false;
    s.abortOnError = false;
    return device.SetLineSettings(s);
}

class WineLine final : public TestLine {
public:
    WineLine(Pair pair, HANDLE reservation, std::unique_ptr<SerialDevice> peer)
        : pair_(pair), reservation_(reservation), peer_(std::move(peer)) {}
    ~WineLine() override {
        peer_.reset();
        ::CloseHandle(reservation_);
    }
    WineLine(const WineLine&) = delete;
    WineLine& operator=(const WineLine&) = delete;

    uint8_t Port() const override { return pair_.library; }

    bool Send(const std::vector<uint8_t>& bytes) override {
        if (!peer_) return false;
        CommTimeouts t;
        t.writeTotalConstant = 5000;
        if (peer_->SetTimeouts(t) != 0) return false;
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const TransferResult r = peer_->Write(
                bytes.data() + sent, static_cast<uint32_t>(bytes.size() - sent), nullptr, nullptr);
            const bool ended = r.outcome == TransferOutcome::CompletedAtOnce ||
                               r.outcome == TransferOutcome::Completed;
            if (!ended || r.bytes == 0) return false;
            sent += r.bytes;
        }
        return true;
    }

    std::vector<uint8_t> Receive(std::size_t count, uint32_t timeoutMs) override {
        std::vector<uint8_t> out;
        if (!peer_) return out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        uint8_t buf[4096];
        while (out.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) break;
            // Wait up to the time left for all that is still missing; a
            // timeout ends the read with what has arrived.
            CommTimeouts t;
            t.readTotalConstant = static_cast<uint32_t>(left);
            if (peer_->SetTimeouts(t) != 0) break;
            const uint32_t want = static_cast<uint32_t>(std::min(sizeof buf, count - out.size()));
            const TransferResult r = peer_->Read(buf, want, nullptr, nullptr);
            const bool ended = r.outcome == TransferOutcome::CompletedAtOnce ||
                               r.outcome == TransferOutcome::Completed;
            if (!ended) break;
            out.insert(out.end(), buf, buf + r.bytes);
        }
        return out;
    }

    void Drain() override {
        if (peer_) peer_->Purge(kPurgeRxClear);
    }

    void HangUp() override {
        peer_.reset();
        const std::string request = HangUpRequestPath(pair_.library);
        if (request.empty()) return;
        HANDLE f = ::CreateFileA(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return;
        ::CloseHandle(f);
        // The script removes the request once the old pair is gone and a
        // fresh one is up.
        const auto deadline = Clock::now() + kHangUpWait;
        while (FileExists(request) && Clock::now() < deadline) ::Sleep(20);
    }

    // The peer end's modem status answers for the pair: a null-modem cable
    // has the lines on both ends, a pseudo-terminal behind Wine on neither.
    bool HasModemLines() override {
        uint32_t ms = 0;
        return peer_ && peer_->GetModemStatus(ms) == 0;
    }

    // Only a pair that scripts/wine-lines runs can be hung up.
    bool CanHangUp() override { return !HangUpRequestPath(pair_.library).empty(); }

private:
    Pair pair_;
    HANDLE reservation_;
    std::unique_ptr<SerialDevice> peer_;
};

}  // namespace

std::unique_ptr<TestLine> TestLine::Create(std::string& why) {
    const char* env = std::getenv("VORIN_TEST_LINES");
    if (env == nullptr || *env == '\0') {
        why =
            "no test lines: VORIN_TEST_LINES is not set (scripts/wine-lines start DIR prepares "
            "them)";
        return nullptr;
    }
    std::vector<Pair> pairs;
    if (!ParsePairs(env, pairs, why)) return nullptr;

    const auto deadline = Clock::now() + kReserveWait;
    for (;;) {
        for (const Pair& pair : pairs) {
            const std::string name = "Local\\vorin-test-line-COM" + std::to_string(pair.library);
            HANDLE reservation = ::CreateMutexA(nullptr, FALSE, name.c_str());
            if (reservation == nullptr) continue;
            if (::GetLastError() == ERROR_ALREADY_EXISTS) {
                ::CloseHandle(reservation);
                continue;
            }
            // Start every test from the same place: the library end at 9600
            // (so its own open changes the speed) with empty queues.
            int32_t error = 0;
            if (auto library = SerialDevice::Open(pair.library, error)) {
                error = SetRaw(*library, 9600);
                if (error == 0) error = library->Purge(kPurgeRxClear | kPurgeTxClear);
            }
            if (error != 0) {
                why = "test line COM" + std::to_string(pair.library) +
                      " cannot be prepared (error " + std::to_string(error) +
                      "); is scripts/wine-lines running?";
                ::CloseHandle(reservation);
                return nullptr;
            }
            auto peer = SerialDevice::Open(pair.peer, error);
            if (peer) error = SetRaw(*peer, kLineSpeed);
            if (peer && error == 0) error = peer->Purge(kPurgeRxClear | kPurgeTxClear);
            if (error != 0) {
                why = "peer port COM" + std::to_string(pair.peer) + " of test line COM" +
                      std::to_string(pair.library) + " cannot be opened (error " +
                      std::to_string(error) + ")";
                ::CloseHandle(reservation);
                return nullptr;
            }
            return std::make_unique<WineLine>(pair, reservation, std::move(peer));
        }
        if (Clock::now() >= deadline) {
            why = "all " + std::to_string(pairs.size()) +
                  " test lines in VORIN_TEST_LINES stayed in use for " +
                  std::to_string(
                      std::chrono::duration_cast<std::chrono::seconds>(kReserveWait).count()) +
                  " s";
            return nullptr;
        }
        ::Sleep(50);
    }
}

}  // namespace vorin::platform

// The message bus on POSIX: Unix datagram sockets in a private directory.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "platform/message_bus.h"

namespace vorin::platform {
namespace {

// Messages that wait for a Take beyond this many are dropped, oldest first:
// a participant that never reads must not grow without bound.
constexpr std::size_t kQueueLimit = 4096;

// VORIN_BUS_DIR lets a test run on a bus of its own.
std::string BusDirectory() {
    if (const char* own = std::getenv("VORIN_BUS_DIR"); own != nullptr && own[0] != '\0')
        return own;
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && run[0] == '/')
        return std::string(run) + "/vorin-bus";
    return "/tmp/vorin-bus-" + std::to_string(getuid());
}

// Creates the directory when missing; refuses one that another user could
// write to or that is not a directory of ours (a planted link in /tmp).
bool EnsureDirectory(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path) return false;
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// "<pid>" or "<pid>.<n>"; 0 for any other name.
pid_t OwnerOf(const char* name) {
    pid_t pid = 0;
    const char* p = name;
    if (*p < '1' || *p > '9') return 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        pid = pid * 10 + (*p - '0');
        if (pid > 99999999) return 0;
    }
    if (*p == '.') {
        ++p;
        if (*p == '\0') return 0;
        while (*p >= '0' && *p <= '9') ++p;
    }
    return *p == '\0' ? pid : 0;
}

int SenderSocket() {
    static const int kFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return kFd;
}

std::atomic<unsigned> gParticipants{0};

class PosixParticipant final : public BusParticipant {
public:
    PosixParticipant(int sock, int wake, std::string path)
        : sock_(sock), wake_(wake), path_(std::move(path)) {}
    ~PosixParticipant() override {
        unlink(path_.c_str());
        close(sock_);
        close(wake_);
    }

    bool Take(uint32_t number, BusMessage* out) override {
        Drain();
        for (auto it = queue_.begin(); it != queue_.end(); ++it) {
            if (it->number != number) continue;
            if (out != nullptr) *out = *it;
            queue_.erase(it);
            return true;
        }
        return false;
    }

    bool Wait(uint32_t timeoutMs) override {
        pollfd fds[2] = {{sock_, POLLIN, 0}, {wake_, POLLIN, 0}};
        int timeout = timeoutMs == 0xFFFFFFFFu
                          ? -1
                          : static_cast<int>(timeoutMs > 0x7FFFFFFF ? 0x7FFFFFFF : timeoutMs);
        int n;
        do {
            n = poll(fds, 2, timeout);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            (void)!read(wake_, &count, sizeof count);
        }
        return true;
    }

    void Wake() override {
        uint64_t one = 1;
        (void)!write(wake_, &one, sizeof one);
    }

private:
    void Drain() {
        uint32_t raw[3];
        for (;;) {
            ssize_t n = recv(sock_, raw, sizeof raw, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            if (n != static_cast<ssize_t>(sizeof raw)) continue;  // not one of ours
            if (queue_.size() >= kQueueLimit) queue_.pop_front();
            queue_.push_back(BusMessage{raw[0], raw[1], raw[2]});
        }
    }

    int sock_;
    int wake_;
    std::string path_;
    std::deque<BusMessage> queue_;
};

}  // namespace

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

std::unique_ptr<BusParticipant> BusParticipant::Open() {
    const std::string dir = BusDirectory();
    if (!EnsureDirectory(dir)) return nullptr;
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (sock < 0) return nullptr;
    // A name in use may belong to this process (each shared library has its
    // own count) or be left by an earlier process with our id: take the next
    // one. A broadcast removes the stale ones.
    std::string path;
    for (int tries = 0;; ++tries) {
        const unsigned index = gParticipants.fetch_add(1);
        path = dir + "/" + std::to_string(getpid());
        // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict
        // overlap inside operator+ on a temporary string.
        if (index != 0) {
            path += '.';
            path += std::to_string(index);
        }
        sockaddr_un addr{};
        if (tries == 1000 || !MakeAddress(path, &addr)) {
            close(sock);
            return nullptr;
        }
        if (bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
        if (errno != EADDRINUSE) {
            close(sock);
            return nullptr;
        }
    }
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        unlink(path.c_str());
        close(sock);
        return nullptr;
    }
    return std::make_unique<PosixParticipant>(sock, wake, std::move(path));
}

bool BusBroadcast(const BusMessage& message) {
    const std::string dir = BusDirectory();
    const int sender = SenderSocket();
    if (sender < 0) return false;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return errno == ENOENT;  // nobody has joined yet
    const uint32_t raw[3] = {message.number, message.wParam, message.lParam};
    while (dirent* e = readdir(d)) {
        const pid_t owner = OwnerOf(e->d_name);
        if (owner == 0) continue;
        const std::string path = dir + "/" + e->d_name;
        sockaddr_un addr{};
        if (!MakeAddress(path, &addr)) continue;
        ssize_t n;
        do {
            n = sendto(sender, raw, sizeof raw, MSG_DONTWAIT | MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        } while (n < 0 && errno == EINTR);
        // Nobody bound there any more, or its process has ended: stale.
        if (n < 0 && (errno == ECONNREFUSED || (kill(owner, 0) != 0 && errno == ESRCH)))
            unlink(path.c_str());
    }
    closedir(d);
    return true;
}

}  // namespace vorin::platform

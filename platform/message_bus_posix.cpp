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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/bus_queue.h"
#include "platform/message_bus.h"

namespace vorin::platform {
namespace {

// Messages that wait for a Take beyond this many give way, oldest first (see
// BusQueue): a participant that never reads must not grow without bound.
constexpr std::size_t kQueueLimit = 4096;

// VORIN_BUS_DIR lets a test run on a bus of its own.
std::string BusDirectory() {
    if (const char* own = std::getenv("VORIN_BUS_DIR"); own != nullptr && own[0] != '\0')
        return own;
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && run[0] == '/')
        return std::string(run) + "/vorin-bus";
    return "/tmp/vorin-bus-" + std::to_string(getuid());
}

// Empty when the directory is ours alone, else why not. Another user who can
// write there could read our commands or plant names that lead elsewhere, so
// senders refuse it as well as receivers. With `create` a missing one is made.
std::string RefusalOf(const std::string& dir, bool create, bool* missing = nullptr) {
    if (create && mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return "the bus folder " + dir + " cannot be made: " + std::strerror(errno);
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) {
        if (missing != nullptr && errno == ENOENT) *missing = true;
        return "the bus folder " + dir + " cannot be read: " + std::strerror(errno);
    }
    if (S_ISLNK(st.st_mode)) return "the bus folder " + dir + " is a symbolic link";
    if (!S_ISDIR(st.st_mode)) return "the bus folder " + dir + " is not a folder";
    if (st.st_uid != getuid())
        return "the bus folder " + dir + " belongs to another user (uid " +
               std::to_string(st.st_uid) + ")";
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return "the bus folder " + dir + " is open to other users (mode " + mode +
               "; it must be 0700)";
    }
    return {};
}

// Only a socket of ours, looked at without following a link: a name planted
// there must not carry a message anywhere else. (The folder is ours alone, so
// nobody else can swap the name between this check and the send.)
bool OurSocket(int dirFd, const char* name) {
    struct stat st {};
    return fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISSOCK(st.st_mode) &&
           st.st_uid == getuid();
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
    PosixParticipant(int sock, int stop, std::string path, BusKeep keep)
        : sock_(sock), stop_(stop), path_(std::move(path)), queue_(keep, kQueueLimit) {
        drain_ = std::thread([this] { DrainLoop(); });
    }
    ~PosixParticipant() override {
        uint64_t one = 1;
        (void)!write(stop_, &one, sizeof one);
        drain_.join();
        unlink(path_.c_str());
        close(sock_);
        close(stop_);
    }

    bool Take(uint32_t number, BusMessage* out) override {
        return queue_.Take(number, out, [this] { Drain(); });
    }
    bool Wait(uint32_t timeoutMs) override { return queue_.Wait(timeoutMs); }
    void Wake() override { queue_.Wake(); }
    uint64_t Dropped() const override { return queue_.Dropped(); }

private:
    void Drain() {
        queue_.Fill([this](BusMessage* m) {
            uint32_t raw[3];
            for (;;) {
                ssize_t n = recv(sock_, raw, sizeof raw, MSG_DONTWAIT);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) return false;
                if (n != static_cast<ssize_t>(sizeof raw)) continue;  // not one of ours
                *m = BusMessage{raw[0], raw[1], raw[2]};
                return true;
            }
        });
    }

    void DrainLoop() {
        for (;;) {
            pollfd fds[2] = {{sock_, POLLIN, 0}, {stop_, POLLIN, 0}};
            const int n = poll(fds, 2, -1);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 || (fds[1].revents & POLLIN) != 0) break;
            if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) break;
            Drain();
        }
        queue_.Close();
    }

    int sock_;
    int stop_;
    std::string path_;
    BusQueue queue_;
    std::thread drain_;
};

// Sockets that stayed full for a whole wait: reports pass them by until they
// take a message again.
std::mutex gStuckLock;
std::set<std::string> gStuck;

bool Stuck(const std::string& path) {
    std::lock_guard<std::mutex> lock(gStuckLock);
    return gStuck.count(path) != 0;
}
void MarkStuck(const std::string& path, bool stuck) {
    std::lock_guard<std::mutex> lock(gStuckLock);
    if (stuck)
        gStuck.insert(path);
    else
        gStuck.erase(path);
}

// The sends that met a full socket, each on a socket connected to it so that
// poll() tells when that receiver has room; bounded by kBusFullWaitMs.
void SendWhenRoom(const std::vector<std::string>& paths, const uint32_t (&raw)[3]) {
    std::vector<pollfd> fds;
    std::vector<std::string> names;
    for (const std::string& path : paths) {
        sockaddr_un addr{};
        if (!MakeAddress(path, &addr)) continue;
        const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) continue;
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd);
            continue;
        }
        fds.push_back({fd, POLLOUT, 0});
        names.push_back(path);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusFullWaitMs);
    std::size_t left = fds.size();
    while (left > 0) {
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0) continue;
            const ssize_t n = send(fds[i].fd, raw, sizeof raw, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            MarkStuck(names[i], false);
            close(fds[i].fd);
            fds[i].fd = -1;  // sent, or gone: either way done
            --left;
        }
        if (left == 0) break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) break;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
        for (pollfd& p : fds) p.revents = 0;
        (void)poll(fds.data(), fds.size(), static_cast<int>(ms));
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].fd < 0) continue;
        MarkStuck(names[i], true);
        close(fds[i].fd);
    }
}

}  // namespace

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

std::unique_ptr<BusParticipant> BusParticipant::Open(BusKeep keep) {
    const std::string dir = BusDirectory();
    if (!RefusalOf(dir, true).empty()) return nullptr;
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
    int stop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop < 0) {
        unlink(path.c_str());
        close(sock);
        return nullptr;
    }
    return std::make_unique<PosixParticipant>(sock, stop, std::move(path), keep);
}

bool BusBroadcast(const BusMessage& message, bool urgent) {
    const std::string dir = BusDirectory();
    const int sender = SenderSocket();
    if (sender < 0) return false;
    bool missing = false;
    if (!RefusalOf(dir, false, &missing).empty()) return missing;  // missing: nobody joined yet
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return errno == ENOENT;
    const uint32_t raw[3] = {message.number, message.wParam, message.lParam};
    std::vector<std::string> full;
    while (dirent* e = readdir(d)) {
        const pid_t owner = OwnerOf(e->d_name);
        if (owner == 0 || !OurSocket(dirfd(d), e->d_name)) continue;
        const std::string path = dir + "/" + e->d_name;
        sockaddr_un addr{};
        if (!MakeAddress(path, &addr)) continue;
        ssize_t n;
        do {
            n = sendto(sender, raw, sizeof raw, MSG_DONTWAIT | MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        } while (n < 0 && errno == EINTR);
        if (n >= 0) {
            if (!urgent) MarkStuck(path, false);
            continue;
        }
        if (errno == EAGAIN) {
            if (urgent || !Stuck(path)) full.push_back(path);
            continue;
        }
        // Nobody bound there any more, or its process has ended: stale.
        if (errno == ECONNREFUSED || (kill(owner, 0) != 0 && errno == ESRCH)) unlink(path.c_str());
    }
    closedir(d);
    if (!full.empty()) SendWhenRoom(full, raw);
    return true;
}

bool BusUsable(std::string* why) {
    std::string refusal = RefusalOf(BusDirectory(), true);
    if (refusal.empty() && SenderSocket() < 0)
        refusal = std::string("no socket can be made: ") + std::strerror(errno);
    if (why != nullptr) *why = refusal;
    return refusal.empty();
}

bool BusHasProcess(uint32_t pid) {
    const std::string dir = BusDirectory();
    if (pid == 0 || !RefusalOf(dir, false).empty()) return false;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return false;
    bool found = false;
    while (dirent* e = readdir(d)) {
        if (static_cast<uint32_t>(OwnerOf(e->d_name)) != pid || !OurSocket(dirfd(d), e->d_name))
            continue;
        found = kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
        break;
    }
    closedir(d);
    return found;
}

}  // namespace vorin::platform

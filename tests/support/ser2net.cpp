#include "tests/support/ser2net.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/files.h"
#include "tests/support/processes.h"

namespace vorin::test {

namespace {

constexpr const char* kProgram = "/usr/sbin/ser2net";

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t size = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    close(s);
    return ntohs(a.sin_port);
}

bool Accepts(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = Loopback(port);
    const bool ok = connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

}  // namespace

bool Ser2net::Installed() {
    struct stat st {};
    return stat(kProgram, &st) == 0;
}

bool Ser2net::Start(const std::string& dir, const std::string& device, bool rfc2217, int port) {
    port_ = port != 0 ? port : FreePort();
    rfc2217_ = rfc2217;
    // chardelay off: the server passes each byte on at once instead of
    // waiting for more to gather, which a byte-by-byte protocol never sends.
    const std::string config = dir + "/ser2net.yaml";
    WriteWholeFile(
        config, "connection: &line\n  accepter: " + std::string(rfc2217 ? "telnet(rfc2217)," : "") +
                    "tcp,127.0.0.1," + std::to_string(port_) + "\n  connector: serialdev," +
                    device + ",9600n81,local\n  options:\n    chardelay: false\n");
    const std::string pidFile = dir + "/ser2net.pid";
    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
        execl(kProgram, "ser2net", "-n", "-d", "-c", config.c_str(), "-P", pidFile.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    for (const double end = Now() + 10; Now() < end; usleep(20000))
        if (Accepts(port_)) return true;
    return false;
}

void Ser2net::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string Ser2net::Url() const {
    return (rfc2217_ ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") + std::to_string(port_);
}

}  // namespace vorin::test

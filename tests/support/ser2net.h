// ser2net (Debian's, version 4) as the device server in front of a line, on
// 127.0.0.1 and a free port, in the foreground with a configuration of its
// own. Killed (SIGKILL: it may ignore SIGTERM while it starts) when done.
#pragma once

#include <sys/types.h>

#include <string>

namespace vorin::test {

class Ser2net {
public:
    static bool Installed();
    ~Ser2net() { Kill(); }

    // Serves `device` with the RFC 2217 accepter, or (`rfc2217` false) the
    // plain TCP one, on `port` (0: a free one). False when it does not accept
    // connections within 10 s.
    bool Start(const std::string& dir, const std::string& device, bool rfc2217, int port = 0);
    void Kill();
    // rfc2217://127.0.0.1:PORT or tcp://127.0.0.1:PORT
    std::string Url() const;
    int Port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool rfc2217_ = true;
};

}  // namespace vorin::test

// The printer's end of a pseudo-terminal pair. The slave path is what a host
// opens as its serial port; the simulator reads and writes the master.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace vorin::sim {

class PtyLine {
public:
    PtyLine() = default;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;
    ~PtyLine() { Close(); }

    // Creates the pair; on failure returns false with a message in error.
    bool Open(std::string& error);
    void Close();

    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }
    // Readable when a host opened or closed the slave (-1 if not watched).
    int WatchFd() const { return watch_; }

    struct HostEvents {
        unsigned opened = 0;
        unsigned closed = 0;
        bool present = false;  // a host holds the slave open after these events
    };
    HostEvents TakeHostEvents();
    bool HostPresent() const { return hosts_ > 0; }

    // After the last host closed: drop unread answers, lift the exclusive-open
    // flag the host may have set, and put the line back to raw 9600 8N1.
    void ResetAfterClose();

    // Non-blocking: bytes read, 0 when nothing is waiting, -1 on a line error.
    ssize_t Read(uint8_t* buffer, size_t size);
    // Non-blocking: bytes written (short when the host does not read), -1 on error.
    ssize_t Write(const uint8_t* data, size_t size);

private:
    bool SetLine9600(std::string* error);

    int master_ = -1;
    int slave_ = -1;  // held so that the pty never hangs up between two hosts
    int watch_ = -1;
    int hosts_ = 0;
    std::string slavePath_;
};

}  // namespace vorin::sim

// The message bus between processes that the server channel rides on:
// broadcast messages of three 32-bit values (message number, wParam, lParam),
// each participant with a queue of its own.
//
// Windows: PostMessageA to HWND_BROADCAST; a participant is a hidden
// top-level window on the thread that opened it (message-only windows get no
// broadcasts), read with PeekMessageA bounded to one message number, waited
// for with WaitMessage. Under Wine without a display the prefix needs Wine's
// null graphics driver (see PLATFORM-NOTES.md).
// POSIX: one Unix datagram socket per participant in a directory private to
// the user ($XDG_RUNTIME_DIR/vorin-bus, else /tmp/vorin-bus-<uid>, mode 0700),
// named by process id (a second participant of the same process gets
// "<pid>.<n>"); a broadcast is one send to every socket there, and sockets of
// dead processes are removed on the way. A wait sleeps in poll() on the
// socket and a wake event.
//
// Threads: Broadcast may be called from any thread. Take and Wait belong to
// the thread that opened the participant (on Windows the queue is that
// thread's: open one participant per thread); Wake may be called from any
// thread.
//
// Message numbers: Windows (and Wine) broadcast only system messages and
// numbers from 0xC000 to 0xFFFF; a number from WM_USER (0x400) to 0xBFFF is
// accepted by PostMessageA but reaches nobody. Use 0xC000 and up.
#pragma once

#include <cstdint>
#include <memory>

namespace vorin::platform {

struct BusMessage {
    uint32_t number = 0;
    uint32_t wParam = 0;
    uint32_t lParam = 0;
};

// Posts to every participant, the sender's own queues included. false when
// the bus cannot be reached at all; a participant that cannot take the
// message (gone, queue full) is skipped.
bool BusBroadcast(const BusMessage& message);

class BusParticipant {
public:
    // A queue that broadcasts reach from now on, owned by the calling thread.
    // Null when the system refused.
    static std::unique_ptr<BusParticipant> Open();
    virtual ~BusParticipant() = default;

    // Removes the oldest queued message with this number into *out; false
    // when none is queued. Messages of other numbers stay queued.
    virtual bool Take(uint32_t number, BusMessage* out) = 0;

    // Sleeps until a message arrives that was not yet in the queue at the
    // last Take, Wake is called, or timeoutMs passes (0xFFFFFFFF: no bound).
    // true when woken by a message or Wake, false on timeout or failure.
    virtual bool Wait(uint32_t timeoutMs) = 0;

    // Ends a Wait of the owner thread (or the next one) at once.
    virtual void Wake() = 0;

protected:
    BusParticipant() = default;
};

uint32_t CurrentProcessId();

}  // namespace vorin::platform

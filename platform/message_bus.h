// The message bus between processes that the server channel rides on:
// broadcast messages of three 32-bit values (message number, wParam, lParam),
// each participant with a queue of its own.
//
// Windows: PostMessageA to HWND_BROADCAST; a participant is a hidden
// top-level window (message-only windows get no broadcasts) owned by the
// participant's drain thread, which reads it with PeekMessageA. Under Wine
// without a display the prefix needs Wine's null graphics driver (see
// PLATFORM-NOTES.md).
// POSIX: one Unix datagram socket per participant in a directory private to
// the user ($XDG_RUNTIME_DIR/vorin-bus, else /tmp/vorin-bus-<uid>, mode 0700),
// named by process id (a second participant of the same process gets
// "<pid>.<n>"); a broadcast is one send to every socket there, and sockets of
// dead processes are removed on the way. A directory that is not ours alone
// (another owner, open to others, a link) is refused by senders and
// receivers alike, and only sockets of ours in it are sent to, never through
// a link.
//
// Delivery: each participant has a drain thread that moves messages from the
// system's queue (the socket's, at most max_dgram_qlen deep; the window
// thread's) into the participant's own queue at once, so the system's queue
// does not fill while the owner is busy elsewhere. When the own queue is
// full, the oldest message that the participant's keep rule does not keep
// gives way (counted in Dropped); kept ones never do. On Windows the drain
// thread also answers messages sent to the window at once, so a program
// that sends a broadcast does not wait on a busy driver.
//
// Threads: Broadcast may be called from any thread. Take and Wait belong to
// one owner thread at a time; Wake may be called from any thread.
//
// Message numbers: Windows (and Wine) broadcast only system messages and
// numbers from 0xC000 to 0xFFFF; a number from WM_USER (0x400) to 0xBFFF is
// accepted by PostMessageA but reaches nobody. Use 0xC000 and up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vorin::platform {

struct BusMessage {
    uint32_t number = 0;
    uint32_t wParam = 0;
    uint32_t lParam = 0;
};

// Messages a participant's queue never gives up when it is full. Called on
// the drain thread: it must only read state that is safe to read there.
using BusKeep = bool (*)(const BusMessage&);

// How long a broadcast may wait for a participant whose system queue is full
// (its drain thread is behind).
inline constexpr uint32_t kBusFullWaitMs = 1000;

// Posts to every participant, the sender's own queues included. false when
// the bus cannot be used (see BusUsable). A participant whose system queue is
// full is waited for up to kBusFullWaitMs; with `urgent` off, one that stayed
// full for a whole earlier wait is skipped at once until it takes a message
// again (a stopped process must not slow every report). Gone participants
// are skipped.
bool BusBroadcast(const BusMessage& message, bool urgent = false);

// Whether this process can use the bus; when not, *why (if given) gets one
// line saying why, e.g. "the bus folder /tmp/x is open to other users".
bool BusUsable(std::string* why);

// Whether a participant of process `pid` is on the bus. Always false where
// the system cannot tell.
bool BusHasProcess(uint32_t pid);

class BusParticipant {
public:
    // A queue that broadcasts reach from now on. Null when the system
    // refused (BusUsable says why).
    static std::unique_ptr<BusParticipant> Open(BusKeep keep = nullptr);
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

    // Messages that gave way to newer ones in the full queue since Open.
    virtual uint64_t Dropped() const = 0;

protected:
    BusParticipant() = default;
};

uint32_t CurrentProcessId();

}  // namespace vorin::platform

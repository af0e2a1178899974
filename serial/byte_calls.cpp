// WriteByte and ReadByte: the calling thread's side of the byte mailbox.
// Each call waits for the transfer worker to be idle, places its request and
// waits for the worker to finish it. Both waits also end on the cancel event
// (a closed port) and serve the events worker's hand-overs meanwhile.
#include <vorin/serial.h>

#include <mutex>

#include "platform/errors.h"
#include "platform/event.h"
#include "serial/handover.h"
#include "serial/last_error.h"
#include "serial/library.h"
#include "serial/texts.h"

namespace vorin::serial {
namespace {

enum class Wait { Cancel, Ready, Failed };

Wait WaitCancelOrReady(platform::Event* cancel, platform::Event* ready) {
    platform::Event* waits[] = {cancel, ready, TheHandOver().Pending()};
    for (;;) {
        int which = platform::WaitAny(waits, 3, platform::kInfinite);
        if (which == 2) {
            TheHandOver().Serve();
            continue;
        }
        if (which == 0) return Wait::Cancel;
        if (which == 1) return Wait::Ready;
        return Wait::Failed;
    }
}

enum class Direction { Write, Read };

// One byte call at a time. The byte calls are meant for one thread, but two
// threads calling at once would both find the worker idle, one byte would
// overwrite the other in the slot, and both calls would report it sent. Close
// does not take this lock: the cancel event still ends a call that waits.
std::mutex gByteCalls;

int32_t ByteCall(Direction direction, uint8_t out, uint8_t* in) {
    std::lock_guard<std::mutex> oneAtATime(gByteCalls);
    Mailbox& mb = TheLibrary().mailbox;
    mb.timeout.store(0);
    int32_t result = 0;
    platform::Event* cancel = mb.cancel.load();
    platform::Event* ready = mb.ready.load();

    if (WaitCancelOrReady(cancel, ready) == Wait::Ready) {
        platform::Event* request =
            direction == Direction::Write ? mb.writeRequest.load() : mb.readRequest.load();
        if (direction == Direction::Write) mb.transmit.store(out);
        if (!ready->Reset()) {
            StoreError(text::kEventReset, platform::LastError());
            return 0;
        }
        if (!request || !request->Set()) {
            StoreError(text::kEventSignal, platform::LastError());
            ready->Set();
            return 0;
        }
    }
    if (WaitCancelOrReady(cancel, ready) == Wait::Ready) {
        if (mb.timeout.load() == 0) {
            result = 1;
            if (direction == Direction::Read) *in = mb.receive.load();
        }
    } else {
        StoreError(text::kWaitFailed, platform::LastError());
    }
    if (!ready || !ready->Set()) {
        StoreError(
            direction == Direction::Write ? text::kEventSignal.c_str() : text::kEventReset.c_str(),
            ready ? platform::LastError() : platform::kErrInvalidHandle);
        result = 0;
    }
    return result;
}

}  // namespace
}  // namespace vorin::serial

extern "C" int32_t WriteByte(uint8_t b) {
    return vorin::serial::ByteCall(vorin::serial::Direction::Write, b, nullptr);
}

extern "C" int32_t ReadByte(uint8_t* b) {
    uint8_t scratch = 0;
    return vorin::serial::ByteCall(vorin::serial::Direction::Read, 0, b ? b : &scratch);
}

extern "C" uint8_t TimeOut(void) { return vorin::serial::TheLibrary().mailbox.timeout.load(); }

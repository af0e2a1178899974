// Library-wide state of the serial port library: one current port object,
// the settings that the next port object takes, and the byte mailbox shared
// by the calling thread and the transfer worker.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/event.h"
#include "platform/thread.h"

namespace vorin::serial {

class TComm;

// The byte mailbox. The slots and flags are atomics: the ready event admits
// one request at a time, and the atomics make the hand-over of the bytes
// themselves well-defined between the threads.
struct Mailbox {
    std::atomic<platform::Event*> ready{nullptr};
    std::atomic<platform::Event*> writeRequest{nullptr};
    std::atomic<platform::Event*> readRequest{nullptr};
    std::atomic<platform::Event*> cancel{nullptr};
    std::atomic<uint8_t> transmit{0};
    std::atomic<uint8_t> receive{0};
    std::atomic<uint8_t> timeout{0};
    std::atomic<uint8_t> writeWait{0};
    std::atomic<uint8_t> readWait{0};
};

struct Library {
    // Serialises the functions that open, close and reconfigure the port, so
    // that a close from a second thread is well-defined. The byte calls do
    // not take it: a close must be able to end a byte call that waits.
    std::recursive_mutex control;
    bool opened = false;  // set by the first InitializePort, never cleared
    std::atomic<uint8_t> paritySelector{2};
    std::atomic<uint8_t> ctsFlow{1};
    std::optional<platform::PriorityClass> savedPriority;

    Mailbox mailbox;
    // Owners of the mailbox events; the mailbox holds plain pointers to them.
    std::unique_ptr<platform::Event> readyOwner, writeRequestOwner, readRequestOwner, cancelOwner;

    std::unique_ptr<TComm> port;
};

Library& TheLibrary();

// Process priority around an open port (the events worker raises it, Close
// restores it).
void RaiseProcessPriority();
void RestoreProcessPriority();

}  // namespace vorin::serial

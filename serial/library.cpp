#include "serial/library.h"

#include "platform/errors.h"
#include "platform/thread.h"
#include "serial/handover.h"
#include "serial/last_error.h"
#include "serial/message_pump.h"
#include "serial/tcomm.h"

namespace vorin::serial {

namespace {

// Everything library-wide in one object, so that its parts are made together
// and go together in a fixed order. A port still open when the process ends
// (or the library is unloaded) is closed first, while every part it uses is
// alive. Where the system allows no wait for a thread at that moment (inside
// a Windows DLL's unload) the port is closed without waiting for its workers.
struct State {
    ErrorStore errors;
    HandOver handOver;
    Library library;

    ~State() {
        // The message-pump thread runs this library's code: it ends before
        // the library goes (a dlclose with it running would pull its code
        // away). On Windows it holds a reference on the DLL instead, and at
        // process exit the system has ended it already.
        if (platform::ThreadsCanBeAwaited()) ZamkniecieWatku();
        TComm* port = library.port.get();
        if (!port || !port->IsOpen()) return;
        if (platform::ThreadsCanBeAwaited()) {
            std::lock_guard lock(library.control);
            port->Close();
            library.port.reset();
        } else {
            // A thread the system ended may have held the lock: take it only
            // if it is free, and nothing here waits.
            const bool locked = library.control.try_lock();
            port->CloseWithoutWaiting();
            if (locked) library.control.unlock();
        }
    }
};

State& TheState() {
    static State state;
    return state;
}

}  // namespace

Library& TheLibrary() { return TheState().library; }
ErrorStore& TheErrorStore() { return TheState().errors; }
HandOver& TheHandOver() { return TheState().handOver; }

void RaiseProcessPriority() {
    using platform::PriorityClass;
    Library& lib = TheLibrary();
    PriorityClass current;
    if (!platform::GetProcessPriorityClass(current)) {
        StoreErrorCode(platform::LastError());
        return;
    }
    lib.savedPriority = current;
    if (current == PriorityClass::Idle || current == PriorityClass::Normal)
        platform::SetProcessPriorityClass(PriorityClass::High);  // best effort
}

void RestoreProcessPriority() {
    Library& lib = TheLibrary();
    platform::PriorityClass current;
    if (!platform::GetProcessPriorityClass(current)) {
        StoreErrorCode(platform::LastError());
        return;
    }
    if (lib.savedPriority && current != *lib.savedPriority)
        platform::SetProcessPriorityClass(*lib.savedPriority);
}

}  // namespace vorin::serial

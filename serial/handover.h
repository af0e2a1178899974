// Hand-over of calls from the events worker to the thread that opened the
// port. The worker posts a call and blocks until that thread has run it; the
// opening thread runs pending calls whenever it waits inside the library (the
// byte calls, the close) and whenever it calls ServeHandOvers itself.
#pragma once
#include <functional>
#include <memory>
#include <mutex>

#include "platform/event.h"

namespace vorin::serial {

class HandOver {
public:
    HandOver();
    // Signalled while a call waits to be run: lets a waiting thread include
    // the hand-over in its WaitAny set.
    platform::Event* Pending() const { return pending_.get(); }

    // Worker side: runs `call` on the serving thread and returns when it has
    // run, or withdraws it and returns false when `stop` is signalled first.
    bool Post(std::function<void()> call, platform::Event& stop);

    // Serving side: runs the waiting call, if any. Returns true when it ran one.
    bool Serve();

private:
    std::mutex mutex_;
    std::function<void()> call_;
    bool posted_ = false;
    std::unique_ptr<platform::Event> pending_;
    std::unique_ptr<platform::Event> done_;
};

// The one hand-over; it lives with the rest of the library-wide state
// (library.cpp).
HandOver& TheHandOver();

// Runs the events worker's pending hand-over on the calling thread. A host
// that opened the port and then waits elsewhere for a long time (not in the
// byte calls) should call it now and then, so line errors get cleared.
bool ServeHandOvers();

}  // namespace vorin::serial

#include "serial/handover.h"

#include <vorin/serial.h>

namespace vorin::serial {

HandOver::HandOver()
    : pending_(platform::Event::Create(false, platform::EventUse::Threads)),
      done_(platform::Event::Create(false, platform::EventUse::Threads)) {}

bool HandOver::Post(std::function<void()> call, platform::Event& stop) {
    {
        std::lock_guard lock(mutex_);
        if (!pending_ || !done_) return false;
        call_ = std::move(call);
        posted_ = true;
        done_->Reset();
        pending_->Set();
    }
    platform::Event* waits[] = {done_.get(), &stop};
    int which = platform::WaitAny(waits, 2, platform::kInfinite);
    if (which == 0) return true;
    {
        std::lock_guard lock(mutex_);
        if (posted_) {  // nobody took it: withdraw
            posted_ = false;
            call_ = nullptr;
            pending_->Reset();
            return false;
        }
    }
    // Taken by the serving thread, which is running it right now.
    platform::Event* done[] = {done_.get()};
    platform::WaitAny(done, 1, platform::kInfinite);
    return true;
}

bool HandOver::Serve() {
    std::function<void()> call;
    {
        std::lock_guard lock(mutex_);
        if (!posted_) return false;
        posted_ = false;
        call = std::move(call_);
        call_ = nullptr;
        pending_->Reset();
    }
    if (call) call();
    done_->Set();
    return true;
}

bool ServeHandOvers() { return TheHandOver().Serve(); }

}  // namespace vorin::serial

extern "C" uint8_t vorin_serve_handovers(void) { return vorin::serial::ServeHandOvers() ? 1 : 0; }

// A participant's own queue of bus messages, shared by both systems' buses:
// a drain thread moves messages from the system's queue (a socket, a window's
// thread queue) into it at once, so the system's queue never fills, and the
// owner takes them from here. When this queue is full the oldest message that
// the participant does not keep gives way; kept ones never do.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/message_bus.h"

namespace vorin::platform {

class BusQueue {
public:
    BusQueue(BusKeep keep, std::size_t limit) : keep_(keep), limit_(limit) {}

    // Runs `next` under the queue's lock until it returns false, queueing
    // each message it gives: a Take that drains the system's queue itself
    // keeps the order with the drain thread's messages.
    template <class Next>
    void Fill(Next&& next) {
        std::lock_guard<std::mutex> lock(lock_);
        bool any = false;
        BusMessage m;
        while (next(&m)) {
            PushLocked(m);
            any = true;
        }
        if (any) {
            ++arrivals_;
            changed_.notify_all();
        }
    }

    // What the system's queue holds is newer than anything queued here, so
    // it is looked at (`refill`) only when nothing here matches.
    template <class Refill>
    bool Take(uint32_t number, BusMessage* out, Refill&& refill) {
        if (TakeQueued(number, out)) return true;
        refill();
        return TakeQueued(number, out);
    }

    bool Wait(uint32_t timeoutMs) {
        std::unique_lock<std::mutex> lock(lock_);
        auto ready = [this] { return woken_ || arrivals_ != seen_ || closed_; };
        bool got;
        if (timeoutMs == 0xFFFFFFFFu)
            changed_.wait(lock, ready), got = true;
        else
            got = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        if (!got || closed_) return false;
        seen_ = arrivals_;
        woken_ = false;
        return true;
    }

    void Wake() {
        std::lock_guard<std::mutex> lock(lock_);
        woken_ = true;
        changed_.notify_all();
    }

    // The system's queue is gone (the drain thread failed): waits end.
    void Close() {
        std::lock_guard<std::mutex> lock(lock_);
        closed_ = true;
        changed_.notify_all();
    }

    uint64_t Dropped() const {
        std::lock_guard<std::mutex> lock(lock_);
        return dropped_;
    }

private:
    bool TakeQueued(uint32_t number, BusMessage* out) {
        std::lock_guard<std::mutex> lock(lock_);
        seen_ = arrivals_;
        for (auto it = queue_.begin(); it != queue_.end(); ++it) {
            if (it->number != number) continue;
            if (out != nullptr) *out = *it;
            queue_.erase(it);
            return true;
        }
        return false;
    }

    void PushLocked(const BusMessage& m) {
        const bool keepNew = keep_ != nullptr && keep_(m);
        if (queue_.size() >= limit_) {
            auto victim = queue_.begin();
            while (victim != queue_.end() && keep_ != nullptr && keep_(*victim)) ++victim;
            if (victim != queue_.end()) {
                queue_.erase(victim);
                ++dropped_;
            } else if (!keepNew) {
                ++dropped_;  // the queue holds only kept messages
                return;
            }
        }
        queue_.push_back(m);
    }

    const BusKeep keep_;
    const std::size_t limit_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<BusMessage> queue_;
    uint64_t arrivals_ = 0;
    uint64_t seen_ = 0;
    uint64_t dropped_ = 0;
    bool woken_ = false;
    bool closed_ = false;
};

}  // namespace vorin::platform

// The network serial device: a TCP connection that behaves like the local
// device behind the SerialDevice interface.
//
// Nothing reads the connection in the background. Whoever needs what the
// server sent (a read, the events worker, a modem-line query, a command
// awaiting its answer) pumps the socket under the lock: serial data goes to
// the receive queue, the server's reports to the Telnet receiver. Each kind of
// waiter has an event of its own that the pump sets, since the data a waiter
// waits for may have been pumped by another thread. No thread waits while it
// holds a lock, and output that could not go at once waits in `pendingOut_`,
// sent first by the next sender, so a Telnet sequence is never split by
// another.
//
// A connection that is gone (closed by the other end, reset, failed) is final
// for this device: every later call fails at once with kErrNetnameDeleted; a
// new open connects again.
#include "platform/net_port.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/net_socket.h"
#include "platform/telnet_rfc2217.h"

namespace vorin::platform {

namespace {

using Clock = std::chrono::steady_clock;
namespace tn = telnet;

// What the receive queue holds at most; beyond it the socket is left to TCP's
// own flow control until a reader takes bytes.
constexpr std::size_t kRxLimit = 64 * 1024;

class WaitFlag {
public:
    explicit WaitFlag(std::atomic<uint8_t>* flag) : flag_(flag) {
        if (flag_) flag_->store(1);
    }
    ~WaitFlag() {
        if (flag_) flag_->store(0);
    }
    WaitFlag(const WaitFlag&) = delete;
    WaitFlag& operator=(const WaitFlag&) = delete;

private:
    std::atomic<uint8_t>* flag_;
};

uint32_t MsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
}

int32_t Fail(int32_t code) {
    SetLastError(code);
    return code;
}

class NetworkSerialDevice final : public SerialDevice {
public:
    NetworkSerialDevice(std::unique_ptr<NetSocket> socket, bool rfc2217)
        : socket_(std::move(socket)), rfc2217_(rfc2217) {
        for (auto* e :
             {&abortTx_, &abortRx_, &goneEvent_, &dataEvent_, &modemEvent_, &answerEvent_})
            *e = Event::Create(false);
        settings_.baudRate = 9600;
    }

    bool Ok() const {
        return abortTx_ && abortRx_ && goneEvent_ && dataEvent_ && modemEvent_ && answerEvent_;
    }

    // The Telnet start: the server must take the COM-PORT-OPTION, then it is
    // asked to report every modem line and line error.
    int32_t Negotiate() {
        Send(tn::ClientHello());
        const auto deadline = Clock::now() + std::chrono::milliseconds(kConnectMs);
        if (!AwaitReport(deadline, [this] {
                return receiver_.ComPortAccepted() || receiver_.ComPortRefused();
            }))
            return Fail(gone_.load() ? kErrNetnameDeleted : kErrNotSupported);
        if (!receiver_.ComPortAccepted()) return Fail(kErrNotSupported);
        std::vector<uint8_t> out;
        tn::AppendComPortCommand(out, tn::kSetLineStateMask, 0x1E);
        tn::AppendComPortCommand(out, tn::kSetModemStateMask, 0xFF);
        const uint32_t before = AnswerCount(tn::kSetModemStateMask);
        uint32_t notified = 0;
        {
            std::lock_guard lock(mutex_);
            notified = receiver_.ModemNotifications();
        }
        Send(out);
        // Some servers (ser2net) answer the mask with the modem state itself.
        AwaitReport(Clock::now() + std::chrono::milliseconds(kAnswerMs), [&] {
            return receiver_.AnswerTo(tn::kSetModemStateMask).count != before ||
                   receiver_.ModemNotifications() != notified;
        });
        return kErrSuccess;
    }

    bool IsCharacterDevice() override { return true; }

    int32_t GetLineSettings(LineSettings& out) override {
        std::lock_guard lock(mutex_);
        out = settings_;
        return kErrSuccess;
    }

    int32_t SetLineSettings(const LineSettings& s) override {
        if (s.baudRate == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity > 4 || s.stopBits > 2)
            return Fail(kErrInvalidParameter);
        if (gone_.load()) return Fail(kErrNetnameDeleted);
        if (rfc2217_) {
            static constexpr uint8_t kStop[] = {1, 3, 2};  // one, one and a half, two
            const uint8_t flow = s.outxCtsFlow       ? tn::kControlHardware
                                 : (s.outX || s.inX) ? tn::kControlXonXoff
                                                     : tn::kControlNoFlow;
            std::vector<uint8_t> out;
            tn::AppendBaudRate(out, s.baudRate);
            tn::AppendComPortCommand(out, tn::kSetDataSize, s.byteSize);
            tn::AppendComPortCommand(out, tn::kSetParity, static_cast<uint8_t>(s.parity + 1));
            tn::AppendComPortCommand(out, tn::kSetStopSize, kStop[s.stopBits]);
            tn::AppendComPortCommand(out, tn::kSetControl, flow);
            const uint8_t asked[] = {tn::kSetBaudRate, tn::kSetDataSize, tn::kSetParity,
                                     tn::kSetStopSize};
            uint32_t before[4];
            for (int i = 0; i < 4; ++i) before[i] = AnswerCount(asked[i]);
            Send(out);
            const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerMs);
            if (!AwaitReport(deadline, [&] {
                    for (int i = 0; i < 4; ++i)
                        if (receiver_.AnswerTo(asked[i]).count == before[i]) return false;
                    return true;
                }))
                return Fail(gone_.load() ? kErrNetnameDeleted : kErrTimeout);
            {
                // The server reports the speed it set: one it could not set
                // is a refused request, as a local port refuses it.
                std::lock_guard lock(mutex_);
                if (receiver_.AnswerTo(tn::kSetBaudRate).value != s.baudRate)
                    return Fail(kErrInvalidParameter);
            }
            // As the local device does: lines the port object leaves alone are
            // cleared; no answer awaited (a port without them gives none).
            out.clear();
            if (s.dtrControl == 0)
                tn::AppendComPortCommand(out, tn::kSetControl, tn::kControlDtrOff);
            if (s.rtsControl == 0 && !s.outxCtsFlow)
                tn::AppendComPortCommand(out, tn::kSetControl, tn::kControlRtsOff);
            Send(out);
        }
        std::lock_guard lock(mutex_);
        settings_ = s;
        return Fail(kErrSuccess);
    }

    int32_t SetBufferSizes(uint32_t, uint32_t) override { return kErrSuccess; }

    int32_t GetTimeouts(CommTimeouts& out) override {
        std::lock_guard lock(mutex_);
        out = timeouts_;
        return kErrSuccess;
    }
    int32_t SetTimeouts(const CommTimeouts& t) override {
        std::lock_guard lock(mutex_);
        timeouts_ = t;
        return kErrSuccess;
    }

    int32_t Purge(uint32_t flags) override {
        if (flags & kPurgeTxAbort) {
            txAbortGen_.fetch_add(1);
            abortTx_->Set();
        }
        if (flags & kPurgeRxAbort) {
            rxAbortGen_.fetch_add(1);
            abortRx_->Set();
        }
        const bool rx = flags & kPurgeRxClear, tx = flags & kPurgeTxClear;
        if (!(rx || tx) || gone_.load()) return kErrSuccess;
        if (rfc2217_) {
            const uint8_t what = rx && tx ? tn::kPurgeBoth
                                 : rx     ? tn::kPurgeReceive
                                          : tn::kPurgeTransmit;
            std::vector<uint8_t> out;
            tn::AppendComPortCommand(out, tn::kPurgeData, what);
            const uint32_t mine = purgesSent_.fetch_add(1) + 1;
            Send(out);
            // The answer comes in band: data that came before it was received
            // before the server purged, so it goes too. Only a receive purge
            // needs that; a transmit purge is not waited for (a round trip
            // per ClearPort otherwise), so answers are counted up to this one.
            if (rx) {
                const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerMs);
                AwaitReport(deadline,
                            [&] { return receiver_.AnswerTo(tn::kPurgeData).count >= mine; });
            }
        }
        if (rx) {
            std::lock_guard lock(mutex_);
            Pump();
            rx_.clear();
        }
        return kErrSuccess;
    }

    int32_t SetCommMask(uint32_t mask) override {
        commMask_.store(mask);
        return kErrSuccess;
    }

    int32_t Escape(LineControl what) override {
        if (!rfc2217_) return Fail(kErrNotSupported);
        if (gone_.load()) return Fail(kErrNetnameDeleted);
        uint8_t value = 0;
        switch (what) {
        case LineControl::SetDtr: value = tn::kControlDtrOn; break;
        case LineControl::ClearDtr: value = tn::kControlDtrOff; break;
        case LineControl::SetRts: value = tn::kControlRtsOn; break;
        case LineControl::ClearRts: value = tn::kControlRtsOff; break;
        case LineControl::SetBreak: value = tn::kControlBreakOn; break;
        case LineControl::ClearBreak: value = tn::kControlBreakOff; break;
        }
        std::vector<uint8_t> out;
        tn::AppendComPortCommand(out, tn::kSetControl, value);
        const uint32_t before = AnswerCount(tn::kSetControl);
        Send(out);
        // A server whose port has no such line leaves the request unanswered:
        // the same failure as a local port without modem lines.
        if (!AwaitAnswer(tn::kSetControl, before))
            return Fail(gone_.load() ? kErrNetnameDeleted : kErrNotSupported);
        return Fail(kErrSuccess);
    }

    int32_t GetModemStatus(uint32_t& ms) override {
        ms = 0;
        if (!rfc2217_) return Fail(kErrNotSupported);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerMs);
        if (!AwaitReport(deadline, [this] { return receiver_.ModemNotifications() > 0; }))
            return Fail(gone_.load() ? kErrNetnameDeleted : kErrNotSupported);
        std::lock_guard lock(mutex_);
        ms = receiver_.ModemState() & (kMsCts | kMsDsr | kMsRing | kMsRlsd);
        return Fail(kErrSuccess);
    }

    int32_t ClearErrors(uint32_t& ce) override {
        std::lock_guard lock(mutex_);
        Pump();
        TakeLineErrors();
        ce = pendingErrors_;
        pendingErrors_ = 0;
        return kErrSuccess;
    }

    bool TransmitEmpty() override {
        std::lock_guard lock(sendMutex_);
        return pendingOut_.empty();
    }

    TransferResult Write(const uint8_t* data, uint32_t count, Event* cancel,
                         std::atomic<uint8_t>* waiting) override {
        {
            // A connection the other end closed still takes a send or two
            // before it fails: look for the close first.
            std::lock_guard lock(mutex_);
            Pump();
        }
        if (gone_.load()) return {TransferOutcome::Failed, 0, Fail(kErrNetnameDeleted)};
        CommTimeouts t;
        GetTimeouts(t);
        const uint64_t limit = uint64_t(t.writeTotalMultiplier) * count + t.writeTotalConstant;
        const bool infinite = limit == 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(limit);
        const uint64_t gen = txAbortGen_.load();
        abortTx_->Reset();

        // The bytes as they go, and where each data byte's bytes end.
        std::vector<uint8_t> wire;
        std::vector<std::size_t> ends;
        wire.reserve(count);
        ends.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            wire.push_back(data[i]);
            if (rfc2217_ && data[i] == tn::kIac) wire.push_back(tn::kIac);
            ends.push_back(wire.size());
        }
        std::size_t sent = 0;
        uint32_t done = 0;
        std::unique_ptr<WaitFlag> flag;
        for (bool first = true;; first = false) {
            {
                std::lock_guard lock(sendMutex_);
                if (FlushLocked() && pendingOut_.empty() && sent < wire.size()) {
                    const int64_t n = socket_->Send(wire.data() + sent, wire.size() - sent);
                    if (n < 0)
                        Gone();
                    else
                        sent += static_cast<std::size_t>(n);
                    // Half of a doubled 255 went: the other half goes before
                    // anything else, and the byte counts as sent.
                    const auto end = std::lower_bound(ends.begin(), ends.end(), sent);
                    if (end != ends.end() && *end != sent && n > 0) {
                        pendingOut_.insert(pendingOut_.end(), wire.begin() + sent,
                                           wire.begin() + *end);
                        sent = *end;
                    }
                }
            }
            done = static_cast<uint32_t>(std::upper_bound(ends.begin(), ends.end(), sent) -
                                         ends.begin());
            if (done == count)
                return {first ? TransferOutcome::CompletedAtOnce : TransferOutcome::Completed, done,
                        0};
            if (gone_.load()) return LineGone(first, done);
            if (!flag) flag = std::make_unique<WaitFlag>(waiting);
            Event* events[3] = {abortTx_.get(), goneEvent_.get(), cancel};
            const int which = socket_->Wait(false, true, events, cancel ? 3 : 2,
                                            infinite ? kInfinite : MsUntil(deadline));
            if (txAbortGen_.load() != gen)
                return {TransferOutcome::CompletionFailed, done, kErrOperationAborted};
            if (which == 0) abortTx_->Reset();  // an abort meant for an earlier write
            if (which == 2) return {TransferOutcome::Cancelled, done, kErrOperationAborted};
            if (which == kWaitTimeout) return {TransferOutcome::Completed, done, 0};
            if (which == kWaitFailed) return {TransferOutcome::WaitFailed, done, LastError()};
        }
    }

    TransferResult Read(uint8_t* data, uint32_t count, Event* cancel,
                        std::atomic<uint8_t>* waiting) override {
        CommTimeouts t;
        GetTimeouts(t);
        const uint64_t gen = rxAbortGen_.load();
        abortRx_->Reset();
        uint32_t done = TakeData(data, count);
        const bool returnAtOnce =
            t.readInterval == kMaxDword && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
        if (done == count || returnAtOnce) return {TransferOutcome::CompletedAtOnce, done, 0};
        if (gone_.load()) return LineGone(true, done);

        const uint64_t limit = uint64_t(t.readTotalMultiplier) * count + t.readTotalConstant;
        const bool infinite = t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(limit);
        WaitFlag flag(waiting);
        for (;;) {
            Event* events[4] = {abortRx_.get(), goneEvent_.get(), dataEvent_.get(), cancel};
            const int which = socket_->Wait(true, false, events, cancel ? 4 : 3,
                                            infinite ? kInfinite : MsUntil(deadline));
            if (rxAbortGen_.load() != gen)
                return {TransferOutcome::CompletionFailed, done, kErrOperationAborted};
            if (which == 0) abortRx_->Reset();
            if (which == 3) return {TransferOutcome::Cancelled, done, kErrOperationAborted};
            if (which == kWaitFailed) return {TransferOutcome::WaitFailed, done, LastError()};
            done += TakeData(data + done, count - done);
            if (done == count) return {TransferOutcome::Completed, done, 0};
            if (gone_.load()) return LineGone(false, done);
            if (which == kWaitTimeout) return {TransferOutcome::Completed, done, 0};
        }
    }

    CommEventResult WaitCommEvent(Event& stop) override {
        for (;;) {
            uint32_t fired = 0;
            bool full = false;
            {
                std::lock_guard lock(mutex_);
                modemEvent_->Reset();
                Pump();
                fired = ModemEvents() | TakeLineErrors();
                full = rx_.size() >= kRxLimit;
            }
            fired &= commMask_.load();
            if (fired) return {CommEventOutcome::Fired, fired, 0};
            if (gone_.load()) return {CommEventOutcome::Failed, 0, Fail(kErrNetnameDeleted)};
            Event* events[3] = {&stop, goneEvent_.get(), modemEvent_.get()};
            // A raw connection has no reports: only the stop or the end come.
            const bool watch = rfc2217_ && !full;
            const int which = socket_->Wait(watch, false, events, rfc2217_ ? 3 : 2,
                                            rfc2217_ && full ? 50 : kInfinite);
            if (which == 0) return {CommEventOutcome::Stopped, 0, 0};
            if (which == kWaitFailed) return {CommEventOutcome::Failed, 0, LastError()};
        }
    }

private:
    TransferResult LineGone(bool first, uint32_t done) {
        return {first ? TransferOutcome::Failed : TransferOutcome::CompletionFailed, done,
                Fail(kErrNetnameDeleted)};
    }

    void Gone() {
        gone_.store(true);
        goneEvent_->Set();
    }

    // Takes what the server sent so far. Called with mutex_ held.
    void Pump() {
        if (gone_.load()) return;
        uint8_t buffer[4096];
        std::vector<uint8_t> data, reply;
        const std::size_t before = rx_.size();
        const uint32_t reports = receiver_.Reports();
        while (rx_.size() < kRxLimit) {
            const int64_t n = socket_->Receive(buffer, sizeof buffer);
            if (n == 0) break;
            if (n < 0) {
                Gone();
                break;
            }
            if (rfc2217_) {
                data.clear();
                receiver_.Feed(buffer, static_cast<std::size_t>(n), data, reply);
                rx_.insert(rx_.end(), data.begin(), data.end());
            } else {
                rx_.insert(rx_.end(), buffer, buffer + n);
            }
        }
        if (!reply.empty()) Send(reply);
        if (rx_.size() > before) dataEvent_->Set();
        if (receiver_.Reports() != reports) {
            modemEvent_->Set();
            answerEvent_->Set();
        }
    }

    uint32_t TakeData(uint8_t* data, uint32_t count) {
        std::lock_guard lock(mutex_);
        dataEvent_->Reset();
        Pump();
        const uint32_t n = static_cast<uint32_t>(std::min<std::size_t>(count, rx_.size()));
        std::copy_n(rx_.begin(), n, data);
        rx_.erase(rx_.begin(), rx_.begin() + n);
        return n;
    }

    // Modem-line changes since the last look, as EV_ bits. mutex_ held.
    uint32_t ModemEvents() {
        if (receiver_.ModemNotifications() == seenModem_) return 0;
        seenModem_ = receiver_.ModemNotifications();
        const uint8_t state = receiver_.ModemState();
        // The delta bits catch a pulse that came and went between two looks.
        const uint8_t changed = static_cast<uint8_t>(((state ^ lastModem_) >> 4) | state);
        lastModem_ = state;
        uint32_t ev = 0;
        if (changed & 0x01) ev |= kEvCts;
        if (changed & 0x02) ev |= kEvDsr;
        if (changed & 0x04) ev |= kEvRing;
        if (changed & 0x08) ev |= kEvRlsd;
        return ev;
    }

    // Line errors the server reported, into pendingErrors_; EV_ bits. mutex_ held.
    uint32_t TakeLineErrors() {
        const uint8_t bits = receiver_.TakeLineState();
        uint32_t ce = 0;
        if (bits & 0x02) ce |= kCeOverrun;
        if (bits & 0x04) ce |= kCeRxParity;
        if (bits & 0x08) ce |= kCeFrame;
        if (bits & 0x10) ce |= kCeBreak;
        pendingErrors_ |= ce;
        uint32_t ev = 0;
        if (ce & ~kCeBreak) ev |= kEvErr;
        if (ce & kCeBreak) ev |= kEvBreak;
        return ev;
    }

    // Queues `bytes` behind what waits and sends what can go now.
    void Send(const std::vector<uint8_t>& bytes) {
        std::lock_guard lock(sendMutex_);
        pendingOut_.insert(pendingOut_.end(), bytes.begin(), bytes.end());
        FlushLocked();
    }

    // False when the connection is gone. sendMutex_ held.
    bool FlushLocked() {
        while (!pendingOut_.empty() && !gone_.load()) {
            const int64_t n = socket_->Send(pendingOut_.data(), pendingOut_.size());
            if (n < 0) Gone();
            if (n <= 0) break;
            pendingOut_.erase(pendingOut_.begin(), pendingOut_.begin() + n);
        }
        return !gone_.load();
    }

    uint32_t AnswerCount(uint8_t command) {
        std::lock_guard lock(mutex_);
        return receiver_.AnswerTo(command).count;
    }

    bool AwaitAnswer(uint8_t command, uint32_t before) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerMs);
        return AwaitReport(deadline, [&] { return receiver_.AnswerTo(command).count != before; });
    }

    // Pumps until `done` (called with mutex_ held) or the deadline.
    template <class Done>
    bool AwaitReport(Clock::time_point deadline, Done done) {
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                answerEvent_->Reset();
                Pump();
                if (done()) return true;
            }
            {
                std::lock_guard lock(sendMutex_);
                FlushLocked();
            }
            if (gone_.load() || Clock::now() >= deadline) return false;
            Event* events[2] = {goneEvent_.get(), answerEvent_.get()};
            // Short waits: another thread may take the socket's news first.
            socket_->Wait(true, !TransmitEmpty(), events, 2,
                          std::min<uint32_t>(MsUntil(deadline), 20));
        }
    }

    const std::unique_ptr<NetSocket> socket_;
    const bool rfc2217_;
    std::unique_ptr<Event> abortTx_, abortRx_, goneEvent_, dataEvent_, modemEvent_, answerEvent_;
    std::atomic<uint64_t> txAbortGen_{0};
    std::atomic<uint64_t> rxAbortGen_{0};
    std::atomic<uint32_t> commMask_{0};
    std::atomic<bool> gone_{false};
    std::atomic<uint32_t> purgesSent_{0};

    std::mutex mutex_;  // what came from the server, the settings and timeouts
    tn::Receiver receiver_;
    std::deque<uint8_t> rx_;
    LineSettings settings_;
    CommTimeouts timeouts_;
    uint32_t seenModem_ = 0;
    uint8_t lastModem_ = 0;
    uint32_t pendingErrors_ = 0;

    std::mutex sendMutex_;  // taken after mutex_, never before
    std::vector<uint8_t> pendingOut_;
};

}  // namespace

bool LooksLikeNetworkPortUrl(const std::string& text) {
    return text.find("://") != std::string::npos;
}

std::optional<NetworkPortUrl> ParseNetworkPortUrl(const std::string& text) {
    NetworkPortUrl url;
    std::string rest;
    if (text.rfind("rfc2217://", 0) == 0) {
        rest = text.substr(10);
    } else if (text.rfind("tcp://", 0) == 0) {
        url.rfc2217 = false;
        rest = text.substr(6);
    } else {
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::size_t colon = std::string::npos;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return std::nullopt;
        url.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) return std::nullopt;
        url.host = rest.substr(0, colon);
        if (url.host.find(':') != std::string::npos) return std::nullopt;
    }
    const std::string digits = rest.substr(colon + 1);
    if (url.host.empty() || digits.empty() || digits.size() > 5) return std::nullopt;
    unsigned long port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (port == 0 || port > 65535) return std::nullopt;
    url.port = static_cast<uint16_t>(port);
    return url;
}

std::optional<NetworkPortUrl> NetworkPortOf(uint8_t port) {
    const char* value = std::getenv(("VORIN_COM" + std::to_string(port)).c_str());
    if (value == nullptr) return std::nullopt;
    return ParseNetworkPortUrl(value);
}

std::unique_ptr<SerialDevice> OpenNetworkPort(const NetworkPortUrl& url, int32_t& error) {
    auto socket = NetSocket::Connect(url.host, url.port, kConnectMs, error);
    if (!socket) {
        SetLastError(error);
        return nullptr;
    }
    auto device = std::make_unique<NetworkSerialDevice>(std::move(socket), url.rfc2217);
    if (!device->Ok()) {
        error = Fail(kErrNotEnoughMemory);
        return nullptr;
    }
    error = url.rfc2217 ? device->Negotiate() : kErrSuccess;
    if (error != kErrSuccess) return nullptr;
    SetLastError(kErrSuccess);
    return device;
}

bool NetworkPortPresent(const NetworkPortUrl& url) {
    int32_t error = 0;
    return NetSocket::Connect(url.host, url.port, kConnectMs, error) != nullptr;
}

bool ComNumberForNetworkUrl(const std::string& url, int* number, std::string* error) {
    if (!ParseNetworkPortUrl(url)) {
        if (error) *error = "give a network port as rfc2217://HOST:PORT or tcp://HOST:PORT";
        return false;
    }
    for (int n = 1; n <= 255; ++n) {
        const char* value = std::getenv(("VORIN_COM" + std::to_string(n)).c_str());
        if (value != nullptr && url == value) {
            *number = n;
            return true;
        }
    }
    for (int n = 255; n >= 1; --n) {
        const std::string name = "VORIN_COM" + std::to_string(n);
        if (std::getenv(name.c_str()) != nullptr) continue;
        if (!SetEnvironmentValue(name, url)) {
            if (error) *error = name + ": cannot be set";
            return false;
        }
        *number = n;
        return true;
    }
    if (error) *error = "no free COM number left for " + url;
    return false;
}

void AddNetworkPorts(std::vector<SerialPortInfo>& ports) {
    for (int n = 1; n <= 255; ++n) {
        const std::string name = "VORIN_COM" + std::to_string(n);
        const char* value = std::getenv(name.c_str());
        if (value == nullptr || !LooksLikeNetworkPortUrl(value)) continue;
        const auto url = ParseNetworkPortUrl(value);
        ports.erase(std::remove_if(ports.begin(), ports.end(),
                                   [n](const SerialPortInfo& p) { return p.comNumber == n; }),
                    ports.end());
        SerialPortInfo port;
        port.comNumber = n;
        port.device = value;
        port.mappedBy = name;
        port.present = url.has_value();
        if (url)
            port.description = url->rfc2217 ? "network port (RFC 2217)"
                                            : "network port (raw TCP, no line control)";
        ports.push_back(port);
    }
}

}  // namespace vorin::platform

// The message-pump thread's run loop and its start and stop.
#include "serial/message_pump.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/message_bus.h"
#include "platform/serial_device.h"
#include "platform/thread.h"
#include "serial/library.h"
#include "vorin/serial.h"

namespace vorin::serial {
namespace {

namespace pf = vorin::platform;

std::atomic<uint32_t> gNumer{0};
std::atomic<uint32_t> gId{0};
std::atomic<uint64_t> gPrzebiegi{0};

class TWatekObslugiKomunikatow {
public:
    TWatekObslugiKomunikatow() {
        watek_ = pf::Thread::Start([this] { Wykonanie(); }, pf::ThreadPriority::Normal);
        // A command posted before the thread's queue exists would never reach
        // it: OpenThread returns once the queue is there (or could not be made).
        std::unique_lock<std::mutex> blokada(blokada_);
        if (watek_) gotowy_.wait_for(blokada, std::chrono::seconds(5), [this] { return gotowe_; });
    }
    // The terminate request, then a wake-up for a thread that waits for a
    // message while suspended, then the join.
    ~TWatekObslugiKomunikatow() {
        zakoncz_ = true;
        {
            std::lock_guard<std::mutex> blokada(blokada_);
            if (uczestnik_) uczestnik_->Wake();
        }
        if (watek_) watek_->Join();
    }
    bool Dziala() const { return watek_ != nullptr; }

private:
    static void Wyslij(char litera) {
        const uint32_t numer = gNumer.load();
        if (numer == 0) return;
        const uint32_t id = gId.load();
        pf::BusBroadcast(
            {numer, id != 0 ? id : pf::CurrentProcessId(), static_cast<uint8_t>(litera)});
    }

    // RozkazSerwera on this thread's own queue.
    char Rozkaz() {
        const uint32_t numer = gNumer.load();
        if (numer == 0 || !uczestnik_) return 0;
        const uint32_t id = gId.load() != 0 ? gId.load() : pf::CurrentProcessId();
        pf::BusMessage m;
        while (uczestnik_->Take(numer, &m)) {
            const char litera = static_cast<char>(m.lParam & 0xFF);
            if (m.wParam == id && litera >= 'a' && litera <= 'z') return litera;
        }
        return 0;
    }

    void Obsluz(char rozkaz) {
        switch (rozkaz) {
        case 'a': Wyslij('A'); break;
        case 'b': Wyslij('B'); break;
        case 'e': Wyslij('E'); break;
        case 'r':
            zawieszony_ = false;
            Wyslij('R');
            break;
        case 's':
            zawieszony_ = true;
            Wyslij('S');
            break;
        default: break;
        }
    }

    void Wykonanie() {
        {
            auto u = pf::BusParticipant::Open();
            std::lock_guard<std::mutex> blokada(blokada_);
            uczestnik_ = std::move(u);
            gotowe_ = true;
        }
        gotowy_.notify_all();
        const Mailbox& skrzynka = TheLibrary().mailbox;
        while (!zakoncz_.load()) {
            pf::SleepMs(1);
            gPrzebiegi.fetch_add(1, std::memory_order_relaxed);
            if (skrzynka.writeWait.load() != 0 || skrzynka.readWait.load() != 0) {
                std::fputs("odmierzam timeout\n", stdout);
                std::fflush(stdout);
                Wyslij('A');
            }
            for (;;) {
                Obsluz(Rozkaz());
                // The terminate request also ends a suspended thread, so
                // CloseThread never waits for a RESUME that may not come.
                if (!zawieszony_ || zakoncz_.load()) break;
                if (!uczestnik_ || !uczestnik_->Wait(0xFFFFFFFFu)) pf::SleepMs(1);
            }
        }
        std::lock_guard<std::mutex> blokada(blokada_);
        uczestnik_.reset();
    }

    std::atomic<bool> zakoncz_{false};
    bool zawieszony_ = false;  // the thread's own
    std::mutex blokada_;
    std::condition_variable gotowy_;
    bool gotowe_ = false;
    std::unique_ptr<pf::BusParticipant> uczestnik_;
    std::unique_ptr<pf::Thread> watek_;
};

std::mutex gSterowanie;
// Never destroyed at exit: joining a thread while the system unloads the
// library can deadlock (the Windows loader lock).
TWatekObslugiKomunikatow* gWatek = nullptr;

}  // namespace

void OtwarcieWatku() {
    // The library-wide state exists before the thread does: its teardown
    // (at unload or exit) is what ends the thread, and it runs only for
    // state that was made.
    TheLibrary();
    std::lock_guard<std::mutex> blokada(gSterowanie);
    if (gWatek != nullptr) return;
    auto* watek = new TWatekObslugiKomunikatow();
    if (!watek->Dziala()) {
        delete watek;
        return;
    }
    gWatek = watek;
}

void ZamkniecieWatku() {
    std::lock_guard<std::mutex> blokada(gSterowanie);
    try {
        delete gWatek;
    } catch (...) {}
    gWatek = nullptr;
}

void UstawKanalWatku(uint32_t numer, uint32_t idSterownika) {
    gNumer = numer;
    gId = idSterownika;
}

uint64_t PrzebiegiWatku() { return gPrzebiegi.load(); }

}  // namespace vorin::serial

extern "C" void vorin_serial_set_channel(uint32_t message_number, uint32_t driver_id) {
    vorin::serial::UstawKanalWatku(message_number, driver_id);
}

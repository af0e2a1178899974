#include "device/model_line.h"

#include <algorithm>
#include <stdexcept>

#include "link/link.h"
#include "link/port_ops.h"

namespace vorin::device::test {

namespace {

ModelLine* gLine = nullptr;
ModelLine& L() { return *gLine; }

constexpr uint8_t kDsr = 0x20;
constexpr uint8_t kDcd = 0x80;

const link::OperacjePortu kOps = {
    [](uint8_t) -> uint8_t { return 1; },
    [](uint8_t, uint32_t, uint16_t, uint16_t) -> int32_t { return 0; },
    []() -> int32_t { return 0; },
    [](uint8_t) {},
    [](uint8_t) -> uint8_t { return 1; },
    [](uint16_t) -> uint8_t { return 1; },
    [](uint8_t) -> uint8_t { return 1; },
    []() -> int32_t { return 1; },
    []() -> int32_t { return 1; },
    []() -> int32_t {
        L().SetRts(true);
        return 1;
    },
    []() -> int32_t {
        L().SetRts(false);
        return 1;
    },
    [](uint8_t b) -> int32_t { return L().Write(b); },
    [](uint8_t* b) -> int32_t { return L().Read(b); },
    []() -> int32_t {
        L().Clear();
        return 0;
    },
    []() -> uint8_t { return L().Modem(); },
    [](uint16_t ms) { L().Pause(ms); },
};

}  // namespace

ModelLine::ModelLine(const sim::PrinterProfile& profile)
    : printer_(sim::Faults{}, sim::Verbosity::kQuiet, nullptr) {
    if (gLine != nullptr) throw std::logic_error("one model line at a time");
    gLine = this;
    printer_.attach_device(profile);
    link::UstawieniaDomyslneLacza();
    link::UstawKanalSerwera(nullptr);
    link::UstawTransportMux(nullptr);
    link::UstawOperacjePortu(kOps);
    link::PortOtwarty = 1;
}

ModelLine::~ModelLine() {
    link::PrzywrocOperacjePortu();
    link::UstawieniaDomyslneLacza();
    gLine = nullptr;
}

std::size_t ModelLine::CountOf(uint8_t command) const {
    return static_cast<std::size_t>(std::count(commands_.begin(), commands_.end(), command));
}

void ModelLine::ClearRecord() {
    commands_.clear();
    written_.clear();
    pauses_.clear();
}

int32_t ModelLine::Write(uint8_t b) {
    written_.push_back(b);
    if (nextIsCommand_) commands_.push_back(b);
    if (commands_.size() > answered) return 1;
    nextIsCommand_ = printer_.idle() && b == sim::kEsc;
    std::vector<uint8_t> out;
    printer_.receive(b, clockMs_, out);
    pending_.insert(pending_.end(), out.begin(), out.end());
    return 1;
}

int32_t ModelLine::Read(uint8_t* b) {
    if (pending_.empty()) return 0;
    *b = pending_.front();
    pending_.pop_front();
    return 1;
}

uint8_t ModelLine::Modem() const {
    uint8_t s = 0;
    if (dsrFollowsRts && rts_) s |= kDsr;
    if (carrier) s |= kDcd;
    return s;
}

}  // namespace vorin::device::test

namespace vorin::device::test {

sim::PrinterProfile MakeProfile(uint8_t type, uint8_t version, uint8_t variant,
                                const std::string& identification) {
    sim::PrinterProfile p;
    p.number = "07";
    p.type = type;
    p.version = version;
    p.variant = variant;
    p.identification = identification;
    p.pluCount = 2000;
    return p;
}

}  // namespace vorin::device::test

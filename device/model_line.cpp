#include "device/model_line.h"

#include <algorithm>
#include <stdexcept>

#include "link/link.h"
#include "link/port_ops.h"
#include "tests/support/port_table.h"

namespace vorin::device::test {

namespace {

ModelLine* gLine = nullptr;
ModelLine& L() { return *gLine; }

constexpr uint8_t kDsr = 0x20;
constexpr uint8_t kDcd = 0x80;

const link::OperacjePortu kOps = [] {
    link::OperacjePortu ops = vorin::test::IdlePortTable();
    ops.SetRTSLine = []() -> int32_t {
        L().SetRts(true);
        return 1;
    };
    ops.ClearRTSLine = []() -> int32_t {
        L().SetRts(false);
        return 1;
    };
    ops.WriteByte = [](uint8_t b) -> int32_t { return L().Write(b); };
    ops.ReadByte = [](uint8_t* b) -> int32_t { return L().Read(b); };
    ops.ClearPort = []() -> int32_t {
        L().Clear();
        return 0;
    };
    ops.ModemStatus = []() -> uint8_t { return L().Modem(); };
    ops.Opoznienie = [](uint16_t ms) { L().Pause(ms); };
    return ops;
}();

}  // namespace

ModelLine::ModelLine(const sim::PrinterProfile& profile)
    : printer_(sim::Faults{}, sim::Verbosity::Quiet, nullptr) {
    if (gLine != nullptr) throw std::logic_error("one model line at a time");
    gLine = this;
    printer_.AttachDevice(profile);
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
    nextIsCommand_ = printer_.Idle() && b == sim::kEsc;
    std::vector<uint8_t> out;
    printer_.Receive(b, clockMs_, out);
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

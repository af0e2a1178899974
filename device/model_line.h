// For the device tests: the simulator's printer model (sim/, written apart
// from this folder) at the far end of the link's port operations. Every byte
// the link writes goes into the model; its answers are what the link reads.
// The model never waits, so a read with nothing to give is the read timeout.
// The line plays the modem lines too (a pseudo-terminal has none), so the
// status check's own logic can be shown; its pauses are recorded, not slept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/printer.h"

namespace vorin::device::test {

class ModelLine {
public:
    // Installs itself as the link's port, link state at defaults, port open.
    explicit ModelLine(const sim::PrinterProfile& profile);
    ~ModelLine();
    ModelLine(const ModelLine&) = delete;
    ModelLine& operator=(const ModelLine&) = delete;

    sim::DeviceModel& Device() { return *printer_.device(); }
    // Command bytes of the requests sent (the byte after each ESC that began one).
    const std::vector<uint8_t>& Commands() const { return commands_; }
    std::size_t CountOf(uint8_t command) const;
    // Every byte written, in order.
    const std::vector<uint8_t>& Written() const { return written_; }
    const std::vector<unsigned>& Pauses() const { return pauses_; }
    void ClearRecord();

    // Requests the printer answers; it hears none after them (a line gone dead).
    std::size_t answered = SIZE_MAX;
    bool dsrFollowsRts = true;
    bool carrier = true;

    // Called by the port table.
    int32_t Write(uint8_t b);
    int32_t Read(uint8_t* b);
    void Clear() { pending_.clear(); }
    uint8_t Modem() const;
    void SetRts(bool on) { rts_ = on; }
    void Pause(unsigned ms) { pauses_.push_back(ms); }

private:
    sim::Printer printer_;
    std::deque<uint8_t> pending_;
    std::vector<uint8_t> commands_;
    std::vector<uint8_t> written_;
    std::vector<unsigned> pauses_;
    bool nextIsCommand_ = false;
    bool rts_ = false;
    int64_t clockMs_ = 0;
};

}  // namespace vorin::device::test

namespace vorin::device::test {

// A ready printer of the given type with an identification of the length it sends.
sim::PrinterProfile MakeProfile(uint8_t type, uint8_t version, uint8_t variant,
                                const std::string& identification);

}  // namespace vorin::device::test

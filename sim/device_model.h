// The printer's answers to the device commands (number, type, identification,
// articles, keys, status, display), byte by byte as Printer feeds them. Its
// own table of commands and lengths, written from the printer's side.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/printer_profile.h"

namespace vorin::sim {

struct DeviceStats {
    uint64_t keys = 0;     // accepted key presses
    uint64_t badKeys = 0;  // a key code whose complement did not match
    uint64_t articlesRead = 0;
};

class DeviceModel {
public:
    explicit DeviceModel(PrinterProfile profile);

    // The command byte after ESC. false: not a command this printer knows
    // (the caller answers NAK). Otherwise the first answer bytes are appended
    // and Waiting() tells whether a body is expected.
    bool Command(uint8_t command, std::vector<uint8_t>& out);
    // One body byte; the answer is appended once the body is complete.
    void Body(uint8_t byte, std::vector<uint8_t>& out);
    bool Waiting() const { return bodyLeft_ > 0; }
    void Drop() { bodyLeft_ = 0; }

    const PrinterProfile& Profile() const { return profile_; }
    // Printer key codes pressed so far, in order.
    const std::vector<uint8_t>& Keys() const { return keys_; }
    const DeviceStats& Stats() const { return stats_; }

    // Called after every accepted key press (to write --dump-keys).
    std::function<void()> onKey;
    // One line for the log about what was answered.
    std::function<void(const std::string&)> log;

private:
    void Answer(std::vector<uint8_t>& out);
    void ArticleRecord(uint32_t number, bool shortForm, std::vector<uint8_t>& out);

    PrinterProfile profile_;
    uint8_t command_ = 0;
    unsigned bodyLeft_ = 0;
    std::vector<uint8_t> body_;
    std::vector<uint8_t> keys_;
    DeviceStats stats_;
};

}  // namespace vorin::sim

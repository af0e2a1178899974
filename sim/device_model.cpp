#include "sim/device_model.h"

#include <cstdio>

namespace vorin::sim {

namespace {

constexpr uint8_t kAckByte = 0x06;
constexpr uint8_t kOk = 0x00;
constexpr uint8_t kBeyondRange = 0x05;   // article number beyond the printer's count
constexpr uint8_t kNoSuchArticle = 102;  // no article under that number
constexpr uint8_t kBadKey = 0x01;

// Bytes after ESC and the command that each request carries from the host.
unsigned BodyLength(uint8_t command) {
    switch (command) {
    case 0xE6:
    case 0xAC:
    case 0x03:
    case 0xF1:
    case 0x9F:
    case 0x04:
    case 0xF9: return 2;
    case 0x9D: return 1;
    default: return 0;
    }
}

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutText(std::vector<uint8_t>& out, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i)
        out.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : ' ');
}

}  // namespace

DeviceModel::DeviceModel(PrinterProfile profile) : profile_(std::move(profile)) {}

bool DeviceModel::Command(uint8_t command, std::vector<uint8_t>& out) {
    const PrinterProfile& p = profile_;
    const bool extended = IsExtendedType(p.type);
    command_ = command;
    bodyLeft_ = 0;
    body_.clear();
    switch (command) {
    case 0xC0:
        out.push_back(kAckByte);
        PutText(out, p.number, 2);
        return true;
    case 0xFE:
        if (p.oldTypeQuery) return false;
        out.insert(out.end(), {kAckByte, p.type, p.version, p.variant});
        return true;
    case 0xFF:
        if (!p.oldTypeQuery) return false;
        out.insert(out.end(), {kAckByte, p.type});
        return true;
    case 0x5B:
        if (!p.oldTypeQuery) return false;
        out.insert(out.end(), {kAckByte, static_cast<uint8_t>(p.version << 4)});
        return true;
    case 0x71:
        out.push_back(kAckByte);
        PutText(out, p.identification, p.identification.size());
        return true;
    case 0x91:
        out.push_back(kAckByte);
        Put(out, p.pluCount, 2);
        return true;
    case 0x9B: out.push_back(p.status9B); return true;
    case 0x94: out.push_back(p.status94); return true;
    case 0x95: out.push_back(p.status95); return true;
    case 0x96: out.push_back(p.status96); return true;
    case 0x66: out.insert(out.end(), {kAckByte, p.status66[0], p.status66[1]}); return true;
    case 0xF1:
        // The article command has another byte on the newer printers.
        if (extended) return false;
        break;
    case 0x9F:
        if (!extended) return false;
        break;
    case 0xE6:
    case 0xAC:
    case 0xF9:
    case 0x9D: break;
    case 0x03:
    case 0x04:
        // No acknowledgement: the body follows the command at once.
        bodyLeft_ = BodyLength(command);
        return true;
    default: return false;
    }
    out.push_back(kAckByte);
    bodyLeft_ = BodyLength(command);
    return true;
}

void DeviceModel::Body(uint8_t byte, std::vector<uint8_t>& out) {
    if (bodyLeft_ == 0) return;
    body_.push_back(byte);
    if (--bodyLeft_ == 0) Answer(out);
}

void DeviceModel::ArticleRecord(uint32_t number, bool shortForm, std::vector<uint8_t>& out) {
    const auto found = profile_.articles.find(number);
    if (found == profile_.articles.end()) {
        out.push_back(kNoSuchArticle);
        return;
    }
    const Article& a = found->second;
    ++stats_.articlesRead;
    out.push_back(kOk);
    if (shortForm) {
        PutText(out, a.name, 20);
        Put(out, a.code | static_cast<uint64_t>(a.group - 1) << 44, 6);
        Put(out, a.price, 4);
        return;
    }
    PutText(out, a.name, 19);
    out.insert(out.end(), {a.group, a.department, a.unit, a.tax, a.flag});
    Put(out, a.code, 6);
    Put(out, a.price, 4);
    out.push_back(a.locked);
}

void DeviceModel::Answer(std::vector<uint8_t>& out) {
    const uint32_t number = body_.size() >= 2 ? (body_[0] | body_[1] << 8) : 0;
    char line[128];
    switch (command_) {
    case 0xE6:
        out.push_back(number >= 1 && number <= profile_.pluCount ? kOk : kBeyondRange);
        if (out.back() == kOk) out.push_back(0);
        break;
    case 0xAC: ArticleRecord(number, false, out); break;
    case 0x03: ArticleRecord(number, true, out); break;
    case 0xF1:
    case 0x9F:
    case 0x04:
        out.push_back(profile_.articles.count(number) ? kOk : kNoSuchArticle);
        std::snprintf(line, sizeof line, "article command 0x%02X for article %u: status %u",
                      command_, number, out.back());
        if (log) log(line);
        break;
    case 0xF9:
        if (static_cast<uint8_t>(body_[0] ^ body_[1]) != 0xFF) {
            ++stats_.badKeys;
            std::snprintf(line, sizeof line,
                          "error: key code 0x%02X with 0x%02X, not its complement: not pressed",
                          body_[0], body_[1]);
            if (log) log(line);
            out.push_back(kBadKey);
            break;
        }
        keys_.push_back(body_[0]);
        ++stats_.keys;
        if (onKey) onKey();
        out.push_back(kOk);
        break;
    case 0x9D: {
        const auto found = profile_.display.find(body_[0]);
        if (found == profile_.display.end()) {
            out.push_back(kBeyondRange);
            break;
        }
        out.push_back(kOk);
        out.push_back(found->second.form);
        PutText(out, found->second.text, 40);
        break;
    }
    default: break;
    }
}

}  // namespace vorin::sim

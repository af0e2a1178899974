#include "platform/telnet_rfc2217.h"

namespace vorin::platform::telnet {

void AppendData(std::vector<uint8_t>& out, const uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) out.push_back(kIac);
    }
}

void AppendComPortCommand(std::vector<uint8_t>& out, uint8_t command, const uint8_t* payload,
                          std::size_t count) {
    out.insert(out.end(), {kIac, kSb, kOptComPort, command});
    AppendData(out, payload, count);
    out.insert(out.end(), {kIac, kSe});
}

void AppendComPortCommand(std::vector<uint8_t>& out, uint8_t command, uint8_t value) {
    AppendComPortCommand(out, command, &value, 1);
}

void AppendBaudRate(std::vector<uint8_t>& out, uint32_t baud) {
    const uint8_t be[4] = {uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8),
                           uint8_t(baud)};
    AppendComPortCommand(out, kSetBaudRate, be, sizeof be);
}

std::vector<uint8_t> ClientHello() {
    return {kIac,    kWill, kOptBinary, kIac,    kDo,  kOptBinary, kIac,       kWill,
            kOptSga, kIac,  kDo,        kOptSga, kIac, kWill,      kOptComPort};
}

Receiver::Receiver() = default;

Receiver::Answer Receiver::AnswerTo(uint8_t command) const {
    return command < 13 ? answers_[command] : Answer{};
}

uint8_t Receiver::TakeLineState() {
    const uint8_t bits = lineState_;
    lineState_ = 0;
    return bits;
}

void Receiver::Feed(const uint8_t* in, std::size_t count, std::vector<uint8_t>& data,
                    std::vector<uint8_t>& reply) {
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t b = in[i];
        switch (parse_) {
        case Parse::Data:
            if (b == kIac)
                parse_ = Parse::Iac;
            else
                data.push_back(b);
            break;
        case Parse::Iac:
            if (b == kIac) {
                data.push_back(b);
                parse_ = Parse::Data;
            } else if (b >= kWill) {
                verb_ = b;
                parse_ = Parse::Verb;
            } else if (b == kSb) {
                subLength_ = 0;
                subTooLong_ = false;
                parse_ = Parse::Sub;
            } else {
                parse_ = Parse::Data;  // NOP, go-ahead, a stray SE: nothing to do
            }
            break;
        case Parse::Verb:
            Negotiate(verb_, b, reply);
            parse_ = Parse::Data;
            break;
        case Parse::Sub:
            if (b == kIac) {
                parse_ = Parse::SubIac;
                break;
            }
            [[fallthrough]];
        case Parse::SubIac:
            if (parse_ == Parse::SubIac && b != kIac) {
                // IAC SE ends it; any other command inside is a broken
                // subnegotiation, dropped whole.
                if (b == kSe && !subTooLong_) Subnegotiation(reply);
                if (subTooLong_) ++oversized_;
                parse_ = Parse::Data;
                break;
            }
            if (subLength_ < kMaxSubnegotiation)
                sub_[subLength_++] = b;
            else
                subTooLong_ = true;
            parse_ = Parse::Sub;
            break;
        }
    }
}

void Receiver::Negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply) {
    State* us = option == kOptBinary    ? &usBinary_
                : option == kOptSga     ? &usSga_
                : option == kOptComPort ? &comPort_
                                        : nullptr;
    State* him = option == kOptBinary ? &himBinary_ : option == kOptSga ? &himSga_ : nullptr;
    // Only a change of state is answered, so two sides never echo each other.
    switch (verb) {
    case kDo:
        if (!us) {
            reply.insert(reply.end(), {kIac, kWont, option});
        } else if (*us != State::On) {
            if (*us == State::Off) reply.insert(reply.end(), {kIac, kWill, option});
            *us = State::On;
        }
        break;
    case kDont:
        if (us && *us != State::Off) {
            if (*us == State::On) reply.insert(reply.end(), {kIac, kWont, option});
            *us = State::Off;
            if (option == kOptComPort) comPortRefused_ = true;
        }
        break;
    case kWill:
        if (!him) {
            reply.insert(reply.end(), {kIac, kDont, option});
        } else if (*him != State::On) {
            if (*him == State::Off) reply.insert(reply.end(), {kIac, kDo, option});
            *him = State::On;
        }
        break;
    case kWont:
        if (him && *him != State::Off) {
            if (*him == State::On) reply.insert(reply.end(), {kIac, kDont, option});
            *him = State::Off;
        }
        break;
    default: break;
    }
}

void Receiver::Subnegotiation(std::vector<uint8_t>& reply) {
    if (subLength_ < 2 || sub_[0] != kOptComPort) return;
    const uint8_t command = sub_[1];
    const uint8_t* payload = sub_ + 2;
    const std::size_t size = subLength_ - 2;
    if (command == kSignature && size == 0) {
        static const uint8_t kName[] = {'v', 'o', 'r', 'i', 'n'};
        AppendComPortCommand(reply, kServerOffset + kSignature, kName, sizeof kName);
        return;
    }
    if (command < kServerOffset || command > kServerOffset + kPurgeData) return;
    const uint8_t index = command - kServerOffset;
    uint32_t value = size > 0 ? payload[0] : 0;
    if (index == kSetBaudRate && size >= 4)
        value = uint32_t(payload[0]) << 24 | uint32_t(payload[1]) << 16 |
                uint32_t(payload[2]) << 8 | payload[3];
    ++reports_;
    answers_[index].count++;
    answers_[index].value = value;
    switch (index) {
    case kNotifyModemState:
        if (size > 0) {
            modemState_ = payload[0];
            ++modemNotifications_;
        }
        break;
    case kNotifyLineState: lineState_ |= static_cast<uint8_t>(value); break;
    case kFlowSuspend: suspended_ = true; break;
    case kFlowResume: suspended_ = false; break;
    default: break;
    }
}

}  // namespace vorin::platform::telnet

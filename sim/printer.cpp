#include "sim/printer.h"

#include <cstdio>
#include <cstring>

#include "sim/crc16.h"

namespace vorin::sim {

namespace {
using Ull = unsigned long long;
}

Printer::Printer(Faults faults, Verbosity verbosity, LogSink sink)
    : faults_(std::move(faults)),
      verbosity_(verbosity),
      sink_(std::move(sink)),
      image_(kImageSize, kUnwritten),
      stored_(kBlockCount, false) {
    for (const BlockStatusRule& rule : faults_.blockStatus) {
        std::vector<unsigned> left(kBlockCount, 0);
        for (unsigned i = 0; i < kBlockCount; ++i)
            if (rule.block == BlockStatusRule::kAnyBlock ||
                rule.block == static_cast<int>(kFirstBlock + i))
                left[i] = rule.times;
        ruleLeft_.push_back(std::move(left));
    }
}

void Printer::Log(Verbosity level, const char* format, ...) {
    if (level > verbosity_ || !sink_) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    sink_(line);
}

void Printer::Answer(uint8_t byte, std::vector<uint8_t>& out) {
    if (faults_.silentAfter && stats_.bytesReceived >= *faults_.silentAfter) {
        Log(Verbosity::Verbose, "silent: answer 0x%02X not sent", byte);
        return;
    }
    out.push_back(byte);
}

void Printer::Receive(uint8_t byte, int64_t nowMs, std::vector<uint8_t>& out) {
    if (faults_.closeAfter && stats_.blocksAccepted >= *faults_.closeAfter) {
        // The line drops once the host starts its next request, so the host has
        // surely read the status of the last accepted block: a pty that hangs up
        // throws away what the other side has not read yet.
        if (!closeRequested_)
            Log(Verbosity::Normal, "closing the line after %llu accepted blocks (--close-after)",
                static_cast<Ull>(stats_.blocksAccepted));
        closeRequested_ = true;
        return;
    }
    if (state_ != State::Idle && nowMs >= Deadline()) Expire(nowMs);
    ++stats_.bytesReceived;
    if (faults_.silentAfter && stats_.bytesReceived == *faults_.silentAfter)
        Log(Verbosity::Normal, "silent from now on: %llu bytes received (--silent-after)",
            static_cast<Ull>(stats_.bytesReceived));
    lastByteMs_ = nowMs;

    switch (state_) {
    case State::Idle:
        if (byte == kEsc) {
            FlushStray();
            state_ = State::Command;
        } else {
            if (strayRun_++ == 0) strayFirst_ = byte;
            ++stats_.strayBytes;
        }
        break;
    case State::Command:
        ++stats_.requests;
        OnCommand(byte, out);
        break;
    case State::Device:
        deviceOut_.clear();
        device_->Body(byte, deviceOut_);
        for (uint8_t b : deviceOut_) Answer(b, out);
        if (!device_->Waiting()) state_ = State::Idle;
        break;
    case State::FirstHalf:
    case State::SecondHalf:
        half_.push_back(byte);
        if (half_.size() == kHalfSize) {
            if (state_ == State::FirstHalf)
                OnFirstHalf(out);
            else
                OnSecondHalf(out);
        }
        break;
    }
}

void Printer::OnCommand(uint8_t command, std::vector<uint8_t>& out) {
    state_ = State::Idle;
    if (command != kCmdWriteBlock && device_) {
        deviceOut_.clear();
        if (device_->Command(command, deviceOut_)) {
            ++stats_.deviceCommands;
            Log(Verbosity::Verbose, "request %llu: command 0x%02X, answered %u byte(s)%s",
                static_cast<Ull>(stats_.requests), command,
                static_cast<unsigned>(deviceOut_.size()),
                device_->Waiting() ? ", body expected" : "");
            for (uint8_t b : deviceOut_) Answer(b, out);
            if (device_->Waiting()) state_ = State::Device;
            return;
        }
    }
    if (command != kCmdWriteBlock) {
        ++stats_.unknownCommands;
        Log(Verbosity::Quiet, "error: request %llu: unknown command 0x%02X after ESC, answered NAK",
            static_cast<Ull>(stats_.requests), command);
        Answer(kNak, out);
        return;
    }
    uint8_t ack = kAck;
    if (faults_.firstAnswer &&
        (faults_.firstAnswerAt == 0 || faults_.firstAnswerAt == stats_.requests)) {
        ack = *faults_.firstAnswer;
        ++stats_.injected;
        Log(Verbosity::Normal, "request %llu: answered 0x%02X instead of ACK (--first-answer)",
            static_cast<Ull>(stats_.requests), ack);
    } else {
        Log(Verbosity::Verbose, "request %llu: command 0x01, answered ACK",
            static_cast<Ull>(stats_.requests));
    }
    Answer(ack, out);
    if (ack == kAck) {
        half_.clear();
        state_ = State::FirstHalf;
    }
}

void Printer::OnFirstHalf(std::vector<uint8_t>& out) {
    state_ = State::Idle;
    block_ = static_cast<unsigned>(half_[0]) << 8 | half_[1];
    if (block_ < kFirstBlock || block_ > kLastBlock) {
        ++stats_.badBlockNumbers;
        Log(Verbosity::Quiet,
            "error: request %llu: block number %u (bytes 0x%02X 0x%02X) is outside %u..%u, "
            "answered status 0x%02X",
            static_cast<Ull>(stats_.requests), block_, half_[0], half_[1], kFirstBlock, kLastBlock,
            kStatusOutOfRange);
        Answer(kStatusOutOfRange, out);
        return;
    }
    if (faults_.halfStatus && *faults_.halfStatus != kStatusOk &&
        (faults_.halfStatusBlock == BlockStatusRule::kAnyBlock ||
         faults_.halfStatusBlock == static_cast<int>(block_))) {
        ++stats_.injected;
        Log(Verbosity::Normal,
            "block %u: answered status 0x%02X after the first half (--status-after-half)", block_,
            *faults_.halfStatus);
        Answer(*faults_.halfStatus, out);
        return;
    }
    Log(Verbosity::Verbose, "block %u: first half received", block_);
    first_ = half_;
    half_.clear();
    state_ = State::SecondHalf;
    Answer(kStatusOk, out);
}

void Printer::OnSecondHalf(std::vector<uint8_t>& out) {
    state_ = State::Idle;
    uint16_t crc = Crc16Arc(first_.data(), first_.size());
    crc = Crc16Arc(half_.data(), kHalfSize - 2, crc);
    const uint16_t sent = static_cast<uint16_t>(half_[kHalfSize - 2] << 8 | half_[kHalfSize - 1]);
    if (crc != sent) {
        ++stats_.hostCrcErrors;
        Log(Verbosity::Quiet,
            "error: block %u: checksum 0x%04X from the host, 0x%04X computed, answered CRC error",
            block_, sent, crc);
        Answer(kStatusCrcError, out);
        return;
    }
    const unsigned index = block_ - kFirstBlock;
    for (size_t r = 0; r < ruleLeft_.size(); ++r) {
        unsigned& left = ruleLeft_[r][index];
        if (left == 0) continue;
        --left;
        const uint8_t status = faults_.blockStatus[r].status;
        ++stats_.injected;
        Log(Verbosity::Normal, "block %u: answered status 0x%02X (injected, %u more)", block_,
            status, left);
        Answer(status, out);
        if (status == kStatusWithTwoBytes) {
            Answer(0, out);
            Answer(0, out);
        }
        return;
    }
    const bool wasComplete = Complete();
    std::memcpy(&image_[index * kBlockSize], &first_[2], kBlockSize / 2);
    std::memcpy(&image_[index * kBlockSize + kBlockSize / 2], half_.data(), kBlockSize / 2);
    const bool again = stored_[index];
    if (!again) {
        stored_[index] = true;
        ++storedCount_;
    }
    ++stats_.blocksAccepted;
    Log(Verbosity::Normal, "block %u stored%s (%u of %u)", block_, again ? " again" : "",
        storedCount_, kBlockCount);
    if (Complete() && (!wasComplete || block_ == kLastBlock)) {
        Log(Verbosity::Normal, "upload complete: all %u blocks stored", kBlockCount);
        if (onUploadComplete) onUploadComplete();
    }
    Answer(kStatusOk, out);
}

int64_t Printer::Deadline() const {
    return state_ == State::Idle ? -1 : lastByteMs_ + gapTimeoutMs;
}

void Printer::Expire(int64_t nowMs) {
    if (state_ != State::Idle && nowMs >= Deadline()) DropRequest("nothing more came");
}

void Printer::DropRequest(const char* why) {
    ++stats_.shortRequests;
    switch (state_) {
    case State::Command: Log(Verbosity::Quiet, "error: ESC without a command byte: %s", why); break;
    case State::FirstHalf:
        Log(Verbosity::Quiet, "error: request %llu: first half stopped after %u of %u bytes: %s",
            static_cast<Ull>(stats_.requests), static_cast<unsigned>(half_.size()), kHalfSize, why);
        break;
    case State::SecondHalf:
        Log(Verbosity::Quiet, "error: block %u: second half stopped after %u of %u bytes: %s",
            block_, static_cast<unsigned>(half_.size()), kHalfSize, why);
        break;
    case State::Device:
        Log(Verbosity::Quiet, "error: request %llu: body of a device command stopped short: %s",
            static_cast<Ull>(stats_.requests), why);
        device_->Drop();
        break;
    case State::Idle: break;
    }
    half_.clear();
    state_ = State::Idle;
}

void Printer::LineClosed() {
    if (state_ != State::Idle) DropRequest("the host closed the line");
    FlushStray();
}

void Printer::FlushStray() {
    if (strayRun_ == 0) return;
    Log(Verbosity::Quiet, "error: %llu byte(s) outside any request ignored (first 0x%02X)",
        static_cast<Ull>(strayRun_), strayFirst_);
    strayRun_ = 0;
}

void Printer::AttachDevice(PrinterProfile profile) {
    device_ = std::make_unique<DeviceModel>(std::move(profile));
    device_->log = [this](const std::string& line) {
        Log(line.rfind("error:", 0) == 0 ? Verbosity::Quiet : Verbosity::Normal, "%s",
            line.c_str());
    };
}

std::string Printer::Summary() const {
    char line[512];
    std::snprintf(line, sizeof line,
                  "summary: stored=%u/%u accepted=%llu requests=%llu host_crc_errors=%llu "
                  "injected=%llu unknown_commands=%llu bad_block_numbers=%llu short_requests=%llu "
                  "stray_bytes=%llu received=%llu sent=%llu connections=%llu",
                  storedCount_, kBlockCount, static_cast<Ull>(stats_.blocksAccepted),
                  static_cast<Ull>(stats_.requests), static_cast<Ull>(stats_.hostCrcErrors),
                  static_cast<Ull>(stats_.injected), static_cast<Ull>(stats_.unknownCommands),
                  static_cast<Ull>(stats_.badBlockNumbers), static_cast<Ull>(stats_.shortRequests),
                  static_cast<Ull>(stats_.strayBytes), static_cast<Ull>(stats_.bytesReceived),
                  static_cast<Ull>(stats_.bytesSent), static_cast<Ull>(stats_.connections));
    std::string text = line;
    if (device_)
        text += " device_commands=" + std::to_string(stats_.deviceCommands) +
                " keys=" + std::to_string(device_->Stats().keys) +
                " bad_keys=" + std::to_string(device_->Stats().badKeys);
    return text;
}

}  // namespace vorin::sim

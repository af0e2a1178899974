#include "sim/printer.h"

#include <cstdio>
#include <cstring>

#include "sim/crc16.h"

namespace vorin::sim {

namespace {
using ull = unsigned long long;
}

Printer::Printer(Faults faults, Verbosity verbosity, LogSink sink)
    : faults_(std::move(faults)),
      verbosity_(verbosity),
      sink_(std::move(sink)),
      image_(kImageSize, kUnwritten),
      stored_(kBlockCount, false) {
    for (const BlockStatusRule& rule : faults_.block_status) {
        std::vector<unsigned> left(kBlockCount, 0);
        for (unsigned i = 0; i < kBlockCount; ++i)
            if (rule.block == BlockStatusRule::kAnyBlock ||
                rule.block == static_cast<int>(kFirstBlock + i))
                left[i] = rule.times;
        rule_left_.push_back(std::move(left));
    }
}

void Printer::log(Verbosity level, const char* format, ...) {
    if (level > verbosity_ || !sink_) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    sink_(line);
}

void Printer::answer(uint8_t byte, std::vector<uint8_t>& out) {
    if (faults_.silent_after && stats_.bytes_received >= *faults_.silent_after) {
        log(Verbosity::kVerbose, "silent: answer 0x%02X not sent", byte);
        return;
    }
    out.push_back(byte);
}

void Printer::receive(uint8_t byte, int64_t now_ms, std::vector<uint8_t>& out) {
    if (faults_.close_after && stats_.blocks_accepted >= *faults_.close_after) {
        // The line drops once the host starts its next request, so the host has
        // surely read the status of the last accepted block: a pty that hangs up
        // throws away what the other side has not read yet.
        if (!close_requested_)
            log(Verbosity::kNormal, "closing the line after %llu accepted blocks (--close-after)",
                static_cast<ull>(stats_.blocks_accepted));
        close_requested_ = true;
        return;
    }
    if (state_ != State::kIdle && now_ms >= deadline()) expire(now_ms);
    ++stats_.bytes_received;
    if (faults_.silent_after && stats_.bytes_received == *faults_.silent_after)
        log(Verbosity::kNormal, "silent from now on: %llu bytes received (--silent-after)",
            static_cast<ull>(stats_.bytes_received));
    last_byte_ms_ = now_ms;

    switch (state_) {
    case State::kIdle:
        if (byte == kEsc) {
            flush_stray();
            state_ = State::kCommand;
        } else {
            if (stray_run_++ == 0) stray_first_ = byte;
            ++stats_.stray_bytes;
        }
        break;
    case State::kCommand:
        ++stats_.requests;
        on_command(byte, out);
        break;
    case State::kDevice:
        device_out_.clear();
        device_->Body(byte, device_out_);
        for (uint8_t b : device_out_) answer(b, out);
        if (!device_->Waiting()) state_ = State::kIdle;
        break;
    case State::kFirstHalf:
    case State::kSecondHalf:
        half_.push_back(byte);
        if (half_.size() == kHalfSize) {
            if (state_ == State::kFirstHalf)
                on_first_half(out);
            else
                on_second_half(out);
        }
        break;
    }
}

void Printer::on_command(uint8_t command, std::vector<uint8_t>& out) {
    state_ = State::kIdle;
    if (command != kCmdWriteBlock && device_) {
        device_out_.clear();
        if (device_->Command(command, device_out_)) {
            ++stats_.device_commands;
            log(Verbosity::kVerbose, "request %llu: command 0x%02X, answered %u byte(s)%s",
                static_cast<ull>(stats_.requests), command,
                static_cast<unsigned>(device_out_.size()),
                device_->Waiting() ? ", body expected" : "");
            for (uint8_t b : device_out_) answer(b, out);
            if (device_->Waiting()) state_ = State::kDevice;
            return;
        }
    }
    if (command != kCmdWriteBlock) {
        ++stats_.unknown_commands;
        log(Verbosity::kQuiet,
            "error: request %llu: unknown command 0x%02X after ESC, answered NAK",
            static_cast<ull>(stats_.requests), command);
        answer(kNak, out);
        return;
    }
    uint8_t ack = kAck;
    if (faults_.first_answer &&
        (faults_.first_answer_at == 0 || faults_.first_answer_at == stats_.requests)) {
        ack = *faults_.first_answer;
        ++stats_.injected;
        log(Verbosity::kNormal, "request %llu: answered 0x%02X instead of ACK (--first-answer)",
            static_cast<ull>(stats_.requests), ack);
    } else {
        log(Verbosity::kVerbose, "request %llu: command 0x01, answered ACK",
            static_cast<ull>(stats_.requests));
    }
    answer(ack, out);
    if (ack == kAck) {
        half_.clear();
        state_ = State::kFirstHalf;
    }
}

void Printer::on_first_half(std::vector<uint8_t>& out) {
    state_ = State::kIdle;
    block_ = static_cast<unsigned>(half_[0]) << 8 | half_[1];
    if (block_ < kFirstBlock || block_ > kLastBlock) {
        ++stats_.bad_block_numbers;
        log(Verbosity::kQuiet,
            "error: request %llu: block number %u (bytes 0x%02X 0x%02X) is outside %u..%u, "
            "answered status 0x%02X",
            static_cast<ull>(stats_.requests), block_, half_[0], half_[1], kFirstBlock, kLastBlock,
            kStatusOutOfRange);
        answer(kStatusOutOfRange, out);
        return;
    }
    if (faults_.half_status && *faults_.half_status != kStatusOk &&
        (faults_.half_status_block == BlockStatusRule::kAnyBlock ||
         faults_.half_status_block == static_cast<int>(block_))) {
        ++stats_.injected;
        log(Verbosity::kNormal,
            "block %u: answered status 0x%02X after the first half (--status-after-half)", block_,
            *faults_.half_status);
        answer(*faults_.half_status, out);
        return;
    }
    log(Verbosity::kVerbose, "block %u: first half received", block_);
    first_ = half_;
    half_.clear();
    state_ = State::kSecondHalf;
    answer(kStatusOk, out);
}

void Printer::on_second_half(std::vector<uint8_t>& out) {
    state_ = State::kIdle;
    uint16_t crc = crc16_arc(first_.data(), first_.size());
    crc = crc16_arc(half_.data(), kHalfSize - 2, crc);
    const uint16_t sent = static_cast<uint16_t>(half_[kHalfSize - 2] << 8 | half_[kHalfSize - 1]);
    if (crc != sent) {
        ++stats_.host_crc_errors;
        log(Verbosity::kQuiet,
            "error: block %u: checksum 0x%04X from the host, 0x%04X computed, answered CRC error",
            block_, sent, crc);
        answer(kStatusCrcError, out);
        return;
    }
    const unsigned index = block_ - kFirstBlock;
    for (size_t r = 0; r < rule_left_.size(); ++r) {
        unsigned& left = rule_left_[r][index];
        if (left == 0) continue;
        --left;
        const uint8_t status = faults_.block_status[r].status;
        ++stats_.injected;
        log(Verbosity::kNormal, "block %u: answered status 0x%02X (injected, %u more)", block_,
            status, left);
        answer(status, out);
        if (status == kStatusWithTwoBytes) {
            answer(0, out);
            answer(0, out);
        }
        return;
    }
    const bool was_complete = complete();
    std::memcpy(&image_[index * kBlockSize], &first_[2], kBlockSize / 2);
    std::memcpy(&image_[index * kBlockSize + kBlockSize / 2], half_.data(), kBlockSize / 2);
    const bool again = stored_[index];
    if (!again) {
        stored_[index] = true;
        ++stored_count_;
    }
    ++stats_.blocks_accepted;
    log(Verbosity::kNormal, "block %u stored%s (%u of %u)", block_, again ? " again" : "",
        stored_count_, kBlockCount);
    if (complete() && (!was_complete || block_ == kLastBlock)) {
        log(Verbosity::kNormal, "upload complete: all %u blocks stored", kBlockCount);
        if (on_upload_complete) on_upload_complete();
    }
    answer(kStatusOk, out);
}

int64_t Printer::deadline() const {
    return state_ == State::kIdle ? -1 : last_byte_ms_ + gap_timeout_ms;
}

void Printer::expire(int64_t now_ms) {
    if (state_ != State::kIdle && now_ms >= deadline()) drop_request("nothing more came");
}

void Printer::drop_request(const char* why) {
    ++stats_.short_requests;
    switch (state_) {
    case State::kCommand:
        log(Verbosity::kQuiet, "error: ESC without a command byte: %s", why);
        break;
    case State::kFirstHalf:
        log(Verbosity::kQuiet, "error: request %llu: first half stopped after %u of %u bytes: %s",
            static_cast<ull>(stats_.requests), static_cast<unsigned>(half_.size()), kHalfSize, why);
        break;
    case State::kSecondHalf:
        log(Verbosity::kQuiet, "error: block %u: second half stopped after %u of %u bytes: %s",
            block_, static_cast<unsigned>(half_.size()), kHalfSize, why);
        break;
    case State::kDevice:
        log(Verbosity::kQuiet, "error: request %llu: body of a device command stopped short: %s",
            static_cast<ull>(stats_.requests), why);
        device_->Drop();
        break;
    case State::kIdle: break;
    }
    half_.clear();
    state_ = State::kIdle;
}

void Printer::line_closed() {
    if (state_ != State::kIdle) drop_request("the host closed the line");
    flush_stray();
}

void Printer::flush_stray() {
    if (stray_run_ == 0) return;
    log(Verbosity::kQuiet, "error: %llu byte(s) outside any request ignored (first 0x%02X)",
        static_cast<ull>(stray_run_), stray_first_);
    stray_run_ = 0;
}

void Printer::attach_device(PrinterProfile profile) {
    device_ = std::make_unique<DeviceModel>(std::move(profile));
    device_->log = [this](const std::string& line) {
        log(line.rfind("error:", 0) == 0 ? Verbosity::kQuiet : Verbosity::kNormal, "%s",
            line.c_str());
    };
}

std::string Printer::summary() const {
    char line[512];
    std::snprintf(line, sizeof line,
                  "summary: stored=%u/%u accepted=%llu requests=%llu host_crc_errors=%llu "
                  "injected=%llu unknown_commands=%llu bad_block_numbers=%llu short_requests=%llu "
                  "stray_bytes=%llu received=%llu sent=%llu connections=%llu",
                  stored_count_, kBlockCount, static_cast<ull>(stats_.blocks_accepted),
                  static_cast<ull>(stats_.requests), static_cast<ull>(stats_.host_crc_errors),
                  static_cast<ull>(stats_.injected), static_cast<ull>(stats_.unknown_commands),
                  static_cast<ull>(stats_.bad_block_numbers),
                  static_cast<ull>(stats_.short_requests), static_cast<ull>(stats_.stray_bytes),
                  static_cast<ull>(stats_.bytes_received), static_cast<ull>(stats_.bytes_sent),
                  static_cast<ull>(stats_.connections));
    std::string text = line;
    if (device_)
        text += " device_commands=" + std::to_string(stats_.device_commands) +
                " keys=" + std::to_string(device_->Stats().keys) +
                " bad_keys=" + std::to_string(device_->Stats().bad_keys);
    return text;
}

}  // namespace vorin::sim

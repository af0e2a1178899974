// Every byte of the printer protocol that the link and its callers (the
// loader, the device commands) send or steer by, named once. The frame
// exchange steers by the answer rules below, and the multiplexer frame tells
// the multiplexer about the same commands, so both read them from here. (The
// simulator keeps tables of its own on purpose: it must catch this file's
// mistakes, not repeat them.)
#pragma once

#include <cstdint>

namespace vorin::link {

// Bytes on the wire.
inline constexpr uint8_t kEsc = 0x1B;           // first byte of every new request
inline constexpr uint8_t kAck = 0x06;           // command accepted
inline constexpr uint8_t kNak = 0x15;           // command refused
inline constexpr uint8_t kEndOfRecords = 0xFF;  // ends a record list early

// Acknowledgement bytes that prefix mode 0 maps to result codes of their own.
inline constexpr uint8_t kRefusal01 = 0x01;
inline constexpr uint8_t kRefusal65 = 0x65;
inline constexpr uint8_t kRefusalC8 = 0xC8;

// The multiplexer mode that carries every request in a frame.
inline constexpr uint8_t kMuxFrameMode = 2;

// ---- Commands ----------------------------------------------------------
// The code page upload: a block's first half as a new request, its second
// half as a continuation.
inline constexpr uint8_t kCmdWriteBlock = 0x01;
inline constexpr uint8_t kCmdContinuation = 0x00;
// Multiplexer mode 3: the switch to a channel (the channel number follows).
inline constexpr uint8_t kCmdSelectChannel = 0x01;

// Identification.
inline constexpr uint8_t kCmdReadNumber = 0xC0;
inline constexpr uint8_t kCmdReadType = 0xFE;
inline constexpr uint8_t kCmdReadTypeOld = 0xFF;     // printers that answer kCmdReadType with NAK
inline constexpr uint8_t kCmdReadVersionOld = 0x5B;  // the same printers' version
inline constexpr uint8_t kCmdReadIdentification = 0x71;
inline constexpr uint8_t kCmdProbeArticle = 0xE6;  // is there an article with this number?

// Articles.
inline constexpr uint8_t kCmdReadArticleCount = 0x91;
inline constexpr uint8_t kCmdReadArticle = 0xAC;
inline constexpr uint8_t kCmdReadArticleShort = 0x03;
inline constexpr uint8_t kCmdArticle = 0xF1;          // older types
inline constexpr uint8_t kCmdArticleExtended = 0x9F;  // extended types
inline constexpr uint8_t kCmdArticle04 = 0x04;

// Keypad, status and display.
inline constexpr uint8_t kCmdPressKey = 0xF9;
inline constexpr uint8_t kCmdStatus9B = 0x9B;
inline constexpr uint8_t kCmdStatus94 = 0x94;
inline constexpr uint8_t kCmdStatus95 = 0x95;
inline constexpr uint8_t kCmdStatus96 = 0x96;
inline constexpr uint8_t kCmdStatus66 = 0x66;  // two answer bytes, both 0 when nothing is wrong
inline constexpr uint8_t kCmdReadDisplay = 0x9D;

// The device description: its status byte is a tag that says which
// description follows and how long it is.
inline constexpr uint8_t kCmdDescription = 0xE5;
// Descriptions after tag 0xFA are shorter on these device types.
inline constexpr uint8_t kShortDescriptionType18 = 0x18;
inline constexpr uint8_t kShortDescriptionType1B = 0x1B;
// Their status byte goes to the answer tag too.
inline constexpr uint8_t kCmdTag9A = 0x9A;
inline constexpr uint8_t kCmdTagFC = 0xFC;
// Answers ACK where others answer status 0.
inline constexpr uint8_t kCmdStatusAck = 0xA0;

// ---- Answer rules ------------------------------------------------------
// Commands whose acknowledgement is taken as it comes.
inline constexpr bool AckNotChecked(uint8_t command) {
    switch (command) {
    case 0x90:
    case kCmdStatus94:
    case kCmdStatus95:
    case kCmdStatus96:
    case kCmdStatus9B:
    case kCmdReadDisplay:
    case kCmdArticleExtended: return true;
    default: return false;
    }
}

// Commands whose status byte is data, not a verdict.
inline constexpr bool StatusNotChecked(uint8_t command) {
    switch (command) {
    case 0x11:
    case 0x31:
    case 0x72:
    case kCmdPressKey: return true;
    default: return false;
    }
}

// Commands whose status byte goes to the answer tag.
inline constexpr bool StatusIsTag(uint8_t command) {
    return command == kCmdDescription || command == kCmdTag9A || command == kCmdTagFC;
}

// Every command whose status byte is not the plain 0-or-error verdict: the
// multiplexer must forward such a status as it comes.
inline constexpr bool StatusIsSpecial(uint8_t command) {
    return StatusNotChecked(command) || StatusIsTag(command) || command == kCmdStatusAck;
}

}  // namespace vorin::link

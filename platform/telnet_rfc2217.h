// Telnet with the COM-PORT-OPTION (RFC 2217) as a serial port's client sees
// it: what to send for data and line control, and a receiver that splits what
// a server sends into serial data, the answers the client owes the server, and
// the server's reports (answers to our requests, modem and line state).
//
// No system calls here: the network device (net_port.cpp) moves the bytes, and
// the receiver can be fed any bytes at all (the fuzz target does), since they
// come from a machine on the network. Whatever a server sends, the receiver
// keeps at most kMaxSubnegotiation bytes of one subnegotiation.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorin::platform::telnet {

enum : uint8_t {
    kSe = 240,
    kNop = 241,
    kSb = 250,
    kWill = 251,
    kWont = 252,
    kDo = 253,
    kDont = 254,
    kIac = 255,
};
enum : uint8_t { kOptBinary = 0, kOptEcho = 1, kOptSga = 3, kOptComPort = 44 };

// COM-PORT-OPTION commands, client to server; the server's are these + 100.
enum : uint8_t {
    kSignature = 0,
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kNotifyLineState = 6,
    kNotifyModemState = 7,
    kFlowSuspend = 8,
    kFlowResume = 9,
    kSetLineStateMask = 10,
    kSetModemStateMask = 11,
    kPurgeData = 12,
    kServerOffset = 100,
};
// SET-CONTROL values.
enum : uint8_t {
    kControlNoFlow = 1,
    kControlXonXoff = 2,
    kControlHardware = 3,
    kControlBreakOn = 5,
    kControlBreakOff = 6,
    kControlDtrOn = 8,
    kControlDtrOff = 9,
    kControlRtsOn = 11,
    kControlRtsOff = 12,
};
// PURGE-DATA values.
enum : uint8_t { kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3 };

constexpr std::size_t kMaxSubnegotiation = 64;

// Serial data as it goes on the connection: every 255 doubled.
void AppendData(std::vector<uint8_t>& out, const uint8_t* data, std::size_t count);
// IAC SB COM-PORT-OPTION command payload IAC SE, the payload escaped.
void AppendComPortCommand(std::vector<uint8_t>& out, uint8_t command, const uint8_t* payload,
                          std::size_t count);
void AppendComPortCommand(std::vector<uint8_t>& out, uint8_t command, uint8_t value);
void AppendBaudRate(std::vector<uint8_t>& out, uint32_t baud);
// What the client offers when it connects: binary both ways, no go-ahead,
// and the COM-PORT-OPTION.
std::vector<uint8_t> ClientHello();

class Receiver {
public:
    Receiver();

    // Takes bytes from the server: serial data is appended to `data`, what the
    // client must answer (option negotiation, its signature) to `reply`.
    void Feed(const uint8_t* in, std::size_t count, std::vector<uint8_t>& data,
              std::vector<uint8_t>& reply);

    // The server agreed to the COM-PORT-OPTION / refused it.
    bool ComPortAccepted() const { return comPort_ == State::On; }
    bool ComPortRefused() const { return comPortRefused_; }

    // The server's answers to our commands: how many of command `command`
    // (1..12) arrived so far, and the value of the last (a baud rate or one
    // byte).
    struct Answer {
        uint32_t count = 0;
        uint32_t value = 0;
    };
    Answer AnswerTo(uint8_t command) const;

    // The last NOTIFY-MODEMSTATE (its high nibble is CTS 0x10, DSR 0x20, RI
    // 0x40, CD 0x80), and how many arrived.
    uint8_t ModemState() const { return modemState_; }
    uint32_t ModemNotifications() const { return modemNotifications_; }
    // NOTIFY-LINESTATE bits gathered since the last call (overrun 0x02,
    // parity 0x04, framing 0x08, break 0x10).
    uint8_t TakeLineState();
    bool FlowSuspended() const { return suspended_; }
    // Every COM-PORT-OPTION report taken so far (answers and notifications).
    uint32_t Reports() const { return reports_; }
    // Subnegotiations dropped for being longer than kMaxSubnegotiation.
    uint32_t Oversized() const { return oversized_; }

private:
    enum class Parse { Data, Iac, Verb, Sub, SubIac };
    enum class State : uint8_t { Off, Asked, On };

    void Negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply);
    void Subnegotiation(std::vector<uint8_t>& reply);

    Parse parse_ = Parse::Data;
    uint8_t verb_ = 0;
    uint8_t sub_[kMaxSubnegotiation] = {};
    std::size_t subLength_ = 0;
    bool subTooLong_ = false;
    uint32_t oversized_ = 0;
    uint32_t reports_ = 0;

    // Our side (WILL) and the server's (DO) of each option we care for.
    State usBinary_ = State::Asked, himBinary_ = State::Asked;
    State usSga_ = State::Asked, himSga_ = State::Asked;
    State comPort_ = State::Asked;
    bool comPortRefused_ = false;

    Answer answers_[13];
    uint8_t modemState_ = 0;
    uint32_t modemNotifications_ = 0;
    uint8_t lineState_ = 0;
    bool suspended_ = false;
};

}  // namespace vorin::platform::telnet

// The Telnet/RFC 2217 encoder and receiver on bytes written here: what a
// pty behind ser2net never sends (modem and line-state reports with lines on,
// hostile or broken sequences) is shown at this level.
#include "platform/telnet_rfc2217.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorin::platform::telnet {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

struct Row {
    const char* what;
    std::vector<Bytes> chunks;  // fed one after another
    Bytes data;                 // serial data expected
    Bytes reply;                // what the client must answer
};

// What a server may send, and what the receiver makes of it.
TEST(TelnetReceiver, SplitsDataRepliesAndReports) {
    const Row rows[] = {
        {"a doubled 255 is one data byte, even split across reads",
         {B({'a', kIac}), B({kIac, 'b'})},
         B({'a', 255, 'b'}),
         {}},
        {"our own requests confirmed: no answer (no negotiation loop)",
         {B({kIac, kDo, kOptComPort, kIac, kWill, kOptBinary, kIac, kDo, kOptComPort})},
         {},
         {}},
        {"options we do not do are refused, once each",
         {B({kIac, kDo, kOptEcho, kIac, kWill, kOptEcho})},
         {},
         B({kIac, kWont, kOptEcho, kIac, kDont, kOptEcho})},
        {"the server's signature request is answered",
         {B({kIac, kSb, kOptComPort, kSignature, kIac, kSe})},
         {},
         B({kIac, kSb, kOptComPort, 100, 'v', 'o', 'r', 'i', 'n', kIac, kSe})},
        {"an oversized subnegotiation is dropped, the data after it kept",
         {B({kIac, kSb, kOptComPort, 107}), Bytes(100, 0x10), B({kIac, kSe, 'z'})},
         B({'z'}),
         {}},
        {"a command inside a subnegotiation ends it unread",
         {B({kIac, kSb, kOptComPort, 107, 0xF0, kIac, kNop, 'y'})},
         B({'y'}),
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Receiver r;
        Bytes data, reply;
        for (const Bytes& chunk : row.chunks) r.Feed(chunk.data(), chunk.size(), data, reply);
        EXPECT_EQ(data, row.data);
        EXPECT_EQ(reply, row.reply);
        EXPECT_EQ(r.ModemNotifications(), 0u);
    }
}

TEST(TelnetReceiver, TakesTheServersAnswersAndNotifications) {
    Receiver r;
    Bytes data, reply, in = B({kIac, kDo, kOptComPort});
    // 115200 = 00 01 C2 00; a baud rate of 0x0001C2FF has a 255 to double.
    AppendComPortCommand(in, 101, B({0x00, 0x01, 0xC2, 0xFF}).data(), 4);
    AppendComPortCommand(in, 107, 0xB1);  // CD, DSR, CTS on; CTS changed
    AppendComPortCommand(in, 106, 0x04);  // a parity error
    r.Feed(in.data(), in.size(), data, reply);
    EXPECT_TRUE(r.ComPortAccepted());
    EXPECT_EQ(r.AnswerTo(kSetBaudRate).count, 1u);
    EXPECT_EQ(r.AnswerTo(kSetBaudRate).value, 0x0001C2FFu);
    EXPECT_EQ(r.ModemState(), 0xB1);
    EXPECT_EQ(r.TakeLineState(), 0x04);
    EXPECT_EQ(r.TakeLineState(), 0x00);
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(reply.empty());

    const Bytes refuse = B({kIac, kDont, kOptComPort});
    Receiver other;
    other.Feed(refuse.data(), refuse.size(), data, reply);
    EXPECT_TRUE(other.ComPortRefused());
}

TEST(TelnetEncoder, DoublesEvery255InDataAndInCommands) {
    Bytes out;
    const Bytes data = B({1, 255, 255, 2});
    AppendData(out, data.data(), data.size());
    EXPECT_EQ(out, B({1, 255, 255, 255, 255, 2}));
    out.clear();
    AppendBaudRate(out, 0x000100FF);
    EXPECT_EQ(out, B({kIac, kSb, kOptComPort, kSetBaudRate, 0, 1, 0, 255, 255, kIac, kSe}));
}

}  // namespace
}  // namespace vorin::platform::telnet

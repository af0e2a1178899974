// Multiplexer frames: the group code and the frame layout against hand-made
// bytes, a round trip of random frames, and the transport's limits against the
// scripted printer (which stands where the multiplexer stands and plays
// carrier detect). The recovery rules meet the simulator's multiplexer in
// sim/mux_test.cpp.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/mux.h"
#include "link/mux_frame.h"
#include "link/test_peer.h"

using namespace vorin::link;
using vorin::link::test::DrukarkaSkryptowa;

namespace {

std::vector<uint8_t> Zakoduj(const std::vector<uint8_t>& logiczne) {
    std::vector<uint8_t> wynik(mux::EncodedSize(logiczne.size()));
    wynik.resize(mux::Encode(logiczne.data(), logiczne.size(), wynik.data()));
    return wynik;
}

// An answer frame as a multiplexer sends it.
std::vector<uint8_t> Odpowiedz(uint8_t sterowanie, const std::vector<uint8_t>& ladunek) {
    std::vector<uint8_t> logiczne{static_cast<uint8_t>(mux::EncodedSize(ladunek.size() + 4)),
                                  sterowanie};
    logiczne.insert(logiczne.end(), ladunek.begin(), ladunek.end());
    const uint16_t crc = mux::Crc16(logiczne.data(), logiczne.size());
    logiczne.push_back(static_cast<uint8_t>(crc));
    logiczne.push_back(static_cast<uint8_t>(crc >> 8));
    std::vector<uint8_t> ramka(mux::kIdentification.begin(), mux::kIdentification.end());
    const std::vector<uint8_t> kod = Zakoduj(logiczne);
    ramka.insert(ramka.end(), kod.begin(), kod.end());
    return ramka;
}

TEST(KodGrup, ExamplesAndSizes) {
    EXPECT_EQ(Zakoduj({0x01, 0x80, 0x7F}), (std::vector<uint8_t>{0xA0, 0x81, 0x80, 0xFF}));
    EXPECT_EQ(mux::EncodedSize(7), 8u);
    EXPECT_EQ(mux::EncodedSize(8), 10u);
    EXPECT_EQ(Zakoduj(std::vector<uint8_t>(8, 0xFF)).size(), 10u);
    EXPECT_EQ(mux::DecodedSize(10), 8u);
    EXPECT_EQ(mux::DecodedSize(8), 7u);
}

TEST(KodGrup, RandomFramesGoThroughEncoderAndReceiver) {
    std::mt19937 los(11);
    auto bajt = [&] { return static_cast<uint8_t>(los()); };
    auto szum = [&] {  // anything but the 'O' that would finish "BRAX"
        uint8_t b = bajt();
        return b == 'O' ? uint8_t{0} : b;
    };
    for (int proba = 0; proba < 2000; ++proba) {
        std::vector<uint8_t> prefiks(los() % 3), tresc(los() % 210);
        for (auto& b : prefiks) b = bajt();
        for (auto& b : tresc) b = bajt();
        mux::Request r;
        r.control = bajt();
        r.ackLength = bajt();
        r.statusLength = bajt();
        r.recordLength = bajt();
        r.prefix = prefiks.data();
        r.prefixLength = prefiks.size();
        r.body = tresc.data();
        r.bodyLength = tresc.size();
        uint8_t ramka[mux::kFrameBufferSize];
        const std::size_t rozmiar = mux::BuildRequest(r, ramka);
        ASSERT_EQ(rozmiar, 5 + mux::EncodedSize(5 + prefiks.size() + tresc.size() + 2));

        // Noise first, "BRAX" among it, then the frame.
        mux::AnswerReceiver odbiornik;
        for (uint8_t b : {uint8_t{'B'}, uint8_t{'R'}, uint8_t{'A'}, uint8_t{'X'}, szum(), szum()})
            ASSERT_EQ(odbiornik.Add(b), mux::AnswerReceiver::Step::More);
        for (std::size_t i = 0; i + 1 < rozmiar; ++i)
            ASSERT_EQ(odbiornik.Add(ramka[i]), mux::AnswerReceiver::Step::More);
        ASSERT_EQ(odbiornik.Add(ramka[rozmiar - 1]), mux::AnswerReceiver::Step::Complete);
        ASSERT_TRUE(odbiornik.ChecksumOk());
        EXPECT_EQ(odbiornik.Control(), r.control);
        std::vector<uint8_t> oczekiwany{r.ackLength, r.statusLength, r.recordLength};
        oczekiwany.insert(oczekiwany.end(), prefiks.begin(), prefiks.end());
        oczekiwany.insert(oczekiwany.end(), tresc.begin(), tresc.end());
        EXPECT_EQ(std::vector<uint8_t>(odbiornik.Payload(),
                                       odbiornik.Payload() + odbiornik.PayloadLength()),
                  oczekiwany);

        // One bit changed in any byte after the identification that carries
        // data (a header's bits for missing bytes of a short group carry none)
        // fails the check.
        std::size_t gdzie = 5 + los() % (rozmiar - 5);
        if ((gdzie - 5) % 8 == 0) ++gdzie;
        ramka[gdzie] ^= static_cast<uint8_t>(1u << (los() % 7));
        odbiornik.Reset();
        mux::AnswerReceiver::Step krok = mux::AnswerReceiver::Step::More;
        for (std::size_t i = 0; i < rozmiar && krok == mux::AnswerReceiver::Step::More; ++i)
            krok = odbiornik.Add(ramka[i]);
        EXPECT_FALSE(krok == mux::AnswerReceiver::Step::Complete && odbiornik.ChecksumOk());
    }
}

TEST(KodGrup, LengthCodesThatCannotBeRightAreRefused) {
    for (uint8_t dlugosc : {0, 1, 4, 251, 255}) {
        mux::AnswerReceiver odbiornik;
        for (uint8_t b : mux::kIdentification) odbiornik.Add(b);
        const uint8_t naglowek = (dlugosc & 0x80) ? 0xC0 : 0x80;
        EXPECT_EQ(odbiornik.Add(naglowek), mux::AnswerReceiver::Step::More);
        EXPECT_EQ(odbiornik.Add(static_cast<uint8_t>(dlugosc | 0x80)),
                  mux::AnswerReceiver::Step::Malformed)
            << int(dlugosc);
    }
}

class RamkaMux : public ::testing::Test {
protected:
    DrukarkaSkryptowa drukarka_;
    void SetUp() override {
        TrybMux = 2;
        KanalDrukarki = 1;
        PredkoscDrukarki = 9600;
    }
};

TEST_F(RamkaMux, RequestFrameOfTheExampleByteForByte) {
    ObszarNadawania[1] = 0x05;
    SumaKontrolna = 0x1234;  // a caller's running checksum, halfway through a block
    drukarka_.Wyslij(Odpowiedz(0, {0x06, 0x00}));
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 1, 1);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(SumaKontrolna, 0x1234u) << "frames keep a checksum of their own";

    // Length code 12, control 0x30 (printer request, acknowledgement before
    // the body, channel 1, not 19200), lengths 1 1 0, ESC 0x01, body 0x05.
    SumaKontrolna = 0;
    for (uint8_t b : {0x0C, 0x30, 0x01, 0x01, 0x00, 0x1B, 0x01, 0x05}) AktualizacjaCRC(b);
    const uint8_t lo = BajtSlowa(1, SumaKontrolna), hi = BajtSlowa(2, SumaKontrolna);
    const uint8_t naglowek2 =
        static_cast<uint8_t>(0x80 | ((lo & 0x80) ? 0x20 : 0) | ((hi & 0x80) ? 0x10 : 0));
    const std::vector<uint8_t> oczekiwana{'B',
                                          'R',
                                          'A',
                                          'X',
                                          'O',
                                          0x80,
                                          0x8C,
                                          0xB0,
                                          0x81,
                                          0x81,
                                          0x80,
                                          0x9B,
                                          0x81,
                                          naglowek2,
                                          0x85,
                                          uint8_t(lo | 0x80),
                                          uint8_t(hi | 0x80)};
    EXPECT_EQ(drukarka_.Zapisane(), oczekiwana);
}

TEST_F(RamkaMux, ControlByteCarriesThePrintersChannelAndSpeed) {
    KanalDrukarki = 6;
    PredkoscDrukarki = 19200;
    drukarka_.Wyslij(Odpowiedz(0, {0x00}));
    WymianaRamki(Prefiks::Kontynuacja, 0xE5, 0, 0, 1);
    const std::vector<uint8_t> z = drukarka_.Zapisane();
    ASSERT_GE(z.size(), 8u);
    // Second logical byte: channel 6 - 1, 19200, printer request, status as it comes.
    EXPECT_EQ(z[7], 0x80 | 0x05 | 0x08 | 0x20 | 0x40);
    EXPECT_EQ(z[6], 0x80 | mux::EncodedSize(7)) << "no prefix in continuation";
}

TEST_F(RamkaMux, RequestTooLongForOneFrameIsRefusedBeforeAnyByte) {
    drukarka_.Wyslij(Odpowiedz(0, {}));
    WymianaRamki(Prefiks::Rozkaz, 0x42, 0, 209, 0);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(drukarka_.Zapisane().size(), mux::kFrameBufferSize) << "the largest that fits";

    drukarka_.WyczyscZapis();
    WymianaRamki(Prefiks::Rozkaz, 0x42, 0, 210, 0);
    EXPECT_EQ(KodWyniku, 32);
    EXPECT_TRUE(drukarka_.Zapisane().empty());
}

TEST_F(RamkaMux, AnswerLongerThanTheFrameBufferIsTakenAsDamaged) {
    // Length code 252: five identification bytes plus 252 would overrun.
    drukarka_.Wyslij({'B', 'R', 'A', 'X', 'O', 0xC0, 0xFC});
    drukarka_.Wyslij(std::vector<uint8_t>(300, 0x80));
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 0, 0);
    EXPECT_EQ(KodWyniku, 34);
    EXPECT_LE(drukarka_.Odczyty(), 7u) << "reading stops at the length code";
}

TEST_F(RamkaMux, TwoPiecesLongerThanTheAnswerAreaAreRefused) {
    LimitPowtorzenMux = 0;
    drukarka_.Wyslij(Odpowiedz(8, std::vector<uint8_t>(200, 0x06)));
    drukarka_.Wyslij(Odpowiedz(8, std::vector<uint8_t>(60, 0x07)));
    WymianaRamki(Prefiks::Rozkaz, 0x50, 254, 0, 0);
    EXPECT_EQ(KodWyniku, 43);

    KodWyniku = 0;
    drukarka_.Wyslij(Odpowiedz(8, std::vector<uint8_t>(200, 0x06)));
    drukarka_.Wyslij(Odpowiedz(8, std::vector<uint8_t>(54, 0x07)));
    WymianaRamki(Prefiks::Rozkaz, 0x50, 254, 0, 0);
    EXPECT_EQ(KodWyniku, 0);
    // The phase stored payload byte p + 1 at position p (ACK first at 1).
    EXPECT_EQ(ObszarOdpowiedzi[199], 0x06);
    EXPECT_EQ(ObszarOdpowiedzi[200], 0x07);
    EXPECT_EQ(ObszarOdpowiedzi[253], 0x07);
}

TEST_F(RamkaMux, ReadingPastThePayloadGives0And45) {
    drukarka_.Wyslij(Odpowiedz(0, {0x06}));
    WymianaRamki(Prefiks::Rozkaz, 0x01, 2, 0, 0);
    EXPECT_EQ(KodWyniku, 45);
    EXPECT_EQ(ObszarOdpowiedzi[1], 0x06);
}

TEST_F(RamkaMux, NoCarrierNoFrame) {
    drukarka_.dcd = false;
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 30);
    EXPECT_TRUE(drukarka_.Zapisane().empty());
}

TEST_F(RamkaMux, EndlessNoiseEndsTheReception) {
    drukarka_.Wyslij(std::vector<uint8_t>(5000, 'B'));
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 33);
}

TEST_F(RamkaMux, RawCommandLine) {
    ASSERT_TRUE(PolecenieMux("+++"));
    ASSERT_TRUE(PolecenieMux("ATZ"));
    ASSERT_TRUE(PolecenieMux(""));
    EXPECT_EQ(drukarka_.Zapisane(), (std::vector<uint8_t>{'+', '+', '+', 'A', 'T', 'Z', 0x0D}));
    EXPECT_EQ(drukarka_.Wywolania(false),
              (std::vector<std::string>{"Pause 100", "Pause 100", "Pause 100", "Pause 100",
                                        "Pause 100", "Pause 100"}));

    drukarka_.WyczyscZapis();
    EXPECT_FALSE(PolecenieMux(std::string(255, 'x').c_str()));
    EXPECT_EQ(KodWyniku, 32);
    EXPECT_TRUE(drukarka_.Wywolania().empty());
}

}  // namespace

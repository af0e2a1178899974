// The link over the real serial library and a real line: a pseudo-terminal on
// Linux, a socat-linked COM pair under Wine (skipped where none is set up).
// The printer end runs in a thread that waits for each request and answers it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/link.h"
#include "link/port_ops.h"
#include "platform/test_line.h"

using namespace vorin::link;
using namespace std::chrono;

namespace {

struct Krok {
    std::size_t oczekiwane;          // bytes the printer waits for
    std::vector<uint8_t> odpowiedz;  // what it then sends
};

class Linia : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        linia_ = vorin::platform::TestLine::Create(why);
        if (!linia_) GTEST_SKIP() << "no test line: " << why;
        PrzywrocOperacjePortu();
        UstawieniaDomyslneLacza();
        NumerPortu = linia_->Port();
        Predkosc = 38400;
        TimeoutOdczytu = 1;
    }
    void TearDown() override {
        if (drukarka_.joinable()) drukarka_.join();
        ZamknieciePortu();
        UstawieniaDomyslneLacza();
    }

    // Plays the printer: each step waits (bounded) for its bytes, then answers.
    void Drukarka(std::vector<Krok> kroki) {
        drukarka_ = std::thread([this, kroki = std::move(kroki)] {
            for (const Krok& k : kroki) {
                std::vector<uint8_t> b = linia_->Receive(k.oczekiwane, 5000);
                odebrane_.insert(odebrane_.end(), b.begin(), b.end());
                if (b.size() != k.oczekiwane) return;
                if (!k.odpowiedz.empty() && !linia_->Send(k.odpowiedz)) return;
            }
        });
    }
    std::vector<uint8_t> Odebrane() {
        if (drukarka_.joinable()) drukarka_.join();
        return odebrane_;
    }

    std::unique_ptr<vorin::platform::TestLine> linia_;
    std::thread drukarka_;
    std::vector<uint8_t> odebrane_;
};

TEST_F(Linia, LoaderBlockCrossesTheLine) {
    OtwarciePortu();
    ASSERT_EQ(PortOtwarty, 1);
    Drukarka({{2, {0x06}}, {130, {0x00}}, {130, {0x00}}});

    SumaKontrolna = 0;
    ObszarNadawania[1] = 0x01;
    ObszarNadawania[2] = 0x40;
    for (unsigned p = 3; p <= 130; ++p) ObszarNadawania[p] = static_cast<uint8_t>(p);
    for (unsigned p = 1; p <= 130; ++p) AktualizacjaCRC(ObszarNadawania[p]);
    WykonanieRozkazu(1, 1, 130, 1);
    ASSERT_EQ(KodWyniku, 0);
    for (unsigned p = 1; p <= 128; ++p) {
        ObszarNadawania[p] = static_cast<uint8_t>(0x80 + p);
        AktualizacjaCRC(ObszarNadawania[p]);
    }
    ObszarNadawania[129] = BajtSlowa(2, SumaKontrolna);
    ObszarNadawania[130] = BajtSlowa(1, SumaKontrolna);
    WymianaRamki(Prefiks::Kontynuacja, 0, 0, 130, 1);
    EXPECT_EQ(KodWyniku, 0);

    const std::vector<uint8_t> b = Odebrane();
    ASSERT_EQ(b.size(), 262u);
    EXPECT_EQ(b[0], 0x1B);
    EXPECT_EQ(b[1], 0x01);
    EXPECT_EQ(b[2], 0x01);
    EXPECT_EQ(b[3], 0x40);
    // The printer's own check: CRC over block number and data, sent high byte first.
    SumaKontrolna = 0;
    for (std::size_t i = 2; i < 260; ++i) AktualizacjaCRC(b[i]);
    EXPECT_EQ(b[260], BajtSlowa(2, SumaKontrolna));
    EXPECT_EQ(b[261], BajtSlowa(1, SumaKontrolna));
}

TEST_F(Linia, StaleBytesFromAnEarlierAnswerAreDropped) {
    OtwarciePortu();
    ASSERT_EQ(PortOtwarty, 1);
    ASSERT_TRUE(linia_->Send({0x15, 0x15, 0x15}));  // left over from a previous request
    std::this_thread::sleep_for(milliseconds(200));
    Drukarka({{2, {0x06, 0x00}}});
    WymianaRamki(Prefiks::Rozkaz, 0x30, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 0);
}

TEST_F(Linia, SilentPrinterEndsAfterOneReadTimeout) {
    OtwarciePortu();
    ASSERT_EQ(PortOtwarty, 1);
    const auto start = steady_clock::now();
    WykonanieRozkazu(1, 1, 130, 1);
    const auto czas = steady_clock::now() - start;
    EXPECT_EQ(KodWyniku, 21);
    EXPECT_EQ(BladPortu, 1);
    EXPECT_LT(czas, seconds(5)) << "one read timeout of 1 s, not more";
    linia_->Drain();
}

TEST_F(Linia, LineWhoseFarEndIsGoneEndsTheExchange) {
    if (!linia_->CanHangUp()) GTEST_SKIP() << "the far end of this line cannot be hung up";
    OtwarciePortu();
    ASSERT_EQ(PortOtwarty, 1);
    linia_->HangUp();
    const auto start = steady_clock::now();
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 130, 1);
    EXPECT_TRUE(KodWyniku == 20 || KodWyniku == 21) << int(KodWyniku);
    EXPECT_EQ(BladPortu, 1);
    EXPECT_LT(steady_clock::now() - start, seconds(10));
}

TEST_F(Linia, OpenCloseAndPresence) {
    EXPECT_TRUE(ObecnoscPortu(NumerPortu));
    OtwarciePortu();
    ASSERT_EQ(PortOtwarty, 1);
    OtwarciePortu();  // reopens
    EXPECT_EQ(PortOtwarty, 1);
    ZamknieciePortu();
    EXPECT_EQ(PortOtwarty, 0);
}

TEST_F(Linia, LineCheckOnALineWithoutModemLinesFindsNoPrinter) {
    if (linia_->HasModemLines()) GTEST_SKIP() << "this line has modem lines";
    OtwarciePortu();
    ASSERT_EQ(PortOtwarty, 1);
    KontrolaLinii();
    EXPECT_EQ(KodWyniku, 57);
    EXPECT_EQ(StanLinii, 256u);
}

// Without a line: the real library reports a port that is not there.
TEST(BezLinii, MissingPortFailsCleanly) {
    PrzywrocOperacjePortu();
    UstawieniaDomyslneLacza();
    NumerPortu = 251;  // nothing is mapped there
    EXPECT_FALSE(ObecnoscPortu(NumerPortu));
    OtwarciePortu();
    EXPECT_EQ(PortOtwarty, 0);
    EXPECT_EQ(KodWyniku, 0) << "a failed open reports through the flag only";
    // An exchange without an open port fails at its first byte instead of waiting.
    const auto start = steady_clock::now();
    WykonanieRozkazu(1, 1, 130, 1);
    EXPECT_EQ(KodWyniku, 20);
    EXPECT_EQ(BladPortu, 1);
    EXPECT_LT(steady_clock::now() - start, seconds(2));
    UstawieniaDomyslneLacza();
}

}  // namespace

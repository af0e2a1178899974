// Port binding: what the link asks of the port when it opens, closes, changes
// speed, selects a multiplexer channel and checks the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/test_peer.h"

using namespace vorin::link;
using vorin::link::test::DrukarkaSkryptowa;
using Wywolania = std::vector<std::string>;

namespace {

class Port : public ::testing::Test {
protected:
    DrukarkaSkryptowa drukarka_;
    void SetUp() override { PortOtwarty = 0; }
};

// ---- Presence, open and close -------------------------------------------------------------

TEST_F(Port, LoaderOpenUsesTheDefaults) {
    NumerPortu = 3;
    Predkosc = 38400;
    OtwarciePortu();
    EXPECT_EQ(PortOtwarty, 1);
    EXPECT_EQ(drukarka_.Wywolania(), (Wywolania{"CTS 1", "Init 3 38400 3 3", "Parity 2"}));
    EXPECT_EQ(KodWyniku, 0);
}

TEST_F(Port, OpeningTwiceClosesInBetween) {
    OtwarciePortu();
    OtwarciePortu();
    EXPECT_EQ(drukarka_.Wywolania(), (Wywolania{"CTS 1", "Init 1 9600 3 3", "Parity 2", "UnInit",
                                                "CTS 1", "Init 1 9600 3 3", "Parity 2"}));
}

TEST_F(Port, FailedOpenLeavesTheFlagClearAndSetsNothingElse) {
    TrybMux = 1;
    drukarka_.wynikInicjalizacji = 5;
    OtwarciePortu();
    EXPECT_EQ(PortOtwarty, 0);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(drukarka_.Wywolania(), (Wywolania{"CTS 1", "Init 1 9600 3 3"}));
    drukarka_.WyczyscZapis();
    ZamknieciePortu();
    EXPECT_TRUE(drukarka_.Wywolania().empty());
}

TEST_F(Port, CloseCallsTheLibraryOnlyForAnOpenPort) {
    ZamknieciePortu();
    EXPECT_TRUE(drukarka_.Wywolania().empty());
    PortOtwarty = 1;
    ZamknieciePortu();
    EXPECT_EQ(PortOtwarty, 0);
    ZamknieciePortu();
    EXPECT_EQ(drukarka_.Wywolania(), (Wywolania{"UnInit"}));
}

TEST_F(Port, ParityCodesOutsideTheThreeAreNotPassed) {
    for (uint8_t kod : {0, 1, 2, 3, 255}) {
        drukarka_.WyczyscZapis();
        KodParzystosci = kod;
        OtwarciePortu();
        const Wywolania w = drukarka_.Wywolania();
        const bool parzystosc =
            std::find(w.begin(), w.end(), "Parity " + std::to_string(kod)) != w.end();
        EXPECT_EQ(parzystosc, kod <= 2) << int(kod);
    }
}

TEST_F(Port, TimeoutsTooLongForTheLibraryAreHeldAtItsMaximum) {
    TimeoutZapisu = 70000;
    TimeoutOdczytu = 65536;
    OtwarciePortu();
    EXPECT_EQ(drukarka_.Wywolania()[1], "Init 1 9600 65535 65535") << "not wrapped round to 0";
}

TEST_F(Port, SpeedChoiceSetsParityAndDropsFlowControl) {
    const struct {
        uint32_t predkosc;
        uint8_t parzystoscPrzed;
        uint8_t parzystoscPo;
    } przypadki[] = {{9600, 2, 0}, {19200, 0, 2}, {38400, 1, 1}, {4800, 0, 0}};
    for (auto p : przypadki) {
        drukarka_.WyczyscZapis();
        Predkosc = p.predkosc;
        KodParzystosci = p.parzystoscPrzed;
        UstawienieCTS = 1;
        UstawieniePredkosci();
        EXPECT_EQ(KodParzystosci, p.parzystoscPo) << p.predkosc;
        EXPECT_EQ(UstawienieCTS, 0);
        const Wywolania w = drukarka_.Wywolania();
        EXPECT_NE(std::find(w.begin(), w.end(), "CTS 0"), w.end());
        EXPECT_NE(std::find(w.begin(), w.end(), "Parity " + std::to_string(p.parzystoscPo)),
                  w.end());
    }
}

// ---- Single bytes and the port I/O error flag ------------------------------------------------

TEST_F(Port, ByteCallsSetTheErrorFlagOnlyWhileTheyFail) {
    drukarka_.ZapisyPrzechodza(1);
    EXPECT_TRUE(ZapisBajtu(0x41));
    EXPECT_EQ(BladPortu, 0);
    EXPECT_FALSE(ZapisBajtu(0x42));
    EXPECT_EQ(BladPortu, 1);
    drukarka_.Wyslij({0x99});
    EXPECT_EQ(OdczytBajtu(), 0x99);
    EXPECT_EQ(BladPortu, 0);
    EXPECT_EQ(OdczytBajtu(), 0);
    EXPECT_EQ(BladPortu, 1);
    EXPECT_EQ(drukarka_.Zapisane(), (std::vector<uint8_t>{0x41}));
}

// ---- Channel selection by multiplexer mode --------------------------------------------------

TEST_F(Port, ModeOneSelectsTheChannelWithTheModemLines) {
    TrybMux = 1;
    NumerKanalu = 3;
    OtwarciePortu();
    EXPECT_EQ(drukarka_.Wywolania(),
              (Wywolania{"CTS 1", "Init 1 9600 3 3", "Parity 2", "Kanal 3"}));
}

TEST_F(Port, ModeTwoOpensWithTheMultiplexerSettingsOnChannelTwo) {
    TrybMux = 2;
    Predkosc = 19200;
    KodParzystosci = 0;
    NumerKanalu = 2;
    TimeoutZapisuMux = 7;
    TimeoutOdczytuMux = 11;
    OtwarciePortu();
    EXPECT_EQ(drukarka_.Wywolania(),
              (Wywolania{"CTS 1", "Init 1 19200 7 11", "Parity 0", "Kanal 2"}));
}

TEST_F(Port, ModeThreeSwitchesAt9600WithRtsRaised) {
    TrybMux = 3;
    NumerKanalu = 3;
    Predkosc = 38400;
    OtwarciePortu();
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(Predkosc, 38400u);
    EXPECT_EQ(drukarka_.Wywolania(),
              (Wywolania{"CTS 1", "Init 1 38400 3 3", "Parity 2", "Pause 1000", "Speed 9600",
                         "RTS+", "Clear", "W 1B", "W 01", "W 03", "Pause 1000", "RTS-",
                         "Pause 1000", "Speed 38400"}));
    ASSERT_EQ(drukarka_.Zapisy().size(), 3u);
    for (const auto& z : drukarka_.Zapisy()) {
        EXPECT_EQ(z.predkosc, 9600u);
        EXPECT_TRUE(z.rts);
    }
    EXPECT_EQ(drukarka_.predkosc, 38400u);
    EXPECT_EQ(LicznikRozkazow, 1u);
}

TEST_F(Port, FailedModeThreeSwitchKeepsTheConfiguredSpeed) {
    TrybMux = 3;
    Predkosc = 38400;
    drukarka_.ZapisyPrzechodza(1);
    OtwarciePortu();
    EXPECT_EQ(KodWyniku, 52);
    EXPECT_EQ(Predkosc, 38400u);
    EXPECT_EQ(drukarka_.predkosc, 38400u);
    const Wywolania w = drukarka_.Wywolania(false);
    EXPECT_EQ(std::count(w.begin(), w.end(), "RTS-"), 0) << "the switch stops at the first check";
    EXPECT_EQ(w.back(), "Speed 38400");

    // The next open switches again from the configured speed.
    KodWyniku = 0;
    drukarka_.WyczyscZapis();
    drukarka_.ZapisyPrzechodza(100);
    OtwarciePortu();
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(drukarka_.Wywolania(false)[0], "UnInit") << "a failed switch leaves the port open";
    EXPECT_EQ(drukarka_.Wywolania(false)[2], "Init 1 38400 3 3");
    EXPECT_EQ(drukarka_.Zapisy().front().predkosc, 9600u);
    EXPECT_EQ(drukarka_.predkosc, 38400u);
}

TEST_F(Port, ModeThreeAfterAFailedExchangeStartsWithACleanFlag) {
    TrybMux = 3;
    BladPortu = 1;  // the last byte call on the previous port timed out
    OtwarciePortu();
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(drukarka_.Zapisane().size(), 3u);
}

TEST_F(Port, ModeThreeReturnsToASpeedAbove16BitsByReopening) {
    TrybMux = 3;
    Predkosc = 115200;
    OtwarciePortu();
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(PortOtwarty, 1);
    EXPECT_EQ(drukarka_.predkosc, 115200u);
    const Wywolania w = drukarka_.Wywolania(false);
    const Wywolania koniec(w.end() - 4, w.end());
    EXPECT_EQ(koniec, (Wywolania{"UnInit", "CTS 1", "Init 1 115200 3 3", "Parity 2"}));
    EXPECT_EQ(std::count(w.begin(), w.end(), "Speed 49664"), 0);
}

TEST_F(Port, ModeThreeReopenThatFailsIsASwitchFailure) {
    TrybMux = 3;
    Predkosc = 115200;
    drukarka_.InicjalizacjePrzechodza(1);
    OtwarciePortu();
    EXPECT_EQ(KodWyniku, 52);
    EXPECT_EQ(PortOtwarty, 0);
    EXPECT_EQ(Predkosc, 115200u);
}

// ---- Line check --------------------------------------------------------------------------

TEST_F(Port, LineCheckPassesWhenDsrFollowsRtsAndCarrierIsOn) {
    KontrolaLinii();
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(StanLinii, 0u);
    EXPECT_EQ(drukarka_.Wywolania(),
              (Wywolania{"RTS+", "Pause 100", "Modem", "RTS-", "Pause 100", "Modem", "Modem"}));
}

TEST_F(Port, LineCheckFailuresTellWhichHalfFailed) {
    const struct {
        bool dsrZaRts, dsrStale, dcd;
        uint32_t stan;
    } przypadki[] = {{true, true, true, 256},
                     {false, false, true, 256},
                     {true, false, false, 257},
                     {false, false, false, 256}};
    for (auto p : przypadki) {
        KodWyniku = 0;
        StanLinii = 12345;
        drukarka_.WyczyscZapis();
        drukarka_.dsrZaRts = p.dsrZaRts;
        drukarka_.dsrStale = p.dsrStale;
        drukarka_.dcd = p.dcd;
        KontrolaLinii();
        EXPECT_EQ(KodWyniku, 57);
        EXPECT_EQ(StanLinii, p.stan);
        const Wywolania w = drukarka_.Wywolania();
        EXPECT_EQ(std::count(w.begin(), w.end(), "RTS+") + std::count(w.begin(), w.end(), "RTS-"),
                  4);
        EXPECT_EQ(std::count(w.begin(), w.end(), "Pause 100"), 4) << "at least 400 ms";
    }
}

}  // namespace

// The frame exchange against a scripted printer: what goes on the line and
// which result code each printer answer gives.
#include <gtest/gtest.h>

#include <vector>

#include "link/link.h"
#include "link/test_peer.h"

using namespace vorin::link;
using vorin::link::test::DrukarkaSkryptowa;
using vorin::link::test::Hex;

namespace {

class Wymiana : public ::testing::Test {
protected:
    DrukarkaSkryptowa drukarka_;

    static void WypelnijNadawanie(unsigned ile, uint8_t od = 1) {
        for (unsigned p = 1; p <= ile; ++p) ObszarNadawania[p] = static_cast<uint8_t>(od + p - 1);
    }
    static std::vector<uint8_t> Ciag(unsigned ile, uint8_t od = 1) {
        std::vector<uint8_t> v;
        for (unsigned i = 0; i < ile; ++i) v.push_back(static_cast<uint8_t>(od + i));
        return v;
    }
};

// ---- Prefix modes --------------------------------------------------------------------

TEST_F(Wymiana, CommandWithNoLengthsSendsEscAndCommandOnly) {
    WymianaRamki(Prefiks::Rozkaz, 0x42, 0, 0, 0);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(drukarka_.Zapisane(), (std::vector<uint8_t>{0x1B, 0x42}));
    EXPECT_EQ(drukarka_.Odczyty(), 0u);
    ASSERT_FALSE(drukarka_.Wywolania().empty());
    EXPECT_EQ(drukarka_.Wywolania().front(), "Clear")
        << "stale bytes are dropped before the request";
}

TEST_F(Wymiana, PlainCommandModeSendsTheSamePrefix) {
    WypelnijNadawanie(2);
    WymianaRamki(Prefiks::RozkazProsty, 0x42, 0, 2, 0);
    EXPECT_EQ(drukarka_.Zapisane(), (std::vector<uint8_t>{0x1B, 0x42, 1, 2}));
}

TEST_F(Wymiana, ContinuationSendsTheBodyWithoutPrefix) {
    WypelnijNadawanie(130, 0x10);
    drukarka_.Wyslij({0x00});
    WymianaRamki(Prefiks::Kontynuacja, 0, 0, 130, 1);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(drukarka_.Zapisane(), Ciag(130, 0x10));
    EXPECT_EQ(drukarka_.Odczyty(), 1u);
}

TEST_F(Wymiana, FullBodyOf255BytesGoesOutAndTheLongestAnswersFit) {
    WypelnijNadawanie(255);
    drukarka_.Wyslij({0x06});
    drukarka_.Wyslij(Ciag(254, 1));
    drukarka_.Wyslij({0x00});
    drukarka_.Wyslij(Ciag(254, 2));
    WymianaRamki(Prefiks::Rozkaz, 0x50, 255, 255, 255);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(drukarka_.Zapisane().size(), 2u + 255u);
    EXPECT_EQ(ObszarOdpowiedzi[1], 2);
    EXPECT_EQ(ObszarOdpowiedzi[254], static_cast<uint8_t>(255));
    EXPECT_EQ(drukarka_.NieodczytaneBajty(), 0u);
}

// ---- Acknowledgement mapping -----------------------------------------------------------

struct PrzypadekPotwierdzenia {
    uint8_t tryb;
    uint8_t bajt;
    uint8_t kod;
};

class MapowaniePotwierdzenia : public Wymiana,
                               public ::testing::WithParamInterface<PrzypadekPotwierdzenia> {};

TEST_P(MapowaniePotwierdzenia, RefusedCommandKeepsTheBodyBack) {
    const auto p = GetParam();
    WypelnijNadawanie(130);
    drukarka_.Wyslij({p.bajt, 0x00});
    WymianaRamki(p.tryb, 0x01, 1, 130, 1);
    EXPECT_EQ(KodWyniku, p.kod);
    EXPECT_EQ(ObszarOdpowiedzi[1], p.bajt);
    const std::size_t prefiks = p.tryb == Prefiks::Kontynuacja ? 0 : 2;
    EXPECT_EQ(drukarka_.Zapisane().size(), prefiks) << "body must not follow a refused command";
    EXPECT_EQ(drukarka_.Odczyty(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Tryby, MapowaniePotwierdzenia,
    ::testing::Values(PrzypadekPotwierdzenia{0, 0x01, 101}, PrzypadekPotwierdzenia{0, 0x15, 24},
                      PrzypadekPotwierdzenia{0, 0x65, 201}, PrzypadekPotwierdzenia{0, 0xC8, 26},
                      PrzypadekPotwierdzenia{0, 0x00, 23}, PrzypadekPotwierdzenia{0, 0x07, 23},
                      PrzypadekPotwierdzenia{1, 0x15, 24}, PrzypadekPotwierdzenia{1, 0x01, 23},
                      PrzypadekPotwierdzenia{1, 0x65, 23}, PrzypadekPotwierdzenia{1, 0xC8, 23},
                      PrzypadekPotwierdzenia{2, 0x15, 24}, PrzypadekPotwierdzenia{2, 0x01, 23},
                      PrzypadekPotwierdzenia{2, 0xC8, 23}));

TEST_F(Wymiana, NakToTheLoadersBlockRequestSendsNoBody) {
    WypelnijNadawanie(130);
    drukarka_.Wyslij({0x15});
    WykonanieRozkazu(1, 1, 130, 1);
    EXPECT_EQ(KodWyniku, 24);
    EXPECT_EQ(drukarka_.Zapisane(), (std::vector<uint8_t>{0x1B, 0x01}));
}

TEST_F(Wymiana, UncheckedAcknowledgementsLetAnyByteThrough) {
    for (uint8_t rozkaz : {0x90, 0x94, 0x95, 0x96, 0x9B, 0x9D, 0x9F}) {
        KodWyniku = 0;
        drukarka_.WyczyscZapis();
        ObszarNadawania[1] = 0x77;
        drukarka_.Wyslij({0x15, 0x00});
        WymianaRamki(Prefiks::Rozkaz, rozkaz, 1, 1, 1);
        EXPECT_EQ(KodWyniku, 0) << Hex(rozkaz);
        EXPECT_EQ(drukarka_.Zapisane(), (std::vector<uint8_t>{0x1B, rozkaz, 0x77})) << Hex(rozkaz);
    }
}

// ---- Status rules ----------------------------------------------------------------------

struct PrzypadekStatusu {
    uint8_t status;
    uint8_t kod;
};

class RegulyStatusu : public Wymiana, public ::testing::WithParamInterface<PrzypadekStatusu> {};

TEST_P(RegulyStatusu, StatusByteGivesItsCodeAndStopsTheAnswer) {
    const auto p = GetParam();
    drukarka_.Wyslij({0x06, p.status, 0x31, 0x32, 0x33});
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 0, 4);
    EXPECT_EQ(KodWyniku, p.kod) << "status " << int(p.status);
    if (p.kod == 0) {
        EXPECT_EQ(drukarka_.NieodczytaneBajty(), 0u);
        EXPECT_EQ(ObszarOdpowiedzi[1], 0x31);
    } else {
        EXPECT_EQ(drukarka_.NieodczytaneBajty(), 3u) << "nothing is read after a refused status";
        EXPECT_EQ(ObszarOdpowiedzi[1], p.status);
    }
}

INSTANTIATE_TEST_SUITE_P(Bajty, RegulyStatusu,
                         ::testing::Values(PrzypadekStatusu{0x00, 0}, PrzypadekStatusu{0x01, 23},
                                           PrzypadekStatusu{0x02, 102}, PrzypadekStatusu{0x05, 105},
                                           PrzypadekStatusu{0x06, 23}, PrzypadekStatusu{0x07, 107},
                                           PrzypadekStatusu{18, 118}, PrzypadekStatusu{19, 23},
                                           PrzypadekStatusu{99, 23}, PrzypadekStatusu{100, 200},
                                           PrzypadekStatusu{109, 209}, PrzypadekStatusu{0x6E, 23},
                                           PrzypadekStatusu{111, 211}, PrzypadekStatusu{112, 212},
                                           PrzypadekStatusu{113, 23}, PrzypadekStatusu{114, 23},
                                           PrzypadekStatusu{115, 215}, PrzypadekStatusu{116, 23},
                                           PrzypadekStatusu{117, 217}, PrzypadekStatusu{118, 23},
                                           PrzypadekStatusu{119, 23}, PrzypadekStatusu{120, 220},
                                           PrzypadekStatusu{0x83, 231}, PrzypadekStatusu{0x84, 23},
                                           PrzypadekStatusu{0xFF, 23}));

TEST_F(Wymiana, CommandA0TakesAckAsSuccessStatus) {
    drukarka_.Wyslij({0x06, 0x06, 0x44});
    WymianaRamki(Prefiks::Rozkaz, 0xA0, 1, 0, 2);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(ObszarOdpowiedzi[1], 0x44);

    KodWyniku = 0;
    drukarka_.Wyslij({0x06, 0x07});
    WymianaRamki(Prefiks::Rozkaz, 0xA0, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 107);

    KodWyniku = 0;
    drukarka_.Wyslij({0x06, 0x06});
    WymianaRamki(Prefiks::Rozkaz, 0xA1, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 23) << "only 0xA0 accepts 0x06 as status";
}

TEST_F(Wymiana, UncheckedStatusCommandsReadOnWhateverTheStatus) {
    for (uint8_t rozkaz : {0x11, 0x31, 0x72, 0xF9}) {
        KodWyniku = 0;
        drukarka_.Wyslij({0x06, 0x55, 0x66});
        WymianaRamki(Prefiks::Rozkaz, rozkaz, 1, 0, 2);
        EXPECT_EQ(KodWyniku, 0) << Hex(rozkaz);
        EXPECT_EQ(ObszarOdpowiedzi[1], 0x66) << Hex(rozkaz);
    }
}

TEST_F(Wymiana, ExchangeLeavesAnEarlierCodeStanding) {
    KodWyniku = 5;
    drukarka_.Wyslij({0x06, 0x00});
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 5);
}

// ---- Record lengths and the 0xFF early end ---------------------------------------------

TEST_F(Wymiana, RecordListEndsAtAnFFThatStartsARecord) {
    struct {
        unsigned pozycjaFF;
        std::size_t odczyty;  // acknowledgement included
    } const przypadki[] = {{14, 15}, {13, 40}, {1, 2}, {27, 28}, {26, 40}};
    for (auto p : przypadki) {
        KodWyniku = 0;
        drukarka_.WyczyscZapis();
        std::vector<uint8_t> lista(39, 0x20);
        lista[p.pozycjaFF - 1] = 0xFF;
        drukarka_.Wyslij({0x06});
        drukarka_.Wyslij(lista);
        WymianaRamki(Prefiks::Rozkaz, 0x47, 40, 0, 0);
        EXPECT_EQ(KodWyniku, 0);
        EXPECT_EQ(drukarka_.Odczyty(), p.odczyty) << "0xFF at " << p.pozycjaFF;
        EXPECT_EQ(ObszarOdpowiedzi[p.pozycjaFF], 0xFF) << "the end mark is kept";
        // Drop what a list that ended early left on the line.
        while (drukarka_.NieodczytaneBajty() > 0) OdczytBajtu();
    }
}

TEST_F(Wymiana, ArticleListOfCommand0AHasRecordsOnlyInItsListForm) {
    std::vector<uint8_t> lista(109, 0x41);
    lista[27] = 0xFF;  // position 28
    drukarka_.Wyslij({0x06});
    drukarka_.Wyslij(lista);
    WymianaRamki(Prefiks::Rozkaz, 0x0A, 110, 0, 0);
    EXPECT_EQ(drukarka_.Odczyty(), 29u);
    EXPECT_EQ(DlugoscRekordu(0x0A, 110, 0, 0), 27);
    EXPECT_EQ(DlugoscRekordu(0x0B, 110, 0, 0), 27);
    EXPECT_EQ(DlugoscRekordu(0x0A, 110, 0, 1), 0);
    EXPECT_EQ(DlugoscRekordu(0x0A, 109, 0, 0), 0);
    EXPECT_EQ(DlugoscRekordu(0x0B, 110, 1, 0), 0);
}

TEST_F(Wymiana, RecordLengthTable) {
    const struct {
        uint8_t rozkaz;
        uint8_t dlugosc;
    } stale[] = {{0x47, 13}, {0x48, 13}, {0xA2, 11}, {0xA3, 11}, {0xA5, 11}, {0xAD, 16},
                 {0xAE, 16}, {0xD5, 29}, {0xD6, 29}, {0xE7, 4},  {0xE9, 20}, {0xEE, 20},
                 {0xEA, 8},  {0x01, 0},  {0xA4, 0},  {0xE5, 0}};
    for (auto s : stale) EXPECT_EQ(DlugoscRekordu(s.rozkaz, 1, 0, 1), s.dlugosc) << Hex(s.rozkaz);

    const struct {
        uint8_t wybor;
        uint8_t dlugosc;
    } a1[] = {{0x00, 17}, {0x80, 17}, {0x01, 21}, {0x81, 21}, {0x02, 30}, {0x82, 30}, {0x03, 38},
              {0x83, 38}, {0x10, 12}, {0x90, 12}, {0x04, 0},  {0x11, 0},  {0x84, 0},  {0xFF, 0}};
    for (auto s : a1) {
        ObszarNadawania[1] = s.wybor;
        EXPECT_EQ(DlugoscRekordu(0xA1, 1, 1, 1), s.dlugosc) << "selector " << Hex(s.wybor);
    }
}

TEST_F(Wymiana, UnknownA1ListIsReadToItsFullLength) {
    ObszarNadawania[1] = 0x04;
    std::vector<uint8_t> lista(20, 0xFF);
    drukarka_.Wyslij({0x06});
    drukarka_.Wyslij(lista);
    WymianaRamki(Prefiks::Rozkaz, 0xA1, 21, 1, 0);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(drukarka_.Odczyty(), 21u);
}

TEST_F(Wymiana, StatusPhaseEndsRecordListsToo) {
    // 0xE7 has 4-byte records: after the status, an 0xFF at answer position 5 ends the list.
    drukarka_.Wyslij({0x06, 0x00, 1, 2, 3, 4, 0xFF, 9, 9, 9});
    WymianaRamki(Prefiks::Rozkaz, 0xE7, 1, 0, 10);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(drukarka_.Odczyty(), 7u);
    EXPECT_EQ(ObszarOdpowiedzi[5], 0xFF);
}

// ---- 0xE5, 0x9A, 0xFC: the status byte as answer tag ----------------------------------------

TEST_F(Wymiana, DescriptionCommandE5ReadsTheLengthItsStatusAnnounces) {
    const struct {
        uint8_t status;
        uint8_t typ;
        std::size_t dalej;
    } przypadki[] = {{0xFA, 0x18, 38}, {0xFA, 0x1B, 38}, {0xFA, 0x19, 42}, {0xFA, 0x00, 42},
                     {0xFB, 0x00, 17}, {0xFC, 0x00, 8},  {0xFD, 0x00, 0},  {0xFE, 0x00, 0}};
    for (auto p : przypadki) {
        KodWyniku = 0;
        ObszarOdpowiedzi.Zeruj();
        drukarka_.WyczyscZapis();
        KodTypuUrzadzenia = p.typ;
        drukarka_.Wyslij({0x06, p.status});
        drukarka_.Wyslij(Ciag(50, 0x30));
        WymianaRamki(Prefiks::Rozkaz, 0xE5, 1, 0, 1);
        EXPECT_EQ(KodWyniku, 0) << Hex(p.status);
        EXPECT_EQ(ZnacznikOdpowiedzi, p.status);
        EXPECT_EQ(drukarka_.Odczyty(), 2 + p.dalej) << Hex(p.status) << " type " << Hex(p.typ);
        EXPECT_EQ(ObszarOdpowiedzi[1], p.dalej ? 0x30 : 0) << Hex(p.status);
        while (drukarka_.NieodczytaneBajty() > 0) OdczytBajtu();
    }
}

TEST_F(Wymiana, DescriptionCommandE5RefusesOtherStatusBytes) {
    for (uint8_t status : {0x00, 0x02, 0xF9, 0xFF}) {
        KodWyniku = 0;
        ZnacznikOdpowiedzi = 0x11;
        drukarka_.WyczyscZapis();
        drukarka_.Wyslij({0x06, status, 0x30});
        WymianaRamki(Prefiks::Rozkaz, 0xE5, 1, 0, 1);
        EXPECT_EQ(KodWyniku, 23) << Hex(status);
        EXPECT_EQ(ZnacznikOdpowiedzi, 0x11) << "the tag is left alone";
        EXPECT_EQ(drukarka_.Odczyty(), 2u);
        OdczytBajtu();
    }
}

TEST_F(Wymiana, Commands9AAndFCPutTheirStatusIntoTheTag) {
    for (uint8_t rozkaz : {0x9A, 0xFC}) {
        KodWyniku = 0;
        drukarka_.Wyslij({0x06, 0x37, 0x41});
        WymianaRamki(Prefiks::Rozkaz, rozkaz, 1, 0, 2);
        EXPECT_EQ(KodWyniku, 0) << Hex(rozkaz);
        EXPECT_EQ(ZnacznikOdpowiedzi, 0x37);
        EXPECT_EQ(ObszarOdpowiedzi[1], 0x41);

        drukarka_.Wyslij({0x06, 0x07});
        WymianaRamki(Prefiks::Rozkaz, rozkaz, 1, 0, 1);
        EXPECT_EQ(KodWyniku, 0) << "a tag byte is never a printer error";
        EXPECT_EQ(ZnacznikOdpowiedzi, 0x07);
        EXPECT_EQ(ObszarOdpowiedzi[1], 0);
    }
}

// ---- Status 122 and its two extra bytes ---------------------------------------------------

TEST_F(Wymiana, Status122BringsTwoMoreBytesOnADirectLine) {
    drukarka_.Wyslij({0x06, 122, 0xC1, 0xC2, 0xC3});
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 222);
    EXPECT_EQ(ObszarOdpowiedzi[1], 0xC1);
    EXPECT_EQ(ObszarOdpowiedzi[2], 0xC2);
    EXPECT_EQ(drukarka_.NieodczytaneBajty(), 1u);
}

TEST_F(Wymiana, Status122WithAMissingExtraByteIsAReceiveTimeout) {
    drukarka_.Wyslij({0x06, 122, 0xC1});
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 21);
    EXPECT_EQ(ObszarOdpowiedzi[1], 0xC1);
}

// ---- Line failures and the port I/O error flag -------------------------------------------

TEST_F(Wymiana, FailedPrefixWriteEndsEverything) {
    for (std::size_t przechodzi : {0u, 1u}) {
        KodWyniku = 0;
        drukarka_.WyczyscZapis();
        drukarka_.ZapisyPrzechodza(przechodzi);
        drukarka_.Wyslij({0x06, 0x00});
        WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 130, 1);
        EXPECT_EQ(KodWyniku, 20);
        EXPECT_EQ(drukarka_.Zapisane().size(), przechodzi);
        EXPECT_EQ(drukarka_.Odczyty(), 0u);
        EXPECT_EQ(BladPortu, 1);
        drukarka_.ZapisyPrzechodza(1000);
        while (drukarka_.NieodczytaneBajty() > 0) OdczytBajtu();
    }
}

TEST_F(Wymiana, FailedBodyWriteStopsAtThatByte) {
    WypelnijNadawanie(130);
    drukarka_.Wyslij({0x06, 0x00});
    drukarka_.ZapisyPrzechodza(2 + 4);
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 130, 1);
    EXPECT_EQ(KodWyniku, 20);
    EXPECT_EQ(drukarka_.Zapisane(), (std::vector<uint8_t>{0x1B, 0x01, 1, 2, 3, 4}));
    EXPECT_EQ(drukarka_.Odczyty(), 1u) << "no status is awaited after a failed body";
    EXPECT_EQ(BladPortu, 1);
}

TEST_F(Wymiana, SilentPrinterIsOneReceiveTimeout) {
    WypelnijNadawanie(130);
    WykonanieRozkazu(1, 1, 130, 1);
    EXPECT_EQ(KodWyniku, 21);
    EXPECT_EQ(drukarka_.Odczyty(), 1u);
    EXPECT_EQ(drukarka_.Zapisane().size(), 2u);
    EXPECT_EQ(BladPortu, 1);

    // The flag follows the last byte call: the next good exchange clears it.
    KodWyniku = 0;
    drukarka_.Wyslij({0x06, 0x00});
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(BladPortu, 0);
}

TEST_F(Wymiana, AnswerThatStopsHalfwayIsAReceiveTimeout) {
    drukarka_.Wyslij({0x06, 0x00, 0x01, 0x02});
    drukarka_.Milczy();
    drukarka_.Wyslij({0x03});
    WymianaRamki(Prefiks::Rozkaz, 0x30, 1, 0, 10);
    EXPECT_EQ(KodWyniku, 21);
    EXPECT_EQ(drukarka_.Odczyty(), 5u);
    EXPECT_EQ(ObszarOdpowiedzi[2], 0x02);
}

// ---- The loader's block upload -----------------------------------------------------------

TEST_F(Wymiana, LoaderBlockGoesOutAsTheWireTableShows) {
    std::vector<uint8_t> blok(256);
    for (int i = 0; i < 256; ++i) blok[i] = static_cast<uint8_t>(i * 3 + 1);
    const uint32_t numer = 320;

    SumaKontrolna = 0;
    ObszarNadawania[1] = BajtSlowa(2, numer);
    ObszarNadawania[2] = BajtSlowa(1, numer);
    for (int i = 0; i < 128; ++i) ObszarNadawania[3 + i] = blok[i];
    for (int p = 1; p <= 130; ++p) AktualizacjaCRC(ObszarNadawania[p]);
    drukarka_.Wyslij({0x06, 0x00, 0x00});
    WykonanieRozkazu(1, 1, 130, 1);
    ASSERT_EQ(KodWyniku, 0);
    for (int i = 0; i < 128; ++i) {
        ObszarNadawania[1 + i] = blok[128 + i];
        AktualizacjaCRC(blok[128 + i]);
    }
    ObszarNadawania[129] = BajtSlowa(2, SumaKontrolna);
    ObszarNadawania[130] = BajtSlowa(1, SumaKontrolna);
    WymianaRamki(Prefiks::Kontynuacja, 0, 0, 130, 1);
    ASSERT_EQ(KodWyniku, 0);

    // The printer's view: the whole request, and a checksum it can verify.
    std::vector<uint8_t> oczekiwane = {0x1B, 0x01, 0x01, 0x40};
    oczekiwane.insert(oczekiwane.end(), blok.begin(), blok.begin() + 128);
    oczekiwane.insert(oczekiwane.end(), blok.begin() + 128, blok.end());
    uint32_t suma = 0;
    SumaKontrolna = 0;
    for (std::size_t i = 2; i < oczekiwane.size(); ++i) AktualizacjaCRC(oczekiwane[i]);
    suma = SumaKontrolna;
    oczekiwane.push_back(BajtSlowa(2, suma));
    oczekiwane.push_back(BajtSlowa(1, suma));
    EXPECT_EQ(drukarka_.Zapisane(), oczekiwane);
    EXPECT_EQ(drukarka_.Wywolania(false), (std::vector<std::string>{"Clear", "Clear"}));
}

TEST_F(Wymiana, LoaderSecondHalfStatusOneAndTwo) {
    drukarka_.Wyslij({0x01});
    WymianaRamki(Prefiks::Kontynuacja, 0, 0, 130, 1);
    EXPECT_EQ(KodWyniku, 23);
    EXPECT_EQ(ObszarOdpowiedzi[1], 1);

    KodWyniku = 0;
    drukarka_.Wyslij({0x02});
    WymianaRamki(Prefiks::Kontynuacja, 0, 0, 130, 1);
    EXPECT_EQ(KodWyniku, 102);
}

// ---- The request exchange and its seams ----------------------------------------------------

namespace serwer {
bool gPuszcza = true;
std::vector<uint32_t> gLiczniki;
int gObsluzone = 0;
bool Obsluga() {
    ++gObsluzone;
    if (!gPuszcza) KodWyniku = 56;
    return gPuszcza;
}
void Po(uint32_t licznik) { gLiczniki.push_back(licznik); }
}  // namespace serwer

TEST_F(Wymiana, RequestExchangeCountsEveryRequestWhateverItsOutcome) {
    drukarka_.Wyslij({0x06, 0x00});
    WykonanieRozkazu(0x30, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 0);
    WykonanieRozkazu(0x30, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 21);
    EXPECT_EQ(LicznikRozkazow, 2u);
}

TEST_F(Wymiana, ServerChannelIsServedFirstAndCanStopTheRequest) {
    const KanalSerwera kanal{serwer::Obsluga, serwer::Po};
    UstawKanalSerwera(&kanal);
    serwer::gPuszcza = true;
    serwer::gLiczniki.clear();
    serwer::gObsluzone = 0;
    drukarka_.Wyslij({0x06, 0x00});
    WykonanieRozkazu(0x30, 1, 0, 1);
    EXPECT_EQ(serwer::gObsluzone, 1);
    EXPECT_EQ(serwer::gLiczniki, (std::vector<uint32_t>{1}));

    serwer::gPuszcza = false;
    drukarka_.WyczyscZapis();
    WykonanieRozkazu(0x30, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 56);
    EXPECT_TRUE(drukarka_.Wywolania().empty()) << "no frame after BREAK";
    EXPECT_EQ(LicznikRozkazow, 1u);
    EXPECT_EQ(serwer::gLiczniki.size(), 1u);

    UstawKanalSerwera(nullptr);
    KodWyniku = 0;
    drukarka_.Wyslij({0x06, 0x00});
    WykonanieRozkazu(0x30, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(serwer::gObsluzone, 2) << "channel off: not served";
}

// ---- Multiplexer mode 2 through the transport seam ------------------------------------------

namespace mux {
std::vector<uint8_t> gLadunek;
std::size_t gIndeks = 0;
std::vector<uint8_t> gZadanie;  // prefix mode, command, lengths, record length
bool Zadanie(uint8_t tryb, uint8_t rozkaz, uint8_t potw, uint8_t tresc, uint8_t status,
             uint8_t rekord) {
    gZadanie = {tryb, rozkaz, potw, tresc, status, rekord};
    gIndeks = 0;
    return true;
}
bool Bajt(uint8_t* b) {
    if (gIndeks >= gLadunek.size()) {
        *b = 0;
        KodWyniku = 45;
        return false;
    }
    *b = gLadunek[gIndeks++];
    return true;
}
}  // namespace mux

TEST_F(Wymiana, MultiplexerModeReadsThePayloadAndWritesNothingItself) {
    const TransportMux transport{mux::Zadanie, mux::Bajt};
    UstawTransportMux(&transport);
    TrybMux = 2;
    WypelnijNadawanie(5);
    mux::gLadunek = {0x06, 0x13, 0x00, 0x21, 0x22};
    WymianaRamki(Prefiks::Rozkaz, 0x47, 2, 5, 3);
    EXPECT_EQ(KodWyniku, 0);
    EXPECT_EQ(mux::gZadanie, (std::vector<uint8_t>{0, 0x47, 2, 5, 3, 13}));
    EXPECT_TRUE(drukarka_.Zapisane().empty());
    EXPECT_EQ(drukarka_.Odczyty(), 0u);
    EXPECT_EQ(ObszarOdpowiedzi[1], 0x21);
    EXPECT_EQ(ObszarOdpowiedzi[2], 0x22);

    // Status 122 brings no extra bytes through the multiplexer.
    KodWyniku = 0;
    mux::gLadunek = {0x06, 122, 0xC1, 0xC2};
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 222);
    EXPECT_EQ(mux::gIndeks, 2u);
    EXPECT_EQ(ObszarOdpowiedzi[1], 122);

    // A payload shorter than the answer ends with the transport's code.
    KodWyniku = 0;
    mux::gLadunek = {0x06};
    WymianaRamki(Prefiks::Rozkaz, 0x01, 1, 0, 1);
    EXPECT_EQ(KodWyniku, 45);
}

}  // namespace

// The link's multiplexer transport against the simulator's multiplexer and
// printer, in one process: the link's port table is wired straight to the
// simulator's byte-fed objects (a write feeds the multiplexer, a read takes
// its next answer byte, an empty line reads as the read timeout at once). Each
// recovery rule of the transport meets the fault option that provokes it.
// Carrier detect is on, as on a multiplexer line; a pseudo-terminal cannot
// show it (the process test in tests/ answers it in the port table too).
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "device/device.h"
#include "device/internal.h"
#include "device/model_line.h"
#include "link/link.h"
#include "link/mux.h"
#include "link/port_ops.h"
#include "tests/support/port_table.h"
#include "sim/crc16.h"
#include "sim/mux.h"
#include "sim/printer.h"
#include "tests/support/temp_dir.h"

using namespace vorin;
using namespace vorin::link;

namespace {

class MuxLine;
MuxLine* gLine = nullptr;

// The simulator's end of the line.
class MuxLine {
public:
    explicit MuxLine(sim::MuxFaults faults, std::optional<sim::PrinterProfile> profile = {})
        : printer_({}, sim::Verbosity::Quiet, nullptr),
          mux_(
              std::move(faults),
              [this](uint8_t b, int64_t now, std::vector<uint8_t>& out) {
                  printer_.Receive(b, now, out);
              },
              [this](const std::string& line) { log.push_back(line); }, false) {
        if (profile) printer_.AttachDevice(std::move(*profile));
        gLine = this;
    }
    ~MuxLine() { gLine = nullptr; }

    int32_t Write(uint8_t b) {
        std::vector<uint8_t> out;
        mux_.Receive(b, 0, out);
        toHost_.insert(toHost_.end(), out.begin(), out.end());
        ++written;
        return 1;
    }
    int32_t Read(uint8_t* b) {
        if (toHost_.empty()) return 0;
        *b = toHost_.front();
        toHost_.pop_front();
        return 1;
    }
    void Clear() { toHost_.clear(); }

    sim::Printer& Printer() { return printer_; }
    sim::Multiplexer& Mux() { return mux_; }
    uint64_t written = 0;
    std::vector<uint16_t> pauses;
    std::vector<std::string> log;  // the multiplexer's log lines

private:
    sim::Printer printer_;
    sim::Multiplexer mux_;
    std::deque<uint8_t> toHost_;
};

const OperacjePortu kLinia = [] {
    OperacjePortu ops = test::IdlePortTable();
    ops.WriteByte = [](uint8_t b) -> int32_t { return gLine->Write(b); };
    ops.ReadByte = [](uint8_t* b) -> int32_t { return gLine->Read(b); };
    ops.ClearPort = []() -> int32_t {
        gLine->Clear();
        return 0;
    };
    ops.Opoznienie = [](uint16_t ms) { gLine->pauses.push_back(ms); };
    return ops;
}();

class MuxRecovery : public ::testing::Test {
protected:
    void SetUp() override {
        UstawieniaDomyslneLacza();
        UstawOperacjePortu(kLinia);
        PortOtwarty = 1;
        TrybMux = 2;
        Predkosc = 19200;
        NumerKanalu = 2;
        PredkoscDrukarki = 38400;
        KanalDrukarki = 1;
        TimeoutZapisu = 4;
        TimeoutOdczytu = 5;
        LimitPowtorzenMux = 3;
    }
    void TearDown() override {
        PrzywrocOperacjePortu();
        UstawieniaDomyslneLacza();
    }

    void Start(sim::MuxFaults faults = {}) { line_.emplace(std::move(faults)); }
    sim::Multiplexer& Mux() { return line_->Mux(); }
    const sim::MuxStats& Stats() { return line_->Mux().Stats(); }

    // Block `index` (0 = printer block 320) as the loader sends it, filled
    // with `fill`; the link's result code.
    uint8_t SendBlock(unsigned index, uint8_t fill) {
        const unsigned number = 320 + index;
        SumaKontrolna = 0;
        ObszarNadawania[1] = BajtSlowa(2, number);
        ObszarNadawania[2] = BajtSlowa(1, number);
        for (unsigned p = 3; p <= 130; ++p) ObszarNadawania[p] = fill;
        for (unsigned p = 1; p <= 130; ++p) AktualizacjaCRC(ObszarNadawania[p]);
        WykonanieRozkazu(1, 1, 130, 1);
        if (KodWyniku != 0) return KodWyniku;
        for (unsigned p = 1; p <= 128; ++p) {
            ObszarNadawania[p] = fill;
            AktualizacjaCRC(fill);
        }
        const uint32_t crc = SumaKontrolna;
        ObszarNadawania[129] = BajtSlowa(2, crc);
        ObszarNadawania[130] = BajtSlowa(1, crc);
        WymianaRamki(Prefiks::Kontynuacja, 0, 0, 130, 1);
        return KodWyniku;
    }
    bool Stored(unsigned index, uint8_t fill) {
        const std::vector<uint8_t>& image = line_->Printer().Image();
        for (unsigned i = 0; i < 256; ++i)
            if (image[index * 256 + i] != fill) return false;
        return true;
    }

    std::optional<MuxLine> line_;
};

sim::MuxFaults Control(uint8_t code, unsigned times) {
    sim::MuxFaults f;
    f.control = code;
    f.controlTimes = times;
    return f;
}

TEST_F(MuxRecovery, BlockGoesThroughWithThePrintersSettingsInTheFrames) {
    Start();
    ASSERT_EQ(SendBlock(0, 0x5A), 0);
    EXPECT_TRUE(Stored(0, 0x5A)) << "the frames left the loader's running checksum alone";
    EXPECT_EQ(Stats().printerRequests, 2u);
    EXPECT_EQ(Stats().badFrames, 0u);
    EXPECT_EQ(Stats().strayBytes, 0u);
    EXPECT_EQ(Stats().lastChannel, 1);
    EXPECT_EQ(Stats().lastAt19200, 0);
}

TEST_F(MuxRecovery, ChecksumErrorsAreRepeatedWithService6UpToTheLimit) {
    sim::MuxFaults f;
    f.badChecksum = 3;
    Start(f);
    ASSERT_EQ(SendBlock(0, 1), 0);
    EXPECT_EQ(Stats().services[6], 3u);
    EXPECT_EQ(Stats().printerRequests, 2u) << "the request itself is not sent again";
    EXPECT_TRUE(Stored(0, 1));

    f.badChecksum = 4;
    Start(f);
    KodWyniku = 0;
    EXPECT_EQ(SendBlock(1, 2), 34);
    EXPECT_EQ(Stats().services[6], 3u);
}

TEST_F(MuxRecovery, ControlCode1ResendsTheRequestUpToTheLimit) {
    Start(Control(1, 3));
    ASSERT_EQ(SendBlock(0, 3), 0);
    EXPECT_EQ(Stats().frames, 3u + 2u);
    EXPECT_TRUE(Stored(0, 3));

    Start(Control(1, 4));
    KodWyniku = 0;
    EXPECT_EQ(SendBlock(0, 3), 35);
    EXPECT_EQ(Stats().frames, 4u);
}

TEST_F(MuxRecovery, RetryLimit0NeverRetries) {
    LimitPowtorzenMux = 0;
    sim::MuxFaults f;
    f.badChecksum = 1;
    Start(f);
    EXPECT_EQ(SendBlock(0, 4), 34);
    EXPECT_EQ(Stats().services[6], 0u);

    Start(Control(1, 1));
    KodWyniku = 0;
    EXPECT_EQ(SendBlock(0, 4), 35);
    EXPECT_EQ(Stats().frames, 1u);
}

TEST_F(MuxRecovery, CodeRequestIsAnsweredOnceThenTheRequestGoesAgain) {
    KodMux = {'A', 'B', 'C', 'D', '1', '2', '3', '4'};
    Start(Control(0x10, 1));
    Mux().code = "ABCD1234";
    ASSERT_EQ(SendBlock(0, 5), 0);
    EXPECT_EQ(Stats().services[3], 1u);
    EXPECT_EQ(Stats().wrongCode, 0u);
    EXPECT_TRUE(Stored(0, 5));

    // Asked again after the request went out again: with the limit at 0 the
    // request goes out again once, then the complaint stands.
    LimitPowtorzenMux = 0;
    Start(Control(0x10, 2));
    Mux().code = "ABCD1234";
    KodWyniku = 0;
    EXPECT_EQ(SendBlock(0, 5), 39);
    EXPECT_EQ(Stats().services[3], 1u);
    EXPECT_EQ(Stats().frames, 3u);

    // A wrong code is asked for again in the same recovery: that ends it.
    Start(Control(0x10, 1));
    KodWyniku = 0;
    EXPECT_EQ(SendBlock(0, 5), 39);
    EXPECT_EQ(Stats().wrongCode, 1u);
}

TEST_F(MuxRecovery, SettingsRequestsThatNeverEndAreBoundedByTheLimit) {
    // Each service is accepted, and the next request is asked about again:
    // without a bound the request would go out for ever.
    LimitPowtorzenMux = 2;
    for (uint8_t code : {0x10, 0x20, 0x40}) {
        Start(Control(code, 1000));
        KodWyniku = 0;
        EXPECT_EQ(SendBlock(0, 6), code == 0x10 ? 39 : code == 0x20 ? 40 : 41);
        EXPECT_EQ(Stats().frames, 2u * LimitPowtorzenMux + 1u)
            << "request, then service and request twice";
    }
}

TEST_F(MuxRecovery, TimeoutRequestsBringTheLinksTimeouts) {
    Start(Control(0x20, 1));
    ASSERT_EQ(SendBlock(0, 7), 0);
    EXPECT_EQ(Stats().services[4], 1u);
    EXPECT_EQ(Mux().writeTimeout, 4);

    Start(Control(0x40, 1));
    ASSERT_EQ(SendBlock(0, 7), 0);
    EXPECT_EQ(Stats().services[5], 1u);
    EXPECT_EQ(Mux().readTimeout, 5);
}

TEST_F(MuxRecovery, TwoPieceAnswersAreJoined) {
    sim::MuxFaults f;
    f.splitTimes = 2;
    f.splitAt = 1;  // ACK in the first piece, status in the second
    Start(f);
    ASSERT_EQ(SendBlock(0, 8), 0);
    EXPECT_EQ(Stats().services[8], 2u);
    EXPECT_TRUE(Stored(0, 8));

    // A damaged first piece is repeated, then the second one fetched.
    f.splitTimes = 1;
    f.badChecksum = 1;
    Start(f);
    ASSERT_EQ(SendBlock(1, 9), 0);
    EXPECT_EQ(Stats().services[6], 1u);
    EXPECT_EQ(Stats().services[8], 1u);

    // Control code 8: all of it in the first piece, the second one empty;
    // splits asked for besides keep their own point (half) afterwards.
    f = Control(8, 1);
    f.splitTimes = 2;
    Start(f);
    ASSERT_EQ(SendBlock(2, 10), 0);
    ASSERT_EQ(SendBlock(3, 11), 0);
    EXPECT_EQ(Stats().services[8], 3u);
    EXPECT_TRUE(Stored(2, 10));
    std::vector<std::string> splits;
    for (const std::string& line : gLine->log)
        if (line.find("answer split") != std::string::npos) splits.push_back(line);
    EXPECT_EQ(splits, (std::vector<std::string>{"mux: answer split after 2 bytes (--mux-split)",
                                                "mux: answer split after 1 bytes (--mux-split)",
                                                "mux: answer split after 1 bytes (--mux-split)"}))
        << "control code 8, the rest of its block, the next block's first request";
}

TEST_F(MuxRecovery, GarbageBeforeTheIdentificationIsSkipped) {
    sim::MuxFaults f;
    f.garbage = 40;  // holds "BRAX" more than once
    Start(f);
    ASSERT_EQ(SendBlock(0, 11), 0);
    EXPECT_TRUE(Stored(0, 11));
}

TEST_F(MuxRecovery, SilenceGivesTheFrameReadCode) {
    sim::MuxFaults f;
    f.silentAfter = 0;
    Start(f);
    EXPECT_EQ(SendBlock(0, 12), 33);
}

TEST_F(MuxRecovery, OtherControlCodesEndTheExchangeWithTheirCodes) {
    const std::pair<uint8_t, uint8_t> cases[] = {{2, 36}, {3, 37}, {4, 38},    {5, 20},
                                                 {6, 21}, {7, 42}, {0x80, 43}, {9, 43}};
    for (const auto& [code, expected] : cases) {
        Start(Control(code, 1));
        KodWyniku = 0;
        EXPECT_EQ(SendBlock(0, 13), expected) << "control code " << int(code);
        EXPECT_EQ(Stats().frames, 1u);
    }
}

TEST_F(MuxRecovery, ServiceRuns) {
    Start();
    std::string id;
    ASSERT_TRUE(IdentyfikacjaMux(id));
    EXPECT_EQ(id, "VORIN-MUX-01");

    NowyKodMux = {'N', 'E', 'W', 'C', 'O', 'D', 'E', '!'};
    ObszarNadawania[1] = 0x77;
    ASSERT_TRUE(ZmianaKoduMux()) << int(KodWyniku);
    EXPECT_EQ(Mux().code, "NEWCODE!");
    EXPECT_EQ(KodMux, NowyKodMux);
    EXPECT_EQ(ObszarNadawania[1], 0x77) << "the send area is put back";

    BajtUslugowyMux = 0xA5;
    ASSERT_TRUE(UstawienieBajtuUslugowegoMux());
    EXPECT_EQ(Mux().serviceByte, 0xA5);

    const uint64_t frames = Stats().frames;
    for (uint8_t typ : {0, 9, 255}) {
        KodWyniku = 0;
        EXPECT_FALSE(UslugaMux(typ));
        EXPECT_EQ(KodWyniku, 36);
    }
    EXPECT_EQ(Stats().frames, frames) << "an unknown service is not sent";
}

TEST_F(MuxRecovery, DeviceIdentificationThroughTheMultiplexer) {
    // The device commands' record lists, tags and answer lengths travel in the
    // control byte and the lengths; the multiplexer must forward them right.
    vorin::test::TempDir dir;
    static std::string path;
    path = dir.File("ECRTBUF.TXT");
    device::PlikiUrzadzenia pliki;
    pliki.sciezkaOpisow = [] { return path.c_str(); };
    pliki.plikWyjsciowy = [] { return false; };
    device::UstawPlikiUrzadzenia(pliki);
    device::ZerowanieStanuUrzadzenia();
    line_.emplace(sim::MuxFaults{}, device::test::MakeProfile(114, 3, 'A', "BRX12345678"));
    EXPECT_TRUE(OdczytanieTypuUrzadzenia());
    EXPECT_EQ(KodWyniku, 0);
    VorinDeviceType t;
    vorin_get_device_type(&t);
    EXPECT_EQ(t.typeCode, 114);
    EXPECT_STREQ(t.identification, "BRX12345678");
    EXPECT_EQ(Stats().badFrames, 0u);
    int32_t& h = device::UchwytPlikuOpisow();
    if (h >= 0) ZamknieciePliku(&h);
    device::UstawPlikiUrzadzenia({});
}

}  // namespace

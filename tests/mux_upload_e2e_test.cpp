// The code page upload through the multiplexer, end to end: the loader's
// upload (loader/upload.cpp) over the link in multiplexer mode 2 and the real
// serial library, on the pseudo-terminal of a real `vorin-sim --mux` process,
// which checks every frame, forwards the requests to its printer and dumps
// what the printer stored. See tests/mux_line.h for the one thing a pty cannot
// show (carrier detect).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/link.h"
#include "loader/codepage_image.h"
#include "loader/upload.h"
#include "tests/e2e_process.h"
#include "tests/mux_line.h"

namespace {

using namespace vorin;

constexpr uint8_t kComPort = 14;

class MuxUpload : public ::testing::Test {
protected:
    // Uploads the image through `vorin-sim --mux` started with `faults`; the
    // simulator's log (its summary lines) after it ended.
    std::string Upload(const std::vector<std::string>& faults, uint8_t* code) {
        std::vector<std::string> args{"--quiet", "--mux", "--dump", dir_.path() + "/dump.bin"};
        args.insert(args.end(), faults.begin(), faults.end());
        e2e::Simulator sim;
        std::string error;
        const std::string sim_path = (std::filesystem::current_path() / "vorin-sim").string();
        if (!sim.Start(sim_path, args, dir_.path() + "/sim.log", &error)) {
            ADD_FAILURE() << error;
            return {};
        }
        if (!e2e::OpenMuxLink(kComPort, sim.line())) {
            ADD_FAILURE() << "the port did not open";
            return {};
        }
        *code = loader::UploadImage(kCodePageImage, nullptr);
        e2e::CloseMuxLink();
        sim.Stop();
        return e2e::ReadFile(dir_.path() + "/sim.log.err");
    }
    std::string Dump() { return e2e::ReadFile(dir_.path() + "/dump.bin"); }

    e2e::TempDir dir_;
};

TEST_F(MuxUpload, ImageArrivesByteForByteWithThePrintersSettingsInEveryFrame) {
    uint8_t code = 255;
    const std::string log = Upload({}, &code);
    ASSERT_EQ(code, 0) << log;
    EXPECT_EQ(Dump(), std::string(reinterpret_cast<const char*>(kCodePageImage), kImageSize));
    EXPECT_NE(log.find("stored=144/144 accepted=144 requests=144 host_crc_errors=0"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("frames=288 bad_frames=0 stray_bytes=0 printer_requests=288"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("channel=1 at_19200=0"), std::string::npos) << log;
}

TEST_F(MuxUpload, FaultsOnTheMultiplexerLineAreRepairedOnTheWay) {
    uint8_t code = 255;
    const std::string log = Upload({"--mux-bad-checksum", "3", "--mux-control", "1:2",
                                    "--mux-split", "5", "--mux-garbage", "12"},
                                   &code);
    ASSERT_EQ(code, 0) << log;
    EXPECT_EQ(Dump(), std::string(reinterpret_cast<const char*>(kCodePageImage), kImageSize));
    EXPECT_NE(log.find("stored=144/144 accepted=144 requests=144"), std::string::npos) << log;
}

TEST_F(MuxUpload, SilentMultiplexerEndsTheUploadWithTheFrameReadCode) {
    uint8_t code = 255;
    const std::string log = Upload({"--mux-silent-after", "10"}, &code);
    EXPECT_EQ(code, 33) << log;
}

}  // namespace

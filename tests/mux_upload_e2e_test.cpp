// The code page upload through the multiplexer, end to end: the loader's
// upload (loader/upload.cpp) over the link in multiplexer mode 2 and the real
// serial library, on the pseudo-terminal of a real `vorin-sim --mux` process,
// which checks every frame, forwards the requests to its printer and dumps
// what the printer stored. See tests/mux_line.h for the one thing a pty cannot
// show (carrier detect).
//
// MuxUploadWine runs the same upload in the Windows build (mux_upload_probe.exe)
// under Wine, with Wine's COM 14 pointed at the simulator's line. It runs only
// when VORIN_WINDOWS_BUILD names the Windows build folder (its own ctest entry,
// mux_upload_wine_test; scripts/test wine-e2e).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "link/link.h"
#include "loader/codepage_image.h"
#include "loader/upload.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_runner.h"
#include "tests/mux_line.h"

namespace {

using namespace vorin;

constexpr uint8_t kComPort = 14;

class MuxUpload : public ::testing::Test {
protected:
    // Uploads the image through `vorin-sim --mux` started with `faults`; the
    // simulator's log (its summary lines) after it ended.
    std::string Upload(const std::vector<std::string>& faults, uint8_t* code) {
        std::vector<std::string> args{"--quiet", "--mux", "--dump", dir_.Path() + "/dump.bin"};
        args.insert(args.end(), faults.begin(), faults.end());
        test::Simulator sim;
        std::string error;
        const std::string simPath = (std::filesystem::current_path() / "vorin-sim").string();
        if (!sim.Start(simPath, args, dir_.Path() + "/sim.log", &error)) {
            ADD_FAILURE() << error;
            return {};
        }
        setenv(("VORIN_COM" + std::to_string(kComPort)).c_str(), sim.Line().c_str(), 1);
        if (!e2e::OpenMuxLink(kComPort)) {
            ADD_FAILURE() << "the port did not open";
            return {};
        }
        *code = loader::UploadImage(kCodePageImage, nullptr);
        e2e::CloseMuxLink();
        sim.Stop();
        return test::ReadWholeFile(dir_.Path() + "/sim.log.err");
    }
    std::string Dump() { return test::ReadWholeFile(dir_.Path() + "/dump.bin"); }

    test::TempDir dir_;
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

// ---- The Windows build under Wine -------------------------------------------------

namespace fs = std::filesystem;

class MuxUploadWine : public ::testing::Test {
protected:
    static test::WineRunner& Wine() {
        static test::WineRunner wine({"mux_upload_probe"}, {{kComPort, ""}});
        return wine;
    }
    void SetUp() override {
        if (!Wine().SkipReason().empty()) GTEST_SKIP() << Wine().SkipReason();
    }

    test::TempDir dir_;
};

TEST_F(MuxUploadWine, ImageArrivesByteForByte) {
    test::Simulator sim;
    std::string error;
    const std::string simPath = (fs::current_path() / "vorin-sim").string();
    ASSERT_TRUE(
        sim.Start(simPath,
                  {"--quiet", "--mux", "--link", Wine().PortPath(kComPort), "--dump",
                   dir_.Path() + "/dump.bin", "--mux-bad-checksum", "2", "--mux-split", "2"},
                  dir_.Path() + "/sim.log", &error))
        << error;
    std::string out, err;
    const int status = test::RunPiped(
        Wine().Command(Wine().Program("mux_upload_probe"), {std::to_string(kComPort)}),
        Wine().Env(), "", 240, &out, &err);
    sim.Stop();
    const std::string log = test::ReadWholeFile(dir_.Path() + "/sim.log.err");
    ASSERT_TRUE(WIFEXITED(status)) << out << err << log;
    EXPECT_EQ(WEXITSTATUS(status), 0) << out << err << log;
    EXPECT_EQ(test::ReadWholeFile(dir_.Path() + "/dump.bin"),
              std::string(reinterpret_cast<const char*>(kCodePageImage), kImageSize));
    EXPECT_NE(log.find("channel=1 at_19200=0"), std::string::npos) << log;
}

}  // namespace

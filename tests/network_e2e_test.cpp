// COM ports on the network, end to end: a real ser2net on 127.0.0.1 (its
// RFC 2217 accepter, or its plain TCP one for tcp://) serving the pty of a
// real vorin-sim, reached through VORIN_COM<n>=rfc2217://... or tcp://.
//
// What a pty behind ser2net cannot show: modem lines (ser2net reports CTS, DSR
// and carrier off and leaves DTR/RTS unanswered there), wire timing and line
// errors; see docs/network-ports.md for what a real device server adds.
//
// NetworkWine runs the loader's Windows build under Wine the same way (only
// with VORIN_WINDOWS_BUILD set: scripts/test wine-e2e).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <vorin/serial.h>

#include "loader/codepage_image.h"
#include "loader/upload.h"
#include "serial/texts.h"
#include "tests/mux_line.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"
#include "tests/support/ser2net.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_runner.h"

namespace {

using namespace vorin;
using namespace vorin::test;
namespace fs = std::filesystem;

const std::string kImage(reinterpret_cast<const char*>(kCodePageImage), kImageSize);

class Network : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Ser2net::Installed()) GTEST_SKIP() << "ser2net is not installed";
    }
    void StartPrinter(std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"--quiet", "--dump", dir_.File("dump.bin")});
        std::string error;
        ASSERT_TRUE(sim_.Start((fs::current_path() / "vorin-sim").string(), options,
                               dir_.File("sim.log"), &error))
            << error;
    }
    void StartServer(bool rfc2217 = true, int port = 0) {
        ASSERT_TRUE(server_.Start(dir_.Path(), sim_.Line(), rfc2217, port)) << "ser2net";
    }
    std::string Received() {
        sim_.Stop();
        return ReadWholeFile(dir_.File("dump.bin"));
    }

    TempDir dir_;
    Simulator sim_;
    Ser2net server_;
};

// The loader's upload arrives byte for byte, over RFC 2217 with the speed it
// asks set on the printer's line by the server, over raw TCP as it stands.
TEST_F(Network, LoaderUploadsThroughTheServer) {
    for (const bool rfc2217 : {true, false}) {
        SCOPED_TRACE(rfc2217 ? "rfc2217" : "tcp");
        StartPrinter();
        StartServer(rfc2217);
        // Held open here, the line keeps the settings the server gives it.
        const int line = open(sim_.Line().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(line, 0);
        std::atomic<bool> running{true}, at38400{false};
        std::thread watch([&] {
            for (termios t{}; running.load(); usleep(5000))
                if (tcgetattr(line, &t) == 0 && cfgetospeed(&t) == B38400) at38400.store(true);
        });
        std::string out, err;
        const int status = RunPiped({(fs::current_path() / "vorin-codepage").string(), "--port",
                                     server_.Url(), "--no-wait"},
                                    {}, "", 60, &out, &err);
        running.store(false);
        watch.join();
        close(line);
        ASSERT_TRUE(WIFEXITED(status)) << status << err;
        EXPECT_EQ(WEXITSTATUS(status), 0) << out << err;
        EXPECT_EQ(Received(), kImage);
        EXPECT_EQ(at38400.load(), rfc2217);
        server_.Kill();
    }
}

// The driver run reads the printer's type and number through the server.
TEST_F(Network, DriverRunIdentifiesThePrinter) {
    const std::string folder = dir_.File("driver");
    fs::copy(std::string(VORIN_SOURCE_DIR) + "/examples/driver", folder,
             fs::copy_options::recursive);
    for (const char* generated : {"RAPORT.TXT", "wynik.txt", "ECRTBUF.TXT", "debug.txt"})
        fs::remove(folder + "/" + generated);
    WriteWholeFile(folder + "/KONFIG.TXT", "$1\tCOM13:9600:MUX0:1\t3\r\n");
    StartPrinter({"--printer", folder + "/printer.profile"});
    StartServer();
    std::string out, err;
    const int status = RunPiped({"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", folder,
                                 (fs::current_path() / "vorin-driver").string(), "--read-type",
                                 "--read-number", "DEMO", "zadanie.txt;wynik.txt;vorin.cfg"},
                                {{"VORIN_COM13", server_.Url()}}, "", 60, &out, &err);
    ASSERT_TRUE(WIFEXITED(status)) << status << err;
    EXPECT_EQ(WEXITSTATUS(status), 0) << out << err;
    EXPECT_NE(ReadWholeFile(folder + "/wynik.txt")
                  .find("$IDENTIFY\t0\t01\t22\tMirto\tMirto I gen. ver. 05\tVRN00012345\r\n"),
              std::string::npos)
        << ReadWholeFile(folder + "/wynik.txt");
}

// The link in multiplexer mode 2 over the server (carrier detect played as in
// tests/mux_line.h: ser2net reports a pty's carrier off).
TEST_F(Network, MultiplexerUploadThroughTheServer) {
    StartPrinter({"--mux"});
    StartServer();
    setenv("VORIN_COM14", server_.Url().c_str(), 1);
    ASSERT_TRUE(e2e::OpenMuxLink(14));
    const uint8_t code = loader::UploadImage(kCodePageImage, nullptr);
    e2e::CloseMuxLink();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Received(), kImage);
}

// The server dies mid-upload: the loader reports an error and ends, at once.
TEST_F(Network, DroppedConnectionEndsTheUploadWithAReport) {
    StartPrinter({"--pace", "38400"});
    StartServer();
    TerminalSession loader;
    std::string error;
    ASSERT_TRUE(loader.Start(
        {(fs::current_path() / "vorin-codepage").string(), "--port", server_.Url(), "--no-wait"},
        {}, &error))
        << error;
    ASSERT_TRUE(loader.WaitFor("4%5%", 30)) << loader.Text();
    server_.Kill();
    int status = 0;
    ASSERT_TRUE(loader.WaitExit(10, &status)) << "still running 10 s after the drop";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(loader.Text().find("Blad nr "), std::string::npos) << loader.Text();
    EXPECT_EQ(loader.Text().find("sukcesem"), std::string::npos);
}

// Through the library: a dropped connection fails the next byte call with its
// own text, and the next InitializePort connects again.
TEST_F(Network, ByteCallAfterADropFailsWithItsTextAndTheNextOpenConnects) {
    StartPrinter();
    StartServer();
    setenv("VORIN_COM15", server_.Url().c_str(), 1);
    ASSERT_EQ(InitializePort(15, 38400, 1, 1), 0);
    server_.Kill();
    const double started = Now();
    EXPECT_EQ(WriteByte(0x1B), 0);
    EXPECT_LT(Now() - started, 2.0);
    char buffer[256] = {};
    char* text = buffer;
    int32_t code = 0;
    ASSERT_EQ(IsError(&text, &code), 1);
    EXPECT_EQ(code, 64);
    EXPECT_STREQ(buffer, serial::text::kNetDropped.c_str());
    UnInitializePort();

    EXPECT_NE(InitializePort(15, 38400, 1, 1), 0);  // nobody listens
    IsError(&text, &code);
    EXPECT_STREQ(buffer, serial::text::kNetConnect.c_str());
    StartServer(true, server_.Port());
    ASSERT_EQ(InitializePort(15, 38400, 1, 1), 0);
    EXPECT_EQ(WriteByte(0x1B), 1);
    UnInitializePort();
}

// ---- The Windows build under Wine --------------------------------------------------

TEST_F(Network, WineLoaderUploadsThroughTheServer) {
    static WineRunner wine({"vorin-codepage"}, {});
    if (!wine.SkipReason().empty()) GTEST_SKIP() << wine.SkipReason();
    StartPrinter();
    StartServer();
    std::map<std::string, std::string> env = wine.Env();
    env["VORIN_COM5"] = server_.Url();
    std::string out, err;
    const int status =
        RunPiped(wine.Command(wine.Program("vorin-codepage"), {"--port", "5", "--no-wait"}), env,
                 "", 180, &out, &err);
    ASSERT_TRUE(WIFEXITED(status)) << status << err;
    EXPECT_EQ(WEXITSTATUS(status), 0) << out << err;
    EXPECT_EQ(Received(), kImage);
}

}  // namespace

// vorin-driver end to end: the real sample host, in a driver folder of its
// own (a copy of examples/driver), against vorin-sim on a pseudo-terminal as
// COM13. Built twice: natively, and (VORIN_E2E_WINE) running the Windows
// build of vorin-driver under Wine with Wine's COM13 pointed at the line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_runner.h"

namespace vorin::e2e {
namespace {

using namespace vorin::test;

namespace fs = std::filesystem;

#ifdef VORIN_E2E_WINE
constexpr bool kWine = true;
#else
constexpr bool kWine = false;
#endif

constexpr int kPort = 13;
constexpr double kRunSeconds = kWine ? 90 : 30;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\r\n";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(s.data(), 1, s.size(), f);
    std::fclose(f);
}

// How vorin-driver is started and how COM13 reaches the simulator.
class Runner {
public:
    static Runner& Get() {
        static Runner runner;
        return runner;
    }
    const std::string& SkipReason() const { return skipReason_; }
    const std::string& Sim() const { return sim_; }
    // Natively the line goes into VORIN_COM13; under Wine the simulator makes
    // the link that Wine's registry names for COM13.
    std::string LinkForPort() const { return kWine ? wine_->PortPath(kPort) : std::string(); }

    // Runs vorin-driver in `folder`; its exit status, or -1.
    int Run(const std::string& folder, const std::vector<std::string>& args,
            const std::string& line, std::string* out) const {
        std::vector<std::string> argv = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", folder};
        const std::vector<std::string> command =
            kWine ? wine_->Command(wine_->Program("vorin-driver"), args) : Native(args);
        argv.insert(argv.end(), command.begin(), command.end());
        std::map<std::string, std::string> env;
        if (kWine) {
            env = wine_->Env();
        } else {
            env["VORIN_COM13"] = line.empty() ? "/nonexistent/vorin-com13" : line;
        }
        std::string err;
        int status = RunPiped(argv, env, "", kRunSeconds, out, &err);
        if (status == -1 || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

private:
    Runner() {
        sim_ = (fs::current_path() / "vorin-sim").string();
        if (!fs::exists(sim_)) {
            skipReason_ = "vorin-sim is not built";
        } else if (!kWine) {
            if (!fs::exists(fs::current_path() / "vorin-driver"))
                skipReason_ = "vorin-driver is not built";
        } else {
            wine_ = std::make_unique<WineRunner>(std::vector<std::string>{"vorin-driver"},
                                                 std::map<int, std::string>{{kPort, ""}});
            skipReason_ = wine_->SkipReason();
        }
    }
    static std::vector<std::string> Native(const std::vector<std::string>& args) {
        std::vector<std::string> argv{(fs::current_path() / "vorin-driver").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    std::string sim_;
    std::string skipReason_;
    std::unique_ptr<WineRunner> wine_;
};

class DriverEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Runner::Get().SkipReason().empty()) GTEST_SKIP() << Runner::Get().SkipReason();
        folder_ = dir_.Path() + "/driver";
        fs::copy(std::string(VORIN_SOURCE_DIR) + "/examples/driver", folder_,
                 fs::copy_options::recursive);
        // What a run in the source folder left behind is not part of the example.
        for (const char* generated : {"RAPORT.TXT", "wynik.txt", "ECRTBUF.TXT", "debug.txt"}) {
            fs::remove(folder_ + "/" + generated);
        }
        for (const auto& copy : fs::directory_iterator(folder_ + "/$$$")) {
            if (copy.path().filename() != ".gitignore") fs::remove(copy.path());
        }
        WriteLines(folder_ + "/KONFIG.TXT", {"$1\tCOM13:9600:MUX0:1\t3"});
    }

    void StartPrinter(const std::vector<std::string>& options = {}) {
        std::vector<std::string> args{"--quiet"};
        const std::string link = Runner::Get().LinkForPort();
        if (!link.empty()) {
            std::error_code ec;
            fs::remove(link, ec);
            args.insert(args.end(), {"--link", link});
        }
        args.insert(args.end(), options.begin(), options.end());
        std::string error;
        ASSERT_TRUE(sim_.Start(Runner::Get().Sim(), args, dir_.Path() + "/sim.log", &error))
            << error;
    }

    int Run(const std::vector<std::string>& args) {
        return Runner::Get().Run(folder_, args, sim_.Running() ? sim_.Line() : "", &out_);
    }

    std::string Report(int line) {
        std::vector<std::string> lines = SplitLines(ReadWholeFile(folder_ + "/RAPORT.TXT"));
        return line >= 1 && static_cast<std::size_t>(line) <= lines.size() ? lines[line - 1]
                                                                           : "<none>";
    }

    TempDir dir_;
    Simulator sim_;
    std::string folder_;
    std::string out_;
};

TEST_F(DriverEndToEnd, WrongPortGives62AndItsReport) {
    const std::string link = Runner::Get().LinkForPort();
    if (!link.empty()) fs::remove(link);
    EXPECT_EQ(Run({"DEMO", "zadanie.txt;wynik.txt;vorin.cfg"}), 62) << out_;
    EXPECT_EQ(Report(2), "#62\t; nie mozna otworzyc portu");
    EXPECT_NE(out_.find("report: RAPORT.TXT"), std::string::npos) << out_;
    EXPECT_NE(out_.find("status: 62\t; nie mozna otworzyc portu"), std::string::npos) << out_;
    EXPECT_TRUE(fs::exists(folder_ + "/$$$/zadanie.RAP"));
}

TEST_F(DriverEndToEnd, RunWithoutCommandsWritesReportAndExchangeCopies) {
    StartPrinter();
    WriteLines(folder_ + "/zadanie.txt", {"#1", "#", "#"});
    ASSERT_EQ(Run({"DEMO", "zadanie.txt;wynik.txt;vorin.cfg"}), 0) << out_;
    EXPECT_EQ(Report(2), "#0\t; program zakonczony bezblednie");
    EXPECT_EQ(Report(1).substr(0, 23), "#1\tCOM13:9600:MUX0:1\t3\t");
    for (const char* ext : {"IN", "OUT", "RAP", "KON", "SER"}) {
        EXPECT_TRUE(fs::exists(folder_ + "/$$$/zadanie." + ext)) << ext;
    }
    // A record that is no command ends the run with 12, naming the input file.
    WriteLines(folder_ + "/zadanie.txt", {"#1", "#", "#", "$FLY\tto the moon"});
    EXPECT_EQ(Run({"DEMO", "zadanie.txt;wynik.txt;vorin.cfg"}), 12) << out_;
    EXPECT_EQ(Report(2), "#12\t; niepoprawny wiersz danych w pliku wejsciowym (zadanie.txt)");
    EXPECT_EQ(SplitLines(ReadWholeFile(folder_ + "/wynik.txt")).back(), "$FLY\t12");
}

TEST_F(DriverEndToEnd, IdentifiesThePrinter) {
    std::string help;
    std::string err;
    RunPiped({Runner::Get().Sim(), "--help"}, {}, "", 10, &help, &err);
    if ((help + err).find("--printer") == std::string::npos) {
        GTEST_SKIP() << "this vorin-sim has no printer model (--printer)";
    }
    StartPrinter({"--printer", folder_ + "/printer.profile"});
    ASSERT_EQ(Run({"--read-type", "--read-number", "--compare-number", "DEMO",
                   "zadanie.txt;wynik.txt;vorin.cfg"}),
              0)
        << out_;
    EXPECT_EQ(Report(2), "#0\t; program zakonczony bezblednie");
    EXPECT_NE(Report(3).find("identyfikator odczytany z urzadzenia"), std::string::npos)
        << Report(3);
    std::vector<std::string> out = SplitLines(ReadWholeFile(folder_ + "/wynik.txt"));
    ASSERT_FALSE(out.empty());
    const std::string results = ReadWholeFile(folder_ + "/wynik.txt");
    EXPECT_NE(results.find("$IDENTIFY\t0\t01\t22\tMirto\tMirto I gen. ver. 05\tVRN00012345\r\n"),
              std::string::npos)
        << results;
    EXPECT_NE(results.find("$DISPLAY\t0\tVORIN MIRTO"), std::string::npos) << results;
    EXPECT_EQ(out.back(), "$KEY\t0");
    // One header block: IDENTIFY reports the type the start read.
    std::size_t headers = 0;
    for (const std::string& l : out) headers += !l.empty() && l[0] == '#';
    EXPECT_EQ(headers, 3u) << results;
    // Recorded once as a new printer.
    EXPECT_EQ(SplitLines(ReadWholeFile(folder_ + "/ECRTBUF.TXT")).size(), 1u);
    for (const char* ext : {"IN", "OUT", "RAP", "KON", "SER"}) {
        EXPECT_TRUE(fs::exists(folder_ + "/$$$/zadanie." + ext)) << ext;
    }
}

// The announcement and the LINES reports reach a supervising server: the
// real vorin-server watching the channel while vorin-driver runs.
TEST_F(DriverEndToEnd, AnnouncesItselfToTheServer) {
    const std::string server = fs::current_path().string() + "/vorin-server";
    if (kWine || !fs::exists(server)) GTEST_SKIP() << "needs the native vorin-server";
    StartPrinter({"--printer", folder_ + "/printer.profile"});
    const std::string number = std::to_string(0xC000 + getpid() % 0x3000);
    std::string config = ReadWholeFile(folder_ + "/vorin.cfg");
    config.replace(config.find("$0\t;numer komunikatu"), 2, "$" + number + ":4242");
    config.replace(config.find("$0\t;LINES"), 2, "$1");
    FILE* f = std::fopen((folder_ + "/vorin.cfg").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(config.data(), 1, config.size(), f);
    std::fclose(f);

    std::string watched, err;
    std::thread watcher([&] {
        RunPiped({server, "--message", number, "--timeout", "10000", "watch", "--count", "3"}, {},
                 "", 30, &watched, &err);
    });
    usleep(500000);  // the watcher's place on the bus exists before the driver posts
    const int code = Run({"DEMO", "zadanie.txt;wynik.txt;vorin.cfg"});
    watcher.join();
    EXPECT_EQ(code, 0) << out_;
    EXPECT_NE(watched.find("4242"), std::string::npos) << watched << err;
    EXPECT_NE(watched.find("AVAILABLE"), std::string::npos) << watched << err;
    EXPECT_NE(watched.find("LINES"), std::string::npos) << watched << err;
}

}  // namespace
}  // namespace vorin::e2e

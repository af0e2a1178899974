// vorin-driver end to end: the real sample host, in a driver folder of its
// own (a copy of examples/driver), against vorin-sim on a pseudo-terminal as
// COM13. Built twice: natively, and (VORIN_E2E_WINE) running the Windows
// build of vorin-driver under Wine with Wine's COM13 pointed at the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"

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

// Runs a Wine tool with every standard stream on /dev/null and waits for it
// (bounded): Wine's services, started by the first program of a server,
// stay alive and would hold a pipe of ours open for as long as they live.
void RunQuiet(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              double seconds) {
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
        for (int fd = 3; fd < 1024; ++fd) close(fd);
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid < 0) return;
    for (const double end = Now() + seconds; Now() < end; usleep(20000)) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// How vorin-driver is started and how COM13 reaches the simulator.
class Runner {
public:
    static Runner& Get() {
        static Runner runner;
        return runner;
    }
    const std::string& skip_reason() const { return skip_reason_; }
    const std::string& sim() const { return sim_; }
    // Natively the line goes into VORIN_COM13; under Wine the simulator makes
    // the link that Wine's registry names for COM13.
    std::string LinkForPort() const { return kWine ? ports_dir_ + "/com13" : std::string(); }

    // Runs vorin-driver in `folder`; its exit status, or -1.
    int Run(const std::string& folder, const std::vector<std::string>& args,
            const std::string& line, std::string* out) const {
        std::vector<std::string> argv = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", folder};
        if (kWine) argv.push_back(wine_);
        argv.push_back(exe_);
        argv.insert(argv.end(), args.begin(), args.end());
        std::map<std::string, std::string> env;
        if (kWine) {
            env = {{"WINEPREFIX", prefix_}, {"WINEDEBUG", "-all"}, {"WINEARCH", "win64"}};
        } else {
            env["VORIN_COM13"] = line.empty() ? "/nonexistent/vorin-com13" : line;
        }
        std::string err;
        int status = RunPiped(argv, env, "", kRunSeconds, out, &err);
        if (status == -1 || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    ~Runner() {
        if (started_wineserver_) {
            std::string out, err;
            RunPiped({wineserver_, "-k"}, {{"WINEPREFIX", prefix_}}, "", 20, &out, &err);
        }
    }

private:
    Runner() {
        const fs::path bin = fs::current_path();
        sim_ = (bin / "vorin-sim").string();
        if (!fs::exists(sim_)) {
            skip_reason_ = "vorin-sim is not built";
            return;
        }
        if (!kWine) {
            exe_ = (bin / "vorin-driver").string();
            if (!fs::exists(exe_)) skip_reason_ = "vorin-driver is not built";
            return;
        }
        const char* build = std::getenv("VORIN_WINDOWS_BUILD");
        if (build == nullptr || *build == '\0') {
            skip_reason_ = "set VORIN_WINDOWS_BUILD to the Windows build folder (for example " +
                           std::string(VORIN_SOURCE_DIR) + "/build/windows) to run this suite";
            return;
        }
        const fs::path win = fs::absolute(build);
        exe_ = (win / "bin" / "vorin-driver.exe").string();
        wine_ = "/usr/bin/wine";
        wineserver_ = "/usr/bin/wineserver";
        if (!fs::exists(exe_) || !fs::exists(wine_)) {
            skip_reason_ = "no " + exe_ + " or no wine";
            return;
        }
        prefix_ = (win / "wineprefix").string();
        ports_dir_ = (win / "e2e-ports").string();
        fs::create_directories(ports_dir_);
        const std::map<std::string, std::string> env{
            {"WINEPREFIX", prefix_}, {"WINEDEBUG", "-all"}, {"WINEARCH", "win64"}};
        if (!fs::exists(prefix_ + "/system.reg")) {
            RunQuiet({"/usr/bin/wineboot", "-i"}, env, 180);
        }
        // Wine reads its port mapping when its server starts: write it, end
        // the server, keep a fresh one running for the whole suite and start
        // Wine's services once, outside any pipe of the tests.
        RunQuiet({wine_, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM13", "/t", "REG_SZ",
                  "/d", ports_dir_ + "/com13", "/f"},
                 env, 120);
        RunQuiet({wineserver_, "-k"}, env, 30);
        RunQuiet({wineserver_, "-w"}, env, 30);
        const pid_t pid = fork();
        if (pid == 0) {
            setsid();
            const int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, 0);
                dup2(null, 1);
                dup2(null, 2);
            }
            for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
            execl(wineserver_.c_str(), wineserver_.c_str(), "-p", "-f",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        started_wineserver_ = pid > 0;
        usleep(300000);
        RunQuiet({wine_, "cmd", "/c", "exit"}, env, 120);
    }

    std::string exe_, sim_, wine_, wineserver_, prefix_, ports_dir_;
    std::string skip_reason_;
    bool started_wineserver_ = false;
};

class DriverEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Runner::Get().skip_reason().empty()) GTEST_SKIP() << Runner::Get().skip_reason();
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
        ASSERT_TRUE(sim_.Start(Runner::Get().sim(), args, dir_.Path() + "/sim.log", &error))
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
    RunPiped({Runner::Get().sim(), "--help"}, {}, "", 10, &help, &err);
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

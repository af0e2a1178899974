// vorin-codepage end to end: the real program on a terminal of its own, typed
// at as an operator would, against vorin-sim on a pseudo-terminal.
//
// Built twice: natively, and (VORIN_E2E_WINE) driving the Windows build of the
// program under Wine, with Wine's COM ports pointed at the simulator's line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "loader/codepage_image.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"

namespace vorin::e2e {
namespace {

using namespace vorin::test;

namespace fs = std::filesystem;

const char kBanner[] =
    "Program dla Windows do zmiany strony kodowej w drukarce VORIN\n"
    "Program zmieni strone kodowa na 437\n\n";
const char kPrompt[] =
    "\nPodaj numer portu COM do ktorego podlaczono drukarke (0-wyjscie z programu): ";
const char kUpdating[] = "Trwa aktualizacja strony kodowej: ";
const char kSuccess[] = "\n\nAktualizacja strony kodowej zakonczona sukcesem!";

// Screen text with the terminal's "\r\n" made "\n", for comparing with the
// program's own texts.
std::string Lines(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out.push_back(text[i]);
    }
    return out;
}

int Count(const std::string& haystack, const std::string& needle) {
    int n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

#ifdef VORIN_E2E_WINE
constexpr bool kWine = true;
#else
constexpr bool kWine = false;
#endif

// Seconds allowed for a whole upload; Wine adds start-up and slower I/O.
constexpr double kUploadSeconds = kWine ? 60 : 30;

// How the program under test is started and how COM n reaches the simulator.
class Runner {
public:
    static Runner& Get() {
        static Runner runner;
        return runner;
    }

    bool Available() const { return !skip_reason_.empty() ? false : true; }
    const std::string& SkipReason() const { return skip_reason_; }

    std::vector<std::string> Command(const std::vector<std::string>& args) const {
        return CommandOf(exe_, args);
    }
    // The host that ends with its port open (serial/exit_child.cpp).
    std::vector<std::string> ExitChild(const std::vector<std::string>& args) const {
        return CommandOf(exit_child_, args);
    }

    // Environment for a run in which COM `port` is the simulator's line.
    std::map<std::string, std::string> Env(int port, const std::string& line) const {
        std::map<std::string, std::string> env;
        if (kWine) {
            env["WINEPREFIX"] = prefix_;
            env["WINEDEBUG"] = "-all";
            env["WINEARCH"] = "win64";
        } else {
            // Only the port under test leads to the simulator; the others lead
            // nowhere, so reaching the simulator proves the number was read right.
            for (int n : {3, 4, 8}) env["VORIN_COM" + std::to_string(n)] = "/nonexistent/vorin-com";
            env["VORIN_COM" + std::to_string(kNotALinePort)] = "/dev/null";
            env["VORIN_COM" + std::to_string(port)] = line;
        }
        return env;
    }

    // Where the simulator puts its line for COM `port` under Wine ("" natively:
    // the line path goes into VORIN_COM<n> instead).
    std::string LinkFor(int port) const {
        return kWine ? ports_dir_ + "/com" + std::to_string(port) : std::string();
    }

    std::string Sim() const { return sim_; }

    ~Runner() {
        if (started_wineserver_) {
            std::string out, err;
            RunPiped({wineserver_, "-k"}, {{"WINEPREFIX", prefix_}}, "", 20, &out, &err);
        }
    }

    // COM n that opens but is no serial line (/dev/null).
    static constexpr int kNotALinePort = 9;

private:
    std::vector<std::string> CommandOf(const std::string& program,
                                       const std::vector<std::string>& args) const {
        std::vector<std::string> argv;
        if (kWine) {
            argv = {wine_, program};
        } else {
            argv = {program};
        }
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    Runner() {
        const fs::path bin = fs::current_path();
        sim_ = (bin / "vorin-sim").string();
        if (!fs::exists(sim_)) {
            skip_reason_ = "vorin-sim is not built";
            return;
        }
        if (!kWine) {
            exe_ = (bin / "vorin-codepage").string();
            exit_child_ = (bin / "vorin-serial-exit-child").string();
            if (!fs::exists(exe_)) skip_reason_ = "vorin-codepage is not built";
            return;
        }
        // Opt-in: the Windows build is made in a later stage than this suite's
        // own build, and a stale one would test old code.
        const char* build = std::getenv("VORIN_WINDOWS_BUILD");
        if (build == nullptr || *build == '\0') {
            skip_reason_ = "set VORIN_WINDOWS_BUILD to the Windows build folder (for example " +
                           std::string(VORIN_SOURCE_DIR) + "/build/windows) to run this suite";
            return;
        }
        const fs::path win = fs::absolute(build);
        exe_ = (win / "bin" / "vorin-codepage.exe").string();
        exit_child_ = (win / "bin" / "vorin-serial-exit-child.exe").string();
        if (!fs::exists(exe_)) {
            skip_reason_ = "no Windows build at " + win.string() +
                           " (build the windows preset or set VORIN_WINDOWS_BUILD)";
            return;
        }
        wine_ = "/usr/bin/wine";
        wineserver_ = "/usr/bin/wineserver";
        if (!fs::exists(wine_) || !fs::exists(wineserver_)) {
            skip_reason_ = "wine is not installed";
            return;
        }
        prefix_ = (win / "wineprefix").string();
        ports_dir_ = (win / "e2e-ports").string();
        fs::create_directories(ports_dir_);
        std::string out, err;
        const std::map<std::string, std::string> env{
            {"WINEPREFIX", prefix_}, {"WINEDEBUG", "-all"}, {"WINEARCH", "win64"}};
        if (!fs::exists(prefix_ + "/system.reg")) {
            RunPiped({"/usr/bin/wineboot", "-i"}, env, "", 180, &out, &err);
        }
        // Wine reads its port mapping when its server starts: write it, end any
        // running server, then keep one running for the whole suite.
        for (int n : {3, 4, 8}) {
            RunPiped({wine_, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v",
                      "COM" + std::to_string(n), "/t", "REG_SZ", "/d",
                      ports_dir_ + "/com" + std::to_string(n), "/f"},
                     env, "", 120, &out, &err);
        }
        RunPiped({wine_, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v",
                  "COM" + std::to_string(kNotALinePort), "/t", "REG_SZ", "/d", "/dev/null", "/f"},
                 env, "", 120, &out, &err);
        RunPiped({wineserver_, "-k"}, env, "", 30, &out, &err);
        RunPiped({wineserver_, "-w"}, env, "", 30, &out, &err);
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
    }

    std::string exe_, exit_child_, sim_, wine_, wineserver_, prefix_, ports_dir_;
    std::string skip_reason_;
    bool started_wineserver_ = false;
};

class LoaderEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Runner::Get().Available()) GTEST_SKIP() << Runner::Get().SkipReason();
    }

    // Starts the simulator as the printer on COM `port`, with fault options.
    void StartPrinter(int port, std::vector<std::string> faults = {}) {
        port_ = port;
        dump_ = dir_.Path() + "/received.bin";
        std::vector<std::string> args{"--quiet", "--dump", dump_};
        const std::string link = Runner::Get().LinkFor(port);
        if (!link.empty()) {
            std::error_code ec;
            fs::remove(link, ec);
            args.insert(args.end(), {"--link", link});
        }
        args.insert(args.end(), faults.begin(), faults.end());
        std::string error;
        ASSERT_TRUE(sim_.Start(Runner::Get().Sim(), args, dir_.Path() + "/sim.log", &error))
            << error;
    }

    // Starts the loader on its terminal with `args`.
    void StartLoader(const std::vector<std::string>& args = {}) {
        std::string error;
        ASSERT_TRUE(
            term_.Start(Runner::Get().Command(args), Runner::Get().Env(port_, sim_.Line()), &error))
            << error;
    }

    void WaitForPrompt() {
        ASSERT_TRUE(term_.WaitFor("(0-wyjscie z programu):", kWine ? 60 : 10)) << term_.Text();
        // Wine's console puts the terminal into raw mode a moment after the
        // prompt shows; keys typed before that go through the line discipline
        // (a Backspace would erase the digit before the program sees either).
        if (kWine) term_.Drain(1.0);
    }

    // Types the port at the prompt and waits for the upload to end with `report`.
    void UploadThroughDialogue(const std::string& typed, const std::string& report) {
        WaitForPrompt();
        term_.Type(typed);
        ASSERT_TRUE(term_.WaitFor(report, kUploadSeconds)) << term_.Text();
    }

    // The program waits for one key after its report, then ends with `status`.
    void EndsOnOneKey(int status) {
        int wait_status = 0;
        ASSERT_FALSE(term_.WaitExit(0.5, &wait_status)) << "ended before a key was pressed";
        term_.Type("q");
        ASSERT_TRUE(term_.WaitExit(10, &wait_status)) << "still running after the key";
        ASSERT_TRUE(WIFEXITED(wait_status)) << wait_status;
        EXPECT_EQ(WEXITSTATUS(wait_status), status);
        unsigned lflag = 0;
        if (term_.TerminalFlags(&lflag)) {
            EXPECT_TRUE(lflag & ICANON) << "terminal left in raw mode";
            EXPECT_TRUE(lflag & ECHO) << "terminal left without echo";
        }
    }

    std::string Received() {
        sim_.Stop();
        return ReadWholeFile(dump_);
    }

    static std::string Embedded() {
        return std::string(reinterpret_cast<const char*>(kCodePageImage), kImageSize);
    }

    TempDir dir_;
    Simulator sim_;
    TerminalSession term_;
    std::string dump_;
    int port_ = 4;
};

TEST_F(LoaderEndToEnd, UploadsTheImageAndShowsEveryPercentageInPlace) {
    StartPrinter(4);
    StartLoader();
    UploadThroughDialogue("4\r", kSuccess);
    EndsOnOneKey(0);

    const std::string screen = Lines(term_.Text());
    // Wine's console redraws lines with cursor moves of its own, so under Wine
    // the texts are checked for presence, natively for their exact order.
    if (kWine) {
        EXPECT_NE(screen.find(kBanner), std::string::npos) << screen;
    } else {
        EXPECT_EQ(screen.find(kBanner), 0u) << screen;
        EXPECT_EQ(Count(screen, kPrompt), 1);
        EXPECT_EQ(screen.substr(screen.size() - std::string(kSuccess).size()), kSuccess)
            << "no line break after the report";
    }
    EXPECT_NE(screen.find(std::string(kPrompt) + "4"), std::string::npos);
    EXPECT_NE(screen.find(std::string(kUpdating) + "0%"), std::string::npos);

    if (!kWine) {
        // Each accepted block moves back to the column of the "0" and writes
        // (block + 1) * 100 / 144 there: 1, 2, 2, 3, ... 100.
        std::string expected;
        for (unsigned b = 0; b < 144; ++b)
            expected += "\x1b[35G" + std::to_string((b + 1) * 100 / 144) + "%";
        const std::string& raw = term_.Raw();
        const std::size_t start = raw.find("0%");
        ASSERT_NE(start, std::string::npos);
        EXPECT_NE(raw.find(expected, start), std::string::npos) << raw.substr(start, 200);
    } else {
        EXPECT_NE(screen.find("100%"), std::string::npos);
    }
    EXPECT_EQ(Received(), Embedded());
}

TEST_F(LoaderEndToEnd, CommandAnsweredWithNak) {
    StartPrinter(4, {"--first-answer", "0x15"});
    StartLoader();
    UploadThroughDialogue("4\r",
                          "\n\nBlad nr 24: drukarka odpowiedziala NAK na sekwencje sterujaca");
    EndsOnOneKey(24);
}

TEST_F(LoaderEndToEnd, ChecksumErrorThreeTimesIsRetriedToSuccess) {
    StartPrinter(4, {"--crc-error", "327:3", "--crc-error", "463:3"});
    StartLoader();
    UploadThroughDialogue("4\r", kSuccess);
    EndsOnOneKey(0);
    EXPECT_EQ(Received(), Embedded());
}

TEST_F(LoaderEndToEnd, ChecksumErrorFourTimesEndsWithCode1) {
    StartPrinter(4, {"--crc-error", "330:4"});
    StartLoader();
    UploadThroughDialogue("4\r", "\n\nBlad nr 1: blad sumy CRC");
    EndsOnOneKey(1);
    EXPECT_NE(term_.Text().find("6%"), std::string::npos);  // blocks 0 to 9 went through
    EXPECT_EQ(term_.Text().find("8%"), std::string::npos);
}

TEST_F(LoaderEndToEnd, VerificationErrorFourTimesEndsWithCode2) {
    StartPrinter(4, {"--verify-error", "320:4"});
    StartLoader();
    UploadThroughDialogue("4\r", "\n\nBlad nr 2: blad weryfikacji danych");
    EndsOnOneKey(2);
}

TEST_F(LoaderEndToEnd, VerificationErrorsAreRetriedLikeChecksumErrors) {
    StartPrinter(4, {"--verify-error", "340:3"});
    StartLoader();
    UploadThroughDialogue("4\r", kSuccess);
    EndsOnOneKey(0);
    EXPECT_EQ(Received(), Embedded());
}

TEST_F(LoaderEndToEnd, StatusAfterTheFirstHalfIsNotRetried) {
    StartPrinter(4, {"--status-after-half", "2"});
    StartLoader();
    UploadThroughDialogue("4\r", "\n\nBlad nr 102: inny blad");
    EndsOnOneKey(102);
}

TEST_F(LoaderEndToEnd, SilentPrinterTimesOutAfterAboutThreeSeconds) {
    StartPrinter(4, {"--silent-after", std::to_string(265 * 10 + 2)});
    StartLoader();
    WaitForPrompt();
    term_.Type("4\r");
    ASSERT_TRUE(term_.WaitFor(kUpdating, 20)) << term_.Text();
    const double started = Now();
    ASSERT_TRUE(term_.WaitFor("\n\nBlad nr 21: timeout odbierania", 20)) << term_.Text();
    const double waited = Now() - started;
    EXPECT_GT(waited, 2.5);
    EXPECT_LT(waited, 8.0);
    EndsOnOneKey(21);
}

TEST_F(LoaderEndToEnd, LineClosedMidUploadGivesAnErrorReport) {
    StartPrinter(4, {"--close-after", "40"});
    StartLoader();
    UploadThroughDialogue("4\r", "\n\nBlad nr ");
    term_.Drain(0.3);
    const std::string screen = term_.Text();
    EXPECT_EQ(screen.find("sukcesem"), std::string::npos);
    int status = 0;
    ASSERT_FALSE(term_.WaitExit(0.3, &status));
    term_.Type("q");
    ASSERT_TRUE(term_.WaitExit(10, &status));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
}

// ---- Answers typed at the prompt ---------------------------------------------------

TEST_F(LoaderEndToEnd, ZeroAndItsMultiplesEndAtOnceWithoutAWord) {
    for (const char* typed : {"0\r", "256\r", "0x100\r"}) {
        StartPrinter(4);
        StartLoader();
        WaitForPrompt();
        term_.Type(typed);
        int status = 0;
        ASSERT_TRUE(term_.WaitExit(kWine ? 20 : 5, &status)) << typed;
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const std::string screen = Lines(term_.Text());
        const std::string tail = screen.substr(screen.rfind("programu): ") + 11);
        EXPECT_EQ(tail.find("Trwa"), std::string::npos) << typed;
        EXPECT_EQ(tail.find("Blad"), std::string::npos) << typed;
        term_.Kill();
        sim_.Stop();
    }
}

TEST_F(LoaderEndToEnd, NumbersAreReadInEveryBaseAndCutToEightBits) {
    struct Typed {
        const char* keys;
        int port;
    };
    for (const Typed t : {Typed{"259\r", 3}, Typed{"010\r", 8}, Typed{"0x3\r", 3},
                          Typed{"3\x7f", 3}, Typed{"\r\r 8\r", 8}}) {
        SCOPED_TRACE(t.keys);
        StartPrinter(t.port);
        StartLoader();
        UploadThroughDialogue(t.keys, kSuccess);
        // With "3" and Backspace the Backspace is the pending key that the
        // closing key wait takes first; either way one more key ends the program.
        EndsOnOneKey(0);
        term_.Kill();
        sim_.Stop();
    }
}

TEST_F(LoaderEndToEnd, MissingPortIsNamedAndAskedAgain) {
    StartPrinter(4);
    StartLoader();
    UploadThroughDialogue("200\r4\r", kSuccess);
    EndsOnOneKey(0);
    const std::string screen = Lines(term_.Text());
    if (kWine) {
        EXPECT_EQ(Count(screen, "\nW tym komputerze nie ma portu COM200!\n"), 1) << screen;
    } else {
        EXPECT_NE(screen.find(std::string(kPrompt) +
                              "200\n\nW tym komputerze nie ma portu COM200!\n" + kPrompt + "4"),
                  std::string::npos)
            << screen;
    }
    EXPECT_EQ(Count(screen, "Program dla Windows"), 1) << "banner repeated";
}

TEST_F(LoaderEndToEnd, KeysThatCannotBeginANumberAskAgain) {
    StartPrinter(4);
    StartLoader();
    UploadThroughDialogue("x-y4\r", kSuccess);
    EndsOnOneKey(0);
    const std::string screen = Lines(term_.Text());
    // x, then y (the sign is taken, y ends the conversion): one prompt each.
    if (kWine) {
        EXPECT_GE(Count(screen, kPrompt), 3) << screen;
    } else {
        EXPECT_EQ(Count(screen, kPrompt), 3) << screen;
        EXPECT_NE(screen.find(std::string(kPrompt) + "x" + kPrompt + "-y" + kPrompt + "4"),
                  std::string::npos)
            << screen;
    }
}

TEST_F(LoaderEndToEnd, CtrlCAtThePromptRestoresTheTerminal) {
    StartPrinter(4);
    StartLoader();
    WaitForPrompt();
    unsigned lflag = 0;
    if (!kWine) {
        ASSERT_TRUE(term_.TerminalFlags(&lflag));
        EXPECT_FALSE(lflag & ICANON) << "the prompt reads key by key";
    }
    term_.Type("\x03");
    int status = 0;
    ASSERT_TRUE(term_.WaitExit(kWine ? 20 : 5, &status));
    // Natively the program dies of SIGINT; Wine reports its own exit status.
    if (!kWine) {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    }
    ASSERT_TRUE(term_.TerminalFlags(&lflag));
    EXPECT_TRUE(lflag & ICANON);
    EXPECT_TRUE(lflag & ECHO);
}

// ---- Scripted use --------------------------------------------------------------------

TEST_F(LoaderEndToEnd, ScriptedRunWithPortOptionAndNoWait) {
    StartPrinter(4);
    std::string out, err;
    const int status = RunPiped(Runner::Get().Command({"--port", "4", "--no-wait"}),
                                Runner::Get().Env(4, sim_.Line()), "", kUploadSeconds, &out, &err);
    ASSERT_TRUE(WIFEXITED(status)) << status << err;
    EXPECT_EQ(WEXITSTATUS(status), 0) << out << err;
    EXPECT_EQ(out.find("Podaj"), std::string::npos);
    EXPECT_NE(out.find(kSuccess), std::string::npos) << out;
    EXPECT_EQ(Received(), Embedded());
}

TEST_F(LoaderEndToEnd, EndOfInputAtThePromptEndsTheProgram) {
    StartPrinter(4);
    std::string out, err;
    const int status = RunPiped(Runner::Get().Command({}), Runner::Get().Env(4, sim_.Line()), "",
                                kWine ? 30 : 5, &out, &err);
    ASSERT_TRUE(WIFEXITED(status)) << "did not end at end of input";
    EXPECT_EQ(WEXITSTATUS(status), 66);
}

TEST_F(LoaderEndToEnd, EndOfInputInTheKeyWaitEndsTheProgram) {
    StartPrinter(4, {"--first-answer", "0x15"});
    const std::string input = dir_.Path() + "/typed";
    FILE* f = std::fopen(input.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("4\n", f);
    std::fclose(f);
    std::string out, err;
    const int status = RunPiped(Runner::Get().Command({}), Runner::Get().Env(4, sim_.Line()), input,
                                kUploadSeconds, &out, &err);
    ASSERT_TRUE(WIFEXITED(status)) << "did not end at end of input";
    EXPECT_EQ(WEXITSTATUS(status), 24);
    EXPECT_NE(out.find("Blad nr 24"), std::string::npos) << out;
}

TEST_F(LoaderEndToEnd, ImageOfTheWrongSizeIsRefused) {
    const std::string image = dir_.Path() + "/short.bin";
    FILE* f = std::fopen(image.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("too short", f);
    std::fclose(f);
    std::string out, err;
    const int status = RunPiped(Runner::Get().Command({"--image", image, "--port", "4"}), {}, "",
                                kWine ? 30 : 5, &out, &err);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 64);
    EXPECT_NE(err.find("36864"), std::string::npos) << err;
}

TEST_F(LoaderEndToEnd, ImageFromAFileIsSentAsItStands) {
    StartPrinter(4);
    std::string image(kImageSize, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + i / 256);
    const std::string path = dir_.Path() + "/other.bin";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);
    std::string out, err;
    const int status =
        RunPiped(Runner::Get().Command({"--image", path, "--port", "4", "--no-wait"}),
                 Runner::Get().Env(4, sim_.Line()), "", kUploadSeconds, &out, &err);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << out << err;
    EXPECT_EQ(Received(), image);
}

// The operator's "which port?": the simulator's line, mapped as COM4, is
// listed under that number (natively with its path; under Wine found by
// opening the COM names); COM3 and COM8 lead nowhere.
TEST_F(LoaderEndToEnd, ListPortsShowsTheSimulatorUnderItsNumber) {
    StartPrinter(4);
    std::string out, err;
    const int status = RunPiped(Runner::Get().Command({"--list-ports"}),
                                Runner::Get().Env(4, sim_.Line()), "", kWine ? 60 : 10, &out, &err);
    ASSERT_TRUE(WIFEXITED(status)) << status << err;
    EXPECT_EQ(WEXITSTATUS(status), 0) << out << err;
    if (kWine) {
        EXPECT_NE(out.find("COM4   \\\\.\\COM4"), std::string::npos) << out;
        EXPECT_EQ(out.find("COM3 "), std::string::npos) << out;
    } else {
        EXPECT_NE(out.find("COM4   " + sim_.Line() + "  (VORIN_COM4)\n"), std::string::npos) << out;
        EXPECT_NE(out.find("COM3   /nonexistent/vorin-com  (VORIN_COM3)  no such device\n"),
                  std::string::npos)
            << out;
    }
}

// ---- Every way out ends, and at once -------------------------------------------------

// A COM port that opens but is no serial line (/dev/null): the open fails half
// way. The program says so and ends on the key; the failed open must leave
// nothing that holds up the end of the process.
TEST_F(LoaderEndToEnd, PortThatIsNoSerialLineIsReportedAndTheProgramEnds) {
    StartLoader();
    WaitForPrompt();
    term_.Type(std::to_string(Runner::kNotALinePort) + "\r");
    ASSERT_TRUE(term_.WaitFor("Nie mozna zainicjowac portu COM9!", kWine ? 30 : 10))
        << term_.Text();
    EndsOnOneKey(74);
}

// A host that ends with its port open, or after an open that failed half way,
// or that unloads the library with the port open (or with the message-pump
// thread running), or whose own library closes the port in its teardown when
// it is unloaded or when the process exits, ends within 5 s and without a
// fault (natively the ASan build shows any use after free; under Wine +seh
// shows an access violation).
TEST_F(LoaderEndToEnd, HostsThatEndWithThePortOpenEndAtOnce) {
    for (const char* mode :
         {"open", "failed-open", "unload", "pump-unload", "host-unload", "host-exit"}) {
        SCOPED_TRACE(mode);
        StartPrinter(4);
        auto env = Runner::Get().Env(4, sim_.Line());
        if (kWine) env["WINEDEBUG"] = "+seh";
        std::string out, err;
        const int status = RunPiped(Runner::Get().ExitChild({mode, "4"}), env, "", 5, &out, &err);
        sim_.Stop();
        ASSERT_NE(status, -1) << "still running after 5 s\n" << err;
        ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << err;
        EXPECT_EQ(WEXITSTATUS(status), 0) << out << err;
        EXPECT_EQ(err.find("c0000005"), std::string::npos) << err;
        EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
    }
}

// Ctrl+C while the port is open and bytes are moving.
TEST_F(LoaderEndToEnd, CtrlCDuringTheUploadEndsWithTheTerminalRestored) {
    StartPrinter(4, {"--pace", "38400"});
    StartLoader();
    WaitForPrompt();
    term_.Type("4\r");
    ASSERT_TRUE(term_.WaitFor("Trwa aktualizacja", kWine ? 30 : 10)) << term_.Text();
    term_.Drain(0.5);
    term_.Type("\x03");
    int status = 0;
    ASSERT_TRUE(term_.WaitExit(kWine ? 20 : 5, &status)) << "still running after Ctrl+C";
    unsigned lflag = 0;
    ASSERT_TRUE(term_.TerminalFlags(&lflag));
    EXPECT_TRUE(lflag & ICANON);
    EXPECT_TRUE(lflag & ECHO);
}

#ifndef VORIN_E2E_WINE
TEST_F(LoaderEndToEnd, DevicePathIsMappedToAComNumber) {
    StartPrinter(4);
    std::string out, err;
    const int status = RunPiped(Runner::Get().Command({"--port", sim_.Line(), "--no-wait"}), {}, "",
                                kUploadSeconds, &out, &err);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << out << err;
    EXPECT_EQ(Received(), Embedded());
}
#endif

}  // namespace
}  // namespace vorin::e2e

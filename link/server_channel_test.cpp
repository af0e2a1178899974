// The server channel between real processes on the real bus: this test plays
// the server (the channel's server role) and drives channel_driver_helper, a
// driver process, through a second message number. After each exchange the
// helper reports "done" on that control number; the channel messages it
// posted during the exchange were sent before, so they are all in this
// process's queue by then and are read without any sleep.
//
// Without a printer the helper's exchanges fail on its closed port at once;
// that is enough for the channel's own behaviour. The suspend/resume case
// runs the helper against vorin-sim on a pseudo-terminal (Linux only), whose
// log shows the host closing and opening the line.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/link.h"
#include "link/server_channel.h"
#include "link/test_peer.h"
#include "platform/dynlib.h"
#include "platform/message_bus.h"

namespace fs = std::filesystem;
namespace lk = vorin::link;
namespace pf = vorin::platform;

namespace {

const bool kWindows = pf::DynlibFileName("x") == "x.dll";

struct Msg {
    uint32_t id;
    char letter;
    uint32_t value;
    bool operator==(const Msg& o) const {
        return id == o.id && letter == o.letter && value == o.value;
    }
};
std::ostream& operator<<(std::ostream& os, const Msg& m) {
    return os << "{" << m.id << " " << m.letter << " " << m.value << "}";
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Numbers of our own, so that other test runs on the same bus pass by; from
// 0xC000 up, the only ones Windows broadcasts.
uint32_t Numbers() { return 0xC000 + (pf::CurrentProcessId() % 0x800) * 2; }

class TempFolder {
public:
    TempFolder() {
        path_ =
            fs::temp_directory_path() / ("vorin_channel_" + std::to_string(pf::CurrentProcessId()) +
                                         "_" + std::to_string(counter_++));
        fs::create_directories(path_);
        std::ofstream(path_ / "empty").close();
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

struct Outcome {
    bool done = false;
    uint8_t code = 0;
    uint32_t counter = 0;
    std::vector<Msg> messages;  // channel messages posted during the exchange
};

class DriverProcess {
public:
    // The test's control messages use `control`, one above the channel's.
    DriverProcess(uint32_t message, uint32_t control, const TempFolder& dir,
                  const std::string& options, const std::string& environment = "")
        : control_(control), control_bus_(pf::BusParticipant::Open()) {
        const std::string exe = pf::ProgramDirectory() +
                                (kWindows ? "channel_driver_helper.exe" : "channel_driver_helper");
        const std::string cmd = environment + "\"" + exe + "\" " + std::to_string(message) + " " +
                                std::to_string(control_) + " \"" + dir.path().string() + "\" " +
                                options + " < \"" + (dir.path() / "empty").string() + "\" > \"" +
                                (dir.path() / "out.txt").string() + "\"";
        // cmd.exe drops the outer quotes of a command that starts with one.
        runner_ =
            std::thread([cmd] { (void)std::system((kWindows ? "\"" + cmd + "\"" : cmd).c_str()); });
        pf::BusMessage m;
        ready_ = Await(201, &m, 20000);
        pid_ = m.wParam;
    }
    ~DriverProcess() {
        pf::BusBroadcast({control_, 0, 3});
        runner_.join();
    }
    bool ready() const { return ready_; }
    uint32_t pid() const { return pid_; }

    Outcome Exchange() {
        StartExchange();
        return FinishExchange();
    }
    void StartExchange() { pf::BusBroadcast({control_, 0, 1}); }
    Outcome FinishExchange() {
        Outcome o;
        pf::BusMessage m;
        o.done = Await(202, &m, 20000);
        o.code = static_cast<uint8_t>(m.lParam >> 8);
        o.counter = m.wParam;
        o.messages = Pending();
        return o;
    }
    void SetCounter(uint32_t value) { pf::BusBroadcast({control_, value, 2}); }
    void OpenPort() { pf::BusBroadcast({control_, 0, 4}); }

    // Everything the drivers have posted that this process has not read.
    static std::vector<Msg> Pending(uint32_t waitMs = 0) {
        std::vector<Msg> out;
        Msg m{};
        while ((m.letter = lk::OdbiorKomunikatu(&m.id, &m.value, waitMs)) != 0) out.push_back(m);
        return out;
    }

private:
    bool Await(uint32_t op, pf::BusMessage* out, uint32_t ms) {
        if (!control_bus_) return false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            while (control_bus_->Take(control_, out))
                if ((out->lParam & 0xFF) == op) return true;
            control_bus_->Wait(100);
        }
        return false;
    }

    uint32_t control_;
    std::unique_ptr<pf::BusParticipant> control_bus_;
    std::thread runner_;
    bool ready_ = false;
    uint32_t pid_ = 0;
};

class ServerChannel : public ::testing::Test {
protected:
    void SetUp() override {
        message_ = Numbers();
        lk::UstawNumerKomunikatu(message_);  // our queue exists before any driver posts
        DriverProcess::Pending();
    }
    void TearDown() override { lk::UstawNumerKomunikatu(0); }
    uint32_t message_ = 0;
};

}  // namespace

TEST_F(ServerChannel, CommandsAnswersAndReportsOfARunningDriver) {
    TempFolder dir;
    DriverProcess driver(message_, message_ + 1, dir, "--id 4242 --counter-period 5 --verbose");
    ASSERT_TRUE(driver.ready()) << ReadText(dir.path() / "out.txt");
    // The announcement carries the override, not the process id.
    EXPECT_EQ(DriverProcess::Pending(), (std::vector<Msg>{{4242, 'A', 0}}));

    Outcome o = driver.Exchange();
    ASSERT_TRUE(o.done);
    EXPECT_TRUE(o.messages.empty());
    EXPECT_EQ(o.counter, 1u);

    lk::KomunikatSerwera(4242, 'a', 0);
    EXPECT_EQ(driver.Exchange().messages, (std::vector<Msg>{{4242, 'A', 0}}));

    // Another driver's command is dropped: no answer, no code of the channel.
    lk::KomunikatSerwera(4243, 'b', 0);
    lk::KomunikatSerwera(driver.pid(), 'b', 0);  // the real id is not ours either
    o = driver.Exchange();
    EXPECT_TRUE(o.messages.empty());
    EXPECT_NE(o.code, lk::Kod::PrzerwanieSerwera);
    EXPECT_EQ(o.counter, 3u);

    // An unknown letter: 54, no answer, the request not sent nor counted.
    lk::KomunikatSerwera(4242, 'x', 0);
    o = driver.Exchange();
    EXPECT_EQ(o.code, lk::Kod::NieznanyRozkazSerwera);
    EXPECT_TRUE(o.messages.empty());
    EXPECT_EQ(o.counter, 3u);

    lk::KomunikatSerwera(4242, 'b', 7);
    o = driver.Exchange();
    EXPECT_EQ(o.code, lk::Kod::PrzerwanieSerwera);
    EXPECT_EQ(o.messages, (std::vector<Msg>{{4242, 'B', 0}}));
    EXPECT_EQ(o.counter, 3u);

    // One command per request while running: the second waits for the next.
    lk::KomunikatSerwera(4242, 'l', 0);
    lk::KomunikatSerwera(4242, 'o', 0);
    EXPECT_EQ(driver.Exchange().messages, (std::vector<Msg>{{4242, 'L', 0}}));
    EXPECT_EQ(driver.Exchange().messages, (std::vector<Msg>{{4242, 'O', 0}, {4242, 'C', 5}}))
        << "the fifth exchange is followed by its COUNTER report";

    driver.SetCounter(0);
    std::vector<Msg> reports;
    for (int i = 0; i < 15; ++i)
        for (const Msg& m : driver.Exchange().messages) reports.push_back(m);
    EXPECT_EQ(reports, (std::vector<Msg>{{4242, 'C', 5}, {4242, 'C', 10}, {4242, 'C', 15}}));

    driver.SetCounter(0x2000000);
    lk::KomunikatSerwera(4242, 'c', 0);
    EXPECT_EQ(driver.Exchange().messages, (std::vector<Msg>{{4242, 'C', 0xFFFFFF}}));

    const std::string log = ReadText(dir.path() / "debug.txt");
    const std::string head = "***DEBUG*###DRIVER: helper, PID=" + std::to_string(driver.pid());
    for (const char* event :
         {" poslal komunikat AVAILABLE do Serwera ###", " wykonal rozkaz AVAILABLE Serwera ###",
          " odebral nieznany rozkaz Serwera ###", " wykonal rozkaz BREAK Serwera ###",
          " poslal komunikat COUNTER do Serwera ###", " wykonal rozkaz LINES Serwera ###"})
        EXPECT_NE(log.find(head + event + "\n"), std::string::npos) << event << "\n" << log;
}

TEST_F(ServerChannel, ChannelOffPostsNothingAndServesNothing) {
    TempFolder dir;
    DriverProcess driver(0, message_ + 1, dir, "--id 4343 --counter-period 1 --verbose");
    ASSERT_TRUE(driver.ready());
    lk::KomunikatSerwera(4343, 'b', 0);
    for (int i = 0; i < 3; ++i) {
        Outcome o = driver.Exchange();
        ASSERT_TRUE(o.done);
        EXPECT_NE(o.code, lk::Kod::PrzerwanieSerwera);
        EXPECT_TRUE(o.messages.empty());
    }
    EXPECT_FALSE(fs::exists(dir.path() / "debug.txt"));
}

// Linux: the helper's port is the simulator's pseudo-terminal.
TEST_F(ServerChannel, SuspendClosesAndResumeReopensThePortOnce) {
    if (kWindows) GTEST_SKIP() << "vorin-sim runs on Linux only";
    TempFolder dir;
    const fs::path d = dir.path();
    const std::string sim = pf::ProgramDirectory() + "vorin-sim";
    ASSERT_EQ(
        std::system(("\"" + sim + "\" --verbose --link \"" + (d / "tty").string() + "\" > \"" +
                     (d / "sim.out").string() + "\" 2> \"" + (d / "sim.log").string() +
                     "\" & echo $! > \"" + (d / "sim.pid").string() + "\"")
                        .c_str()),
        0);
    struct KillSim {
        fs::path pid;
        ~KillSim() {
            (void)std::system(("kill $(cat \"" + pid.string() + "\") 2>/dev/null").c_str());
        }
    } killSim{d / "sim.pid"};
    auto count = [&](const std::string& text) {
        const std::string log = ReadText(d / "sim.log");
        std::size_t n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    };
    auto waitCount = [&](const std::string& text, std::size_t n) {
        for (int i = 0; i < 250 && count(text) < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return count(text);
    };
    for (int i = 0; i < 250 && !fs::exists(d / "tty"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(d / "tty"));

    DriverProcess driver(message_, message_ + 1, dir, "--port 7 --id 4444",
                         "VORIN_COM7=\"" + (d / "tty").string() + "\" ");
    ASSERT_TRUE(driver.ready()) << ReadText(d / "out.txt");
    DriverProcess::Pending();
    Outcome o = driver.Exchange();
    ASSERT_EQ(o.code, 0) << ReadText(d / "sim.log");
    EXPECT_EQ(waitCount("host opened the line", 1), 1u);

    // SUSPEND closes the port; the exchange then waits for RESUME.
    lk::KomunikatSerwera(4444, 's', 0);
    lk::KomunikatSerwera(4444, 's', 0);  // served while suspended: answered only
    driver.StartExchange();
    std::vector<Msg> got;
    while (got.size() < 2) {
        Msg m{};
        m.letter = lk::OdbiorKomunikatu(&m.id, &m.value, 10000);
        if (m.letter == 0) break;
        got.push_back(m);
    }
    EXPECT_EQ(got, (std::vector<Msg>{{4444, 'S', 0}, {4444, 'S', 0}}));
    EXPECT_EQ(waitCount("host closed the line", 1), 1u);
    const std::size_t acks = count("answered ACK");

    lk::KomunikatSerwera(4444, 'r', 0);
    o = driver.FinishExchange();
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.messages, (std::vector<Msg>{{4444, 'R', 0}}));
    EXPECT_EQ(waitCount("host opened the line", 2), 2u);
    EXPECT_EQ(count("host closed the line"), 1u);
    EXPECT_EQ(waitCount("answered ACK", acks + 1), acks + 1);

    // BREAK: nothing reaches the printer.
    lk::KomunikatSerwera(4444, 'b', 0);
    o = driver.Exchange();
    EXPECT_EQ(o.code, lk::Kod::PrzerwanieSerwera);
    o = driver.Exchange();  // a later request goes through, and is the next one the printer sees
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(count("answered ACK"), acks + 2) << ReadText(d / "sim.log");
}

// vorin-server as the server: its command reaches the driver, which answers
// at its next request exchange; the tool prints the answer and exits 0.
TEST_F(ServerChannel, VorinServerSendPrintsTheAnswer) {
    TempFolder dir;
    DriverProcess driver(message_, message_ + 1, dir, "--id 4545");
    ASSERT_TRUE(driver.ready());
    const std::string exe =
        pf::ProgramDirectory() + (kWindows ? "vorin-server.exe" : "vorin-server");
    const fs::path out = dir.path() / "server.txt";
    std::string cmd = "\"" + exe + "\" --message " + std::to_string(message_) +
                      " --timeout 20000 send 4545 c > \"" + out.string() + "\" && echo done>> \"" +
                      out.string() + "\"";
    if (kWindows) cmd = "\"" + cmd + "\"";
    std::thread server([cmd] { (void)std::system(cmd.c_str()); });
    // The tool's post comes at a moment we do not know: exchanges until its answer.
    for (int i = 0; i < 400 && ReadText(out).find("done") == std::string::npos; ++i) {
        driver.Exchange();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    server.join();
    EXPECT_NE(ReadText(out).find("driver 4545 C COUNTER"), std::string::npos) << ReadText(out);
    EXPECT_NE(ReadText(out).find("done"), std::string::npos) << "exit status 0";
}

// RESUME in every multiplexer mode, in this process against the scripted
// printer (its pauses take no time). The mode-3 channel switch that the
// port's open runs is itself a request exchange; a nested service there would
// find the driver still suspended and wait inside RESUME. Should that happen,
// the watchdog's BREAK ends the wait (and shows up as a 'B' and code 52).
TEST_F(ServerChannel, ResumeReopensThePortAndAnswersInEveryMultiplexerMode) {
    for (uint8_t mode = 0; mode <= 3; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        lk::test::DrukarkaSkryptowa printer;
        lk::TrybMux = mode;
        lk::NumerKanalu = 3;
        lk::UstawNumerKomunikatu(message_);
        lk::UstawIdSterownikaZastepczy(4747);
        lk::ZamknieciePortu();
        lk::UstawZawieszenie(true);
        lk::KomunikatSerwera(4747, 'r', 0);

        std::mutex lock;
        std::condition_variable cv;
        bool finished = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> l(lock);
            if (!cv.wait_for(l, std::chrono::seconds(10), [&] { return finished; }))
                lk::KomunikatSerwera(4747, 'b', 0);
        });
        const bool goesOn = lk::ObslugaRozkazowSerwera();
        {
            std::lock_guard<std::mutex> l(lock);
            finished = true;
        }
        cv.notify_all();
        watchdog.join();

        EXPECT_TRUE(goesOn);
        EXPECT_EQ(lk::KodWyniku, 0);
        EXPECT_FALSE(lk::Zawieszony());
        EXPECT_EQ(lk::PortOtwarty, 1);
        if (mode == 3) {
            EXPECT_EQ(printer.Zapisane(), (std::vector<uint8_t>{0x1B, 0x01, 3}))
                << "the channel switch went out";
        }
        EXPECT_EQ(DriverProcess::Pending(), (std::vector<Msg>{{4747, 'R', 0}}));
        lk::UstawieniaDomyslneKanalu();
    }
}

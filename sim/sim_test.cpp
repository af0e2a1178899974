// Drives vorin-sim as a real process over its pseudo-terminal with a small
// host of its own: raw bytes and a bitwise CRC written here, so that neither
// the simulator's table nor the link's code is trusted.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sim/crc16.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr unsigned kFirst = 320;
constexpr unsigned kBlocks = 144;
constexpr int kAnswerMs = 2000;  // bound for an answer that must come
constexpr int kQuietMs = 300;    // how long silence is watched for

uint16_t HostCrc(const uint8_t* data, size_t size, uint16_t crc = 0) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

Bytes MakeImage() {
    Bytes image(kBlocks * 256);
    std::mt19937 random(437);
    for (auto& b : image) b = static_cast<uint8_t>(random());
    std::fill(image.begin() + 3 * 256, image.begin() + 4 * 256, 0);  // blank blocks travel too
    return image;
}

std::string ReadFile(const fs::path& path) { return vorin::test::ReadWholeFile(path.string()); }

fs::path BinDir() { return fs::read_symlink("/proc/self/exe").parent_path(); }

using vorin::test::TempDir;

// One vorin-sim process (tests/support): its stdout's first line is the
// device path, its stderr the log the test reads.
class Sim {
public:
    Sim(const TempDir& dir, std::vector<std::string> args) : out_(dir.File("sim.out")) {
        std::string error;
        EXPECT_TRUE(process_.Start((BinDir() / "vorin-sim").string(), args, out_, &error)) << error;
    }

    const std::string& Path() const { return process_.Line(); }
    std::string Log() const { return process_.ErrorLog(); }

    // Waits (bounded) until the log holds text.
    bool LogShows(const std::string& text, int ms = kAnswerMs) const {
        for (auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;) {
            if (Log().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return Log().find(text) != std::string::npos;
    }

    // Exit status once the process ends within ms, or -1 (it is then killed).
    int WaitExit(int ms = 5000) {
        int status = 0;
        if (!process_.WaitExit(ms / 1000.0, &status)) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int Stop(int signal = SIGTERM) {
        process_.Signal(signal);
        return WaitExit();
    }

private:
    std::string out_;
    vorin::test::Simulator process_;
};

// The host end: a raw line, every read bounded.
class Host {
public:
    static constexpr int kTimeout = -1;
    static constexpr int kLineGone = -2;

    explicit Host(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd_, 0) << path << ": " << std::strerror(errno);
        termios t{};
        if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            cfsetispeed(&t, B38400);
            cfsetospeed(&t, B38400);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Host() {
        if (fd_ >= 0) close(fd_);
    }
    int Fd() const { return fd_; }

    void WriteAll(const Bytes& bytes) {
        size_t done = 0;
        for (auto end = Clock::now() + std::chrono::seconds(2);
             done < bytes.size() && Clock::now() < end;) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno != EAGAIN)
                break;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(done, bytes.size());
    }
    int ReadByte(int ms = kAnswerMs) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, ms);
        if (ready == 0) return kTimeout;
        uint8_t b;
        const ssize_t n = ::read(fd_, &b, 1);
        if (n == 1) return b;
        return (n < 0 && errno == EAGAIN) ? kTimeout : kLineGone;
    }

private:
    int fd_ = -1;
};

struct Answers {
    int ack = Host::kTimeout, half = Host::kTimeout, last = Host::kTimeout;
};

// One block as the loader sends it; stops at the first answer that is not
// the expected one, as a host must.
Answers SendBlock(Host& host, unsigned number, const uint8_t* data, bool wrongCrc = false) {
    Answers a;
    Bytes first{uint8_t(number >> 8), uint8_t(number & 0xFF)};
    first.insert(first.end(), data, data + 128);
    Bytes second(data + 128, data + 256);
    uint16_t crc = HostCrc(second.data(), 128, HostCrc(first.data(), first.size()));
    if (wrongCrc) crc ^= 0x0100;
    second.push_back(uint8_t(crc >> 8));
    second.push_back(uint8_t(crc & 0xFF));
    host.WriteAll({0x1B, 0x01});
    if ((a.ack = host.ReadByte()) != 0x06) return a;
    host.WriteAll(first);
    if ((a.half = host.ReadByte()) != 0x00) return a;
    host.WriteAll(second);
    a.last = host.ReadByte();
    return a;
}

void ExpectAccepted(Host& host, const Bytes& image, unsigned index) {
    const Answers a = SendBlock(host, kFirst + index, &image[index * 256]);
    EXPECT_EQ(a.ack, 0x06) << "block " << kFirst + index;
    EXPECT_EQ(a.half, 0x00) << "block " << kFirst + index;
    EXPECT_EQ(a.last, 0x00) << "block " << kFirst + index;
}

TEST(SimCrc, CatalogueCheckValues) {
    const char* check = "123456789";
    const auto* bytes = reinterpret_cast<const uint8_t*>(check);
    EXPECT_EQ(HostCrc(bytes, 9), 0xBB3D);
    EXPECT_EQ(vorin::sim::Crc16Arc(bytes, 9), 0xBB3D);
    const uint8_t block320[] = {0x01, 0x40};
    EXPECT_EQ(vorin::sim::Crc16Arc(block320, 2), 0x6000);
    const Bytes image = MakeImage();
    EXPECT_EQ(vorin::sim::Crc16Arc(image.data(), image.size()),
              HostCrc(image.data(), image.size()));
}

TEST(SimUpload, FullUploadDumpsTheImageAndManagesTheLink) {
    TempDir dir;
    const fs::path dump = fs::path(dir.Path()) / "dump.bin",
                   link = fs::path(dir.Path()) / "ttyVORIN";
    Sim sim(dir, {"--dump", dump.string(), "--link", link.string()});
    ASSERT_EQ(sim.Path().rfind("/dev/pts/", 0), 0u) << sim.Path();
    EXPECT_EQ(fs::read_symlink(link).string(), sim.Path());
    const Bytes image = MakeImage();
    {
        Host host(link.string());
        for (unsigned b = 0; b < kBlocks; ++b) ExpectAccepted(host, image, b);
        // Written before the last status byte went out.
        EXPECT_EQ(ReadFile(dump), std::string(image.begin(), image.end()));
    }
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(ReadFile(dump), std::string(image.begin(), image.end()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    const std::string log = sim.Log();
    EXPECT_NE(log.find("upload complete"), std::string::npos) << log;
    EXPECT_NE(log.find("stored=144/144 accepted=144 requests=144 host_crc_errors=0 injected=0"),
              std::string::npos)
        << log;
}

TEST(SimUpload, PartialUploadLeavesMissingBlocksErasedOnSigint) {
    TempDir dir;
    const fs::path dump = fs::path(dir.Path()) / "dump.bin",
                   link = fs::path(dir.Path()) / "ttyVORIN";
    fs::create_symlink("/dev/null", link);  // stale link of an earlier run
    Sim sim(dir, {"--dump", dump.string(), "--link", link.string(), "--quiet"});
    EXPECT_EQ(fs::read_symlink(link).string(), sim.Path());
    const Bytes image = MakeImage();
    {
        Host host(sim.Path());
        ExpectAccepted(host, image, 0);
        ExpectAccepted(host, image, 143);
        ExpectAccepted(host, image, 0);  // sent again: stored again, counted once
    }
    EXPECT_EQ(sim.Stop(SIGINT), 0);
    const std::string got = ReadFile(dump);
    ASSERT_EQ(got.size(), 36864u);
    EXPECT_EQ(got.substr(0, 256), std::string(image.begin(), image.begin() + 256));
    EXPECT_EQ(got.substr(143 * 256), std::string(image.begin() + 143 * 256, image.end()));
    EXPECT_EQ(got.substr(256, 142 * 256), std::string(142 * 256, '\xFF'));
    EXPECT_NE(sim.Log().find("stored=2/144 accepted=3"), std::string::npos) << sim.Log();
    EXPECT_EQ(sim.Log().find("block 320 stored"), std::string::npos) << "--quiet logs blocks";
}

TEST(SimFaults, FirstAnswerReplacesTheAck) {
    TempDir dir;
    const Bytes image = MakeImage();
    {
        Sim sim(dir, {"--first-answer", "0x15", "--first-answer-at", "2"});
        Host host(sim.Path());
        ExpectAccepted(host, image, 0);
        const Answers nak = SendBlock(host, kFirst + 1, &image[256]);
        EXPECT_EQ(nak.ack, 0x15);
        // After a NAK the printer waits for a new request, not for a body.
        ExpectAccepted(host, image, 1);
        EXPECT_EQ(sim.Stop(), 0);
    }
    {
        Sim sim(dir, {"--first-answer", "1"});
        Host host(sim.Path());
        EXPECT_EQ(SendBlock(host, kFirst, image.data()).ack, 0x01);
        EXPECT_EQ(SendBlock(host, kFirst, image.data()).ack, 0x01);
        EXPECT_EQ(sim.Stop(), 0);
        EXPECT_NE(sim.Log().find("injected=2"), std::string::npos) << sim.Log();
    }
}

TEST(SimFaults, BlockStatusesAreInjectedTheGivenNumberOfTimes) {
    TempDir dir;
    const fs::path dump = fs::path(dir.Path()) / "dump.bin";
    const Bytes image = MakeImage();
    {
        Sim sim(dir, {"--dump", dump.string(), "--crc-error", "321:2", "--verify-error", "322"});
        Host host(sim.Path());
        ExpectAccepted(host, image, 0);
        EXPECT_EQ(SendBlock(host, kFirst + 1, &image[256]).last, 0x01);
        EXPECT_EQ(SendBlock(host, kFirst + 1, &image[256]).last, 0x01);
        ExpectAccepted(host, image, 1);
        EXPECT_EQ(SendBlock(host, kFirst + 2, &image[512]).last, 0x02);
        ExpectAccepted(host, image, 2);
        EXPECT_EQ(sim.Stop(), 0);
        EXPECT_EQ(ReadFile(dump).substr(0, 768), std::string(image.begin(), image.begin() + 768));
        EXPECT_NE(sim.Log().find("stored=3/144 accepted=3 requests=6 host_crc_errors=0 injected=3"),
                  std::string::npos)
            << sim.Log();
    }
    {
        // Every block once: each block has its own count. Status 122 brings two
        // more bytes, which the host reads after it.
        Sim sim(dir, {"--status-after-block", "all:1:122", "--status-after-block", "320:1:7"});
        Host host(sim.Path());
        EXPECT_EQ(SendBlock(host, kFirst, image.data()).last, 122);
        EXPECT_EQ(host.ReadByte(), 0x00);
        EXPECT_EQ(host.ReadByte(), 0x00);
        EXPECT_EQ(SendBlock(host, kFirst, image.data()).last, 7);
        ExpectAccepted(host, image, 0);
        EXPECT_EQ(SendBlock(host, kFirst + 143, &image[143 * 256]).last, 122);
        EXPECT_EQ(host.ReadByte(), 0x00);
        EXPECT_EQ(host.ReadByte(), 0x00);
        ExpectAccepted(host, image, 143);
        EXPECT_EQ(sim.Stop(), 0);
    }
}

TEST(SimFaults, StatusAfterHalfEndsTheRequest) {
    TempDir dir;
    const Bytes image = MakeImage();
    Sim sim(dir, {"--status-after-half", "2", "--status-after-half-at", "321"});
    Host host(sim.Path());
    ExpectAccepted(host, image, 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Answers a = SendBlock(host, kFirst + 1, &image[256]);
        EXPECT_EQ(a.ack, 0x06);
        EXPECT_EQ(a.half, 0x02);
    }
    ExpectAccepted(host, image, 2);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_NE(sim.Log().find("stray_bytes=0"), std::string::npos) << sim.Log();
}

TEST(SimFaults, SilentAfterStopsAnsweringButKeepsReading) {
    TempDir dir;
    const Bytes image = MakeImage();
    {
        Sim sim(dir, {"--silent-after", "0"});
        Host host(sim.Path());
        host.WriteAll({0x1B, 0x01});
        EXPECT_EQ(host.ReadByte(kQuietMs), Host::kTimeout);
        EXPECT_EQ(sim.Stop(), 0);
    }
    {
        Sim sim(dir, {"--silent-after", "132"});  // ESC 0x01 and the first half
        Host host(sim.Path());
        host.WriteAll({0x1B, 0x01});
        EXPECT_EQ(host.ReadByte(), 0x06);
        host.WriteAll(Bytes(130, 0x01));
        EXPECT_EQ(host.ReadByte(kQuietMs), Host::kTimeout);
        host.WriteAll(Bytes(130, 0x55));
        EXPECT_EQ(host.ReadByte(kQuietMs), Host::kTimeout);
        EXPECT_EQ(sim.Stop(), 0);
        EXPECT_NE(sim.Log().find("received=262 sent=1"), std::string::npos) << sim.Log();
    }
}

TEST(SimFaults, CloseAfterDropsTheLineAtTheNextRequest) {
    TempDir dir;
    const fs::path dump = fs::path(dir.Path()) / "dump.bin",
                   link = fs::path(dir.Path()) / "ttyVORIN";
    const Bytes image = MakeImage();
    Sim sim(dir, {"--close-after", "2", "--dump", dump.string(), "--link", link.string()});
    Host host(sim.Path());
    ExpectAccepted(host, image, 0);
    ExpectAccepted(host, image, 1);
    host.WriteAll({0x1B, 0x01});
    EXPECT_EQ(host.ReadByte(), Host::kLineGone);
    EXPECT_EQ(sim.WaitExit(), 0);
    const std::string got = ReadFile(dump);
    EXPECT_EQ(got.substr(0, 512), std::string(image.begin(), image.begin() + 512));
    EXPECT_EQ(got.substr(512, 256), std::string(256, '\xFF'));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(SimHostMistakes, AreAnsweredAsAPrinterWouldAndLogged) {
    TempDir dir;
    const Bytes image = MakeImage();
    Sim sim(dir, {"--gap-timeout", "100"});
    Host host(sim.Path());
    EXPECT_EQ(SendBlock(host, kFirst, image.data(), /*wrongCrc=*/true).last, 0x01);
    EXPECT_TRUE(sim.LogShows("block 320: checksum"));
    host.WriteAll({0x1B, 0x02});
    EXPECT_EQ(host.ReadByte(), 0x15);
    EXPECT_TRUE(sim.LogShows("unknown command 0x02"));
    EXPECT_EQ(SendBlock(host, 100, image.data()).half, 0x05);
    EXPECT_TRUE(sim.LogShows("block number 100"));
    EXPECT_EQ(SendBlock(host, 464, image.data()).half, 0x05);
    // A first half one byte short: the printer waits for the last byte, then
    // gives the request up.
    host.WriteAll({0x1B, 0x01});
    EXPECT_EQ(host.ReadByte(), 0x06);
    host.WriteAll(Bytes(129, 0x01));
    EXPECT_EQ(host.ReadByte(kQuietMs), Host::kTimeout);
    EXPECT_TRUE(sim.LogShows("first half stopped after 129 of 130 bytes"));
    host.WriteAll({0x33, 0x44, 0x55});
    EXPECT_TRUE(sim.LogShows("3 byte(s) outside any request ignored (first 0x33)"));
    ExpectAccepted(host, image, 0);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_NE(
        sim.Log().find("stored=1/144 accepted=1 requests=6 host_crc_errors=1 injected=0 "
                       "unknown_commands=1 bad_block_numbers=2 short_requests=1 stray_bytes=3"),
        std::string::npos)
        << sim.Log();
}

TEST(SimLine, HostMayCloseAndReopen) {
    TempDir dir;
    const Bytes image = MakeImage();
    Sim sim(dir, {});
    {
        Host host(sim.Path());
        termios t{};
        ASSERT_EQ(tcgetattr(host.Fd(), &t), 0);
        EXPECT_EQ(cfgetospeed(&t), B38400);  // the host's own setting
        EXPECT_EQ(ioctl(host.Fd(), TIOCEXCL), 0);
        host.WriteAll({0x1B, 0x01});
        EXPECT_EQ(host.ReadByte(), 0x06);
        host.WriteAll(Bytes(40, 0x01));  // the host goes away in mid-request
    }
    ASSERT_TRUE(sim.LogShows("host closed the line"));
    EXPECT_TRUE(sim.LogShows("first half stopped after 40 of 130 bytes: the host closed the line"));
    // The next host finds the line at 9600 baud, so that its 38400 is a change,
    // and not locked by the first host's exclusive flag, even without root.
    {
        int fd = open(sim.Path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), B9600);
        close(fd);
        if (geteuid() == 0) {
            chmod(sim.Path().c_str(), 0666);
            const pid_t child = fork();
            if (child == 0) {
                if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
                const int other = open(sim.Path().c_str(), O_RDWR | O_NOCTTY);
                _exit(other >= 0 ? 0 : (errno == EBUSY ? 1 : 2));
            }
            int status = 0;
            waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        }
    }
    {
        Host host(sim.Path());
        ExpectAccepted(host, image, 0);
        ExpectAccepted(host, image, 1);
    }
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_NE(sim.Log().find("stored=2/144"), std::string::npos) << sim.Log();
}

// The loader's presence test opens and closes the port, then opens it again
// at once and sends; and a host may give up in mid-request and come straight
// back. Neither may lose an answer or mix with the old request.
TEST(SimLine, QuickReopenIsServedAsANewHost) {
    TempDir dir;
    const Bytes image = MakeImage();
    Sim sim(dir, {});
    for (unsigned round = 0; round < 20; ++round) {
        close(open(sim.Path().c_str(), O_RDWR | O_NOCTTY));  // presence probe
        Host host(sim.Path());
        // The simulator learns of opens and closes from inotify, a queue apart
        // from the line's bytes: a request sent within microseconds of the
        // reopen can be taken for the probe's. Our serial library waits 200 ms
        // between opening and the first byte; 20 ms is plenty.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ExpectAccepted(host, image, round);
    }
    for (unsigned round = 0; round < 20; ++round) {
        {
            Host quitter(sim.Path());
            quitter.WriteAll({0x1B, 0x01});
            EXPECT_EQ(quitter.ReadByte(), 0x06);
            quitter.WriteAll(Bytes(40, 0x01));
        }
        Host host(sim.Path());
        ExpectAccepted(host, image, round);
    }
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_NE(sim.Log().find("stored=20/144 accepted=40"), std::string::npos) << sim.Log();
}

TEST(SimLine, ExitWhenDoneEndsAfterTheHostLeaves) {
    TempDir dir;
    const Bytes image = MakeImage();
    Sim sim(dir, {"--exit-when-done", "--quiet"});
    {
        Host host(sim.Path());
        for (unsigned b = 0; b < kBlocks; ++b) ExpectAccepted(host, image, b);
    }
    EXPECT_EQ(sim.WaitExit(), 0);
}

// Pacing holds every byte to its wire time, so the bound is a lower one: the
// upload can never be faster than the line.
TEST(SimLine, PaceHoldsBytesToWireTime) {
    TempDir dir;
    const Bytes image = MakeImage();
    Sim sim(dir, {"--pace", "38400", "--quiet"});
    Host host(sim.Path());
    const auto start = Clock::now();
    for (unsigned b = 0; b < 4; ++b) ExpectAccepted(host, image, b);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double wire = 4 * 265 * 11 / 38400.0;
    EXPECT_GE(seconds, wire);
    RecordProperty("four_blocks_ms", static_cast<int>(seconds * 1000));
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimUsage, BadOptionsAreRefused) {
    TempDir dir;
    const std::string exe = (BinDir() / "vorin-sim").string();
    std::string out;  // standard output and error of the last run
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), exe);
        std::string err;
        out.clear();
        const int status = vorin::test::RunPiped(args, {}, "", 10, &out, &err);
        out += err;
        return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(out.find("--close-after N"), std::string::npos);
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--bogus"},
                                               {"--crc-error", "500:1"},
                                               {"--crc-error", "321:x"},
                                               {"--first-answer", "300"},
                                               {"--status-after-block", "320:1"},
                                               {"--pace"},
                                               {"--first-answer-at", "2"},
                                               {"--silent-after", "-1"}}) {
        EXPECT_EQ(run(bad), 2) << bad[0];
        EXPECT_NE(out.find("vorin-sim: "), std::string::npos) << bad[0];
    }
    const fs::path occupied = fs::path(dir.Path()) / "file";
    std::ofstream(occupied) << "keep";
    EXPECT_EQ(run({"--link", occupied.string()}), 1);
    EXPECT_EQ(ReadFile(occupied), "keep");
}

}  // namespace

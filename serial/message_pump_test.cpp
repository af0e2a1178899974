// The message-pump thread through the library's exported functions, with this
// test as the server on the real message bus (the platform bus directly) and
// a silent test line whose reads wait for their timeout: the pump's 'A'
// reports come while a ReadByte waits.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/dynlib.h"
#include "platform/message_bus.h"
#include "platform/test_line.h"
#include "vorin/serial.h"

namespace pf = vorin::platform;

namespace {

constexpr uint32_t kDriver = 777;

// By name: on Windows kernel32 has an OpenThread of its own (vorin/serial.h).
using ThreadCall = void (*)();
ThreadCall LibraryFunction(const char* name) {
    void* lib =
        pf::DynlibOpen((pf::ProgramDirectory() + pf::DynlibFileName("vorinserial")).c_str());
    return lib != nullptr ? reinterpret_cast<ThreadCall>(pf::DynlibSymbol(lib, name)) : nullptr;
}

class Server {
public:
    explicit Server(uint32_t number) : number_(number), bus_(pf::BusParticipant::Open()) {}
    bool Ok() const { return bus_ != nullptr; }
    void Send(char letter) { pf::BusBroadcast({number_, kDriver, static_cast<uint8_t>(letter)}); }
    // The next driver letter from our driver within `ms`; 0 when none came.
    char Next(uint32_t ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            pf::BusMessage m;
            while (bus_->Take(number_, &m)) {
                const char letter = static_cast<char>(m.lParam & 0xFF);
                if (m.wParam == kDriver && letter >= 'A' && letter <= 'Z') return letter;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= end) return 0;
            bus_->Wait(static_cast<uint32_t>(
                std::chrono::ceil<std::chrono::milliseconds>(end - now).count()));
        }
    }
    // Skips 'A' reports until `letter`; false when it did not come.
    bool AnswerAfterReports(char letter, uint32_t ms) {
        for (char c; (c = Next(ms)) != 0;)
            if (c == letter) return true;
        return false;
    }

private:
    uint32_t number_;
    std::unique_ptr<pf::BusParticipant> bus_;
};

}  // namespace

TEST(MessagePump, ReportsWhileAReadWaitsAndObeysSuspendAndResume) {
    std::string why;
    auto line = pf::TestLine::Create(why);
    if (!line) GTEST_SKIP() << "no test line: " << why;
    const uint32_t number = 0xE000 + (pf::CurrentProcessId() % 0x800) * 2;
    Server server(number);
    ASSERT_TRUE(server.Ok());
    const ThreadCall openThread = LibraryFunction("OpenThread");
    const ThreadCall closeThread = LibraryFunction("CloseThread");
    ASSERT_TRUE(openThread != nullptr && closeThread != nullptr);
    vorin_serial_set_channel(number, kDriver);
    openThread();
    openThread();  // a second start keeps the one thread

    // No transfer waits: the pump answers commands and reports nothing else.
    server.Send('a');
    EXPECT_EQ(server.Next(5000), 'A');
    server.Send('x');
    server.Send('e');
    EXPECT_EQ(server.Next(5000), 'E') << "'x' has no answer";

    ASSERT_EQ(InitializePort(line->Port(), 38400, 1, 1), 0);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        uint8_t b;
        while (!stop.load()) ReadByte(&b);  // the line is silent: each waits 1 s
    });
    EXPECT_EQ(server.Next(5000), 'A') << "a report while the read waits";

    server.Send('s');
    ASSERT_TRUE(server.AnswerAfterReports('S', 5000));
    // Suspended: commands are answered, and no report follows any more.
    server.Send('b');
    EXPECT_EQ(server.Next(5000), 'B');
    EXPECT_EQ(server.Next(100), 0);

    server.Send('r');
    EXPECT_EQ(server.Next(5000), 'R');
    EXPECT_EQ(server.Next(5000), 'A') << "reports come back after RESUME";

    server.Send('s');
    ASSERT_TRUE(server.AnswerAfterReports('S', 5000));
    closeThread();  // must end a suspended thread
    server.Send('a');
    EXPECT_EQ(server.Next(200), 0) << "the thread has ended";

    stop = true;
    reader.join();
    UnInitializePort();
    closeThread();  // nothing running: nothing to do
    vorin_serial_set_channel(0, 0);
}

// A serial line for tests: the library opens one end as a COM port, the test
// plays the other end (the printer) through this object.
//
// POSIX: a fresh pseudo-terminal pair; the slave is mapped to a free COM
// number through $VORIN_COM<n>. Windows (under Wine): a pair of ports linked
// by the test runner (socat between two pseudo-terminals, mapped in Wine's
// registry) and named in $VORIN_TEST_LINES as "5:6,7:8" (library:peer); the
// peer end is opened as a COM port too. A pseudo-terminal has no baud rate,
// no parity and no modem lines; a test that needs those cannot run on it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vorin::platform {

class TestLine {
public:
    // Null (with a reason in `why`) when no line can be had here.
    static std::unique_ptr<TestLine> Create(std::string& why);
    virtual ~TestLine() = default;

    // The COM number under which the library opens its end.
    virtual uint8_t Port() const = 0;
    // Peer side: writes all bytes; false when the line is gone.
    virtual bool Send(const std::vector<uint8_t>& bytes) = 0;
    // Peer side: up to `count` bytes, waiting at most `timeoutMs` in all.
    virtual std::vector<uint8_t> Receive(std::size_t count, uint32_t timeoutMs) = 0;
    // Peer side: drops what it has received so far.
    virtual void Drain() = 0;
    // Hangs up the peer end: the library's end sees the line gone.
    virtual void HangUp() = 0;

    // What this line can do, asked of the line itself, so that a test that
    // needs one of these skips (with the reason) where the line cannot:
    // a pseudo-terminal has no modem lines; a real null-modem pair has them,
    // and its far end cannot be hung up so that the near end sees it.
    virtual bool HasModemLines() = 0;
    virtual bool CanHangUp() = 0;

protected:
    TestLine() = default;
};

}  // namespace vorin::platform

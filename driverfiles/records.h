// Library-wide state of the driver's text files and the C++ side of the
// record layer. The exported C functions are declared in vorin/driver.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorin::driverfiles {

struct DriverFileState {
    // On: opens deny every other open of the same file. The device commands
    // switch it off around the exchange buffer file.
    std::atomic<bool> exclusiveOpen{true};
    // Off: every written line is committed to disk before the write returns.
    std::atomic<bool> rewrite{false};
    std::atomic<bool> lastLineTerminated{true};
    std::atomic<std::uint32_t> linesRead{0};
    std::atomic<std::uint32_t> linesWritten{0};
    // Notice periods for LINES and OUTLINES, 0 = never.
    std::atomic<std::uint32_t> linesPeriod{0};
    std::atomic<std::uint32_t> outlinesPeriod{0};
    // Only data lines read from the input file and written to the output file count.
    std::atomic<std::int32_t> inputHandle{-1};
    std::atomic<std::int32_t> outputHandle{-1};
};

DriverFileState& TheDriverFileState();

// Handles to -1 (without closing), counters 0, last-line flag true. The
// switches, periods, terminator and header lines are left as they are.
void ResetDriverFileCounters();

// The line terminator, CR LF at load. 1 to 255 bytes, NUL allowed.
bool SetLineTerminator(std::string_view bytes);
std::string LineTerminator();

// Header lines 1 to 3, written by ZapisanoDoPlikuNaglowek as '#' + text.
bool SetHeaderLine(int number, std::string_view text);
std::string HeaderLine(int number);

// Seam towards the server channel. Called after the counted data line whose
// count is a multiple of the non-zero period: code 'L' (76) for lines read,
// 'O' (79) for lines written. The channel registers a function that, while
// the channel is on, sends the notice with the count as its number and, when
// the verbose switch is on, prints through the diagnostic printer
// "%s%s%s%d%s" with "###DRIVER: ", the driver name, ", PID=", the process id
// and " poslal komunikat LINES do Serwera ###\n" (OUTLINES on writing).
// With none registered (the default) nothing happens. Any thread may set it.
using LineCountNotice = void (*)(char code, std::uint32_t count);
void SetLineCountNotice(LineCountNotice notice);

}  // namespace vorin::driverfiles

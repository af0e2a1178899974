// The run finish: the report with its status line and comment, the exchange
// copies under "$$$", the port closed.
#include <cstdio>
#include <string>

#include "driver/driver_state.h"
#include "driverfiles/file_byte_source.h"
#include "driverfiles/linereader.h"
#include "driverfiles/records.h"
#include "driverfiles/text.h"
#include "link/link.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "vorin/driver.h"

namespace vorin::driver {
namespace {

namespace df = vorin::driverfiles;
namespace lk = vorin::link;
namespace pf = vorin::platform;

constexpr const char* kExchangeDirectory = "$$$";

void CloseHandle(std::atomic<std::int32_t>& shared) {
    std::int32_t h = shared.exchange(-1);
    if (h >= 0) ZamknieciePliku(&h);
}

// Field 2 of the comments file's line `code` (lines counted from 1, comments
// included); an empty line or the file's end before it gives no comment.
std::string Comment(std::uint8_t code) {
    if (code == 0) return "program zakonczony bezblednie";
    std::int32_t handle = -1;
    if (!OtwartoPlik(&handle, State().fileName[kCommentsFile].c_str(), 0)) return {};
    char line[df::kTextSize];
    std::string comment;
    for (unsigned n = 1; OdczytanoZPlikuLinie(handle, line); ++n) {
        if (n == code) {
            df::ExtractField(line, 2, df::kFieldSeparator, comment);
            break;
        }
    }
    ZamknieciePliku(&handle);
    return comment;
}

std::string FileConcerned(std::uint8_t code) {
    const DriverState& st = State();
    switch (code) {
    case 2:
    case 5:
    case 6:
    case 10:
    case 11:
    case 12: return st.slot[1];
    case 4:
    case 8:
    case 17: return st.slot[2];
    case 7:
    case 13:
    case 14:
    case 15:
    case 16: return st.fileName[kDeviceConfigFile];
    case 9:
    case 18: return st.fileName[kReportFile];
    case 27:
    case 28: return st.fileName[kModuleConfigFile];
    case 59:
    case 60:
    case 61: return st.fileName[kExchangeBufferFile];
    default: return {};
    }
}

std::string StatusLine(std::uint8_t code) {
    std::string comment = Comment(code);
    std::string file = FileConcerned(code);
    std::string line = std::to_string(code);
    if (!comment.empty() || !file.empty()) line += "\t;";
    if (!comment.empty()) line += " " + comment;
    if (State().culpritFile && !file.empty()) line += " (" + file + ")";
    return FitHeader(line);
}

void Report() {
    DriverState& st = State();
    const std::string& reportName = st.fileName[kReportFile];
    if (st.reportHandle >= 0) {
        bool written = ZapisanoDoPlikuNaglowek(st.reportHandle) != 0;
        if (!written && lk::KodWyniku == 0) lk::KodWyniku = 18;
        ZamknieciePliku(&st.reportHandle);
        st.reportHandle = -1;
        if (lk::KodWyniku == 18) pf::RemoveFile(reportName.c_str());
        return;
    }
    if (lk::KodWyniku == 9) return;
    std::string opened = reportName;
    std::int32_t handle = -1;
    if (!OtwartoPlik(&handle, opened.c_str(), 1)) {
        opened = kDefaultFileNames[kReportFile];
        if (!OtwartoPlik(&handle, opened.c_str(), 1)) return;
    }
    bool written = ZapisanoDoPlikuNaglowek(handle) != 0;
    ZamknieciePliku(&handle);
    // Only the file this step created goes, never the configured name when
    // the fallback was written.
    if (!written) pf::RemoveFile(opened.c_str());
}

// The input file's name without directory and extension.
std::string BaseName(const std::string& input) {
    if (input.empty()) return kExchangeDirectory;
    std::size_t slash = input.find_last_of("\\/");
    std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool WriteRaw(std::int32_t handle, const std::string& text, const std::string& terminator) {
    std::string line = text + terminator;
    return pf::FileWrite(handle, line.data(), line.size()) ==
           static_cast<std::int64_t>(line.size());
}

void CopyOne(const std::string& source, const std::string& destination, const std::string& header) {
    if (source.empty() || destination.size() > df::kTextMax) return;
    std::int32_t in = -1;
    if (!OtwartoPlik(&in, source.c_str(), 0)) return;
    std::int32_t out = -1;
    if (OtwartoPlik(&out, destination.c_str(), 2)) {
        // A source that is its own destination (an input taken from "$$$",
        // under any name) would be copied into itself; where the system
        // cannot tell, the size bound still ends the copy.
        pf::FileIdentity from{}, to{};
        const bool same =
            pf::FileGetIdentity(in, from) && pf::FileGetIdentity(out, to) && from == to;
        const std::int64_t size = pf::FileSize(in);
        if (!same && size >= 0) {
            std::string terminator = df::LineTerminator();
            // Only the bytes the source had when the copy began.
            df::FileByteSource bytes(in, size);
            char line[df::kTextSize];
            bool terminated = true;
            bool ok = WriteRaw(out, header, terminator);
            while (ok && df::ReadRawLine(bytes, terminator, line, terminated)) {
                ok = WriteRaw(out, line, terminator);
            }
        }
        ZamknieciePliku(&out);
    }
    ZamknieciePliku(&in);
}

void ExchangeCopies() {
    // Asked without changing the current directory: it belongs to the whole
    // process, and a failure between the change and the change back would
    // leave every later relative path wrong.
    if (!pf::DirectoryExists(kExchangeDirectory)) return;
    const DriverState& st = State();
    std::string date, time;
    DateAndTime(date, time);
    std::string header = ";*** " + date + " " + time + " " + st.slot[0] + " *** ";
    // Kept readable as a line of the copy, however long the driver's name.
    if (header.size() > df::kTextMax) header.resize(df::kTextMax);
    const std::string base = std::string(kExchangeDirectory) + "/" + BaseName(st.slot[1]) + ".";
    const std::string& report = st.fileName[kReportFile];
    CopyOne(st.slot[1], base + "IN", header);
    if (st.outputFileSwitch) CopyOne(st.slot[2], base + "OUT", header);
    CopyOne(report.empty() ? std::string(kDefaultFileNames[kReportFile]) : report, base + "RAP",
            header);
    CopyOne(st.fileName[kDeviceConfigFile], base + "KON", header);
    CopyOne(st.slot[ConfigSlot()], base + "SER", header);
}

}  // namespace

void ZakonczenieSterownika() {
    DriverState& st = State();
    if (st.finished) return;
    st.finished = true;
    df::DriverFileState& files = df::TheDriverFileState();
    CloseHandle(files.inputHandle);
    CloseHandle(files.outputHandle);
    if (st.deviceConfigHandle >= 0) ZamknieciePliku(&st.deviceConfigHandle);
    st.deviceConfigHandle = -1;
    if (st.exchangeBufferHandle >= 0) ZamknieciePliku(&st.exchangeBufferHandle);
    st.exchangeBufferHandle = -1;
    df::SetHeaderLine(2, StatusLine(lk::KodWyniku));
    Report();
    ExchangeCopies();
    if (lk::PortOtwarty) lk::ZamknieciePortu();
}

}  // namespace vorin::driver

#include "driverfiles/records.h"

#include <cstring>
#include <mutex>

#include "driverfiles/file_byte_source.h"
#include "driverfiles/linereader.h"
#include "driverfiles/text.h"
#include "platform/file.h"
#include "vorin/driver.h"

namespace vorin::driverfiles {
namespace {

namespace pf = vorin::platform;

struct SharedTexts {
    std::mutex lock;
    std::string terminator{"\r\n"};
    std::string header[3];
};

SharedTexts& TheSharedTexts() {
    static SharedTexts texts;
    return texts;
}

std::atomic<LineCountNotice> gNotice{nullptr};

void CountDataLine(bool reading, std::int32_t handle) {
    DriverFileState& st = TheDriverFileState();
    std::int32_t target = reading ? st.inputHandle.load() : st.outputHandle.load();
    if (handle < 0 || handle != target) return;
    std::uint32_t count = (reading ? st.linesRead : st.linesWritten).fetch_add(1) + 1;
    std::uint32_t period = reading ? st.linesPeriod.load() : st.outlinesPeriod.load();
    if (period == 0 || count % period != 0) return;
    if (LineCountNotice notice = gNotice.load()) notice(reading ? 'L' : 'O', count);
}

bool WriteLine(std::int32_t handle, char prefix, const char* text) {
    if (handle < 0 || text == nullptr) return false;
    std::size_t len = TextLength(text);
    // A line the reader would refuse later is refused now, before anything is
    // written: the data would otherwise be lost on the way back.
    if (len + (prefix != 0 ? 1 : 0) > kTextMax) return false;
    std::string line;
    if (prefix != 0) line.push_back(prefix);
    line.append(text, len);
    line += LineTerminator();
    // One write for text and terminator, so a reader in another process never
    // meets the text without its line end.
    if (pf::FileWrite(handle, line.data(), line.size()) != static_cast<std::int64_t>(line.size())) {
        return false;
    }
    if (!TheDriverFileState().rewrite.load()) return pf::FileCommit(handle);
    return true;
}

}  // namespace

DriverFileState& TheDriverFileState() {
    static DriverFileState state;
    return state;
}

void ResetDriverFileCounters() {
    DriverFileState& st = TheDriverFileState();
    st.inputHandle = -1;
    st.outputHandle = -1;
    st.linesRead = 0;
    st.linesWritten = 0;
    st.lastLineTerminated = true;
}

bool SetLineTerminator(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > kTextMax) return false;
    SharedTexts& t = TheSharedTexts();
    std::lock_guard<std::mutex> lock(t.lock);
    t.terminator.assign(bytes);
    return true;
}

std::string LineTerminator() {
    SharedTexts& t = TheSharedTexts();
    std::lock_guard<std::mutex> lock(t.lock);
    return t.terminator;
}

bool SetHeaderLine(int number, std::string_view text) {
    if (number < 1 || number > 3 || text.size() > kTextMax - 1) return false;
    SharedTexts& t = TheSharedTexts();
    std::lock_guard<std::mutex> lock(t.lock);
    t.header[number - 1].assign(text);
    return true;
}

std::string HeaderLine(int number) {
    if (number < 1 || number > 3) return {};
    SharedTexts& t = TheSharedTexts();
    std::lock_guard<std::mutex> lock(t.lock);
    return t.header[number - 1];
}

void SetLineCountNotice(LineCountNotice notice) { gNotice = notice; }

}  // namespace vorin::driverfiles

using namespace vorin::driverfiles;
namespace pf = vorin::platform;

extern "C" {

uint8_t OtwartoPlik(int32_t* handle, const char* path, uint8_t mode) {
    if (handle == nullptr) return 0;
    *handle = -1;
    if (path == nullptr || mode > 3) return 0;
    // A path is never cut: a shortened path could name another file.
    if (!TextFits(path)) return 0;
    *handle = pf::FileOpen(path, static_cast<pf::FileOpenMode>(mode),
                           TheDriverFileState().exclusiveOpen.load());
    return *handle >= 0 ? 1 : 0;
}

uint8_t ZamknieciePliku(int32_t* handle) {
    if (handle == nullptr || *handle < 0) return 0;
    if (!pf::FileClose(*handle)) return 0;
    *handle = -1;
    return 1;
}

uint8_t MoznaOtworzycPlik(const char* path, uint8_t mode) {
    int32_t h = -1;
    if (!OtwartoPlik(&h, path, mode)) return 0;
    ZamknieciePliku(&h);
    return 1;
}

uint8_t Moje_feof(int32_t handle) {
    // A handle that cannot be asked counts as ended, so that a reading loop
    // on it stops instead of spinning.
    return pf::FileAtEnd(handle) == pf::FileEnd::No ? 0 : 1;
}

uint8_t ZatwierdzeniePliku(int32_t handle) { return pf::FileCommit(handle) ? 1 : 0; }

uint8_t OdczytanoZPlikuLinie(int32_t handle, char* text) {
    if (text == nullptr) return 0;
    if (handle < 0) {
        ZerowanieNapisu(text);
        return 0;
    }
    std::string terminator = LineTerminator();
    DriverFileState& st = TheDriverFileState();
    bool terminated = st.lastLineTerminated.load();
    bool ok;
    {
        FileByteSource source(handle);
        ok = ReadRawLine(source, terminator, text, terminated);
    }
    st.lastLineTerminated = terminated;
    return ok ? 1 : 0;
}

uint8_t OdczytanoZPlikuKonkretnaLinie(int32_t handle, char kind, char* text, uint8_t* formatError) {
    uint8_t ignored = 0;
    if (formatError == nullptr) formatError = &ignored;
    *formatError = 0;
    if (text == nullptr) return 0;
    for (;;) {
        if (!OdczytanoZPlikuLinie(handle, text)) return 0;
        if (text[0] == kind) {
            std::size_t n = std::strlen(text);
            std::memmove(text, text + 1, n);  // moves the NUL too
            return 1;
        }
        if (text[0] != kCommentChar) {
            ZerowanieNapisu(text);
            *formatError = 1;
            return 0;
        }
    }
}

uint8_t OdczytanoZPlikuLinieDanych(int32_t handle, char* text, uint8_t* formatError) {
    if (!OdczytanoZPlikuKonkretnaLinie(handle, kDataChar, text, formatError)) return 0;
    CountDataLine(true, handle);
    return 1;
}

uint8_t OdczytanoZPlikuLinieNaglowka(int32_t handle, char* text, uint8_t* formatError) {
    return OdczytanoZPlikuKonkretnaLinie(handle, kHeaderChar, text, formatError);
}

uint8_t ZapisanoDoPlikuLinie(int32_t handle, const char* text) {
    return WriteLine(handle, 0, text) ? 1 : 0;
}

uint8_t ZapisanoDoPlikuLinieDanych(int32_t handle, const char* text) {
    if (!WriteLine(handle, kDataChar, text)) return 0;
    CountDataLine(false, handle);
    return 1;
}

uint8_t ZapisanoDoPlikuNaglowek(int32_t handle) {
    for (int i = 1; i <= 3; ++i) {
        std::string line = HeaderLine(i);
        if (!WriteLine(handle, kHeaderChar, line.c_str())) return 0;
    }
    return 1;
}

}  // extern "C"

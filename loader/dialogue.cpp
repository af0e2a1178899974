#include "loader/dialogue.h"

#include <cstdio>
#include <string>

#include "link/link.h"
#include "loader/codepage_image.h"
#include "loader/number_input.h"
#include "loader/options.h"
#include "loader/upload.h"

namespace vorin::loader {

namespace {

constexpr const char* kSystemName = "Windows";
constexpr const char* kSubject = "strony kodowej";
constexpr const char* kCodePage = "437";
constexpr uint32_t kSpeed = 38400;

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char text[256];
    const int n = std::snprintf(text, sizeof text, format, args...);
    return std::string(text, n < 0 ? 0 : (n < static_cast<int>(sizeof text) ? n : sizeof text - 1));
}

// Keys for the number reader: each echoed once, when it first arrives.
class EchoingKeys final : public KeySource {
public:
    explicit EchoingKeys(vorin::platform::Console& console) : console_(console) {}

    int ReadKey() override {
        const bool again = pushed_;
        pushed_ = false;
        const int key = console_.ReadKey();
        if (!again) Echo(key);
        return key;
    }
    void PushBack(int key) override {
        console_.PushBack(key);
        pushed_ = true;
    }
    // Takes one key without echo (the one pushed back, when there is one).
    int ReadKeySilently() {
        pushed_ = false;
        return console_.ReadKey();
    }

private:
    void Echo(int key) {
        if (key >= 0x20 && key < 0x7F) {
            const char c = static_cast<char>(key);
            console_.Write(std::string_view(&c, 1));
        } else if (key == '\r' || key == '\n') {
            // A new line rather than a bare return, so that nothing typed after an
            // Enter lands on top of the prompt.
            console_.Write("\r\n");
        } else if (key == '\t') {
            console_.Write("\t");
        } else if (key == 0x08 || key == 0x7F) {
            console_.Write("\b");
        }
        // Other control keys and bytes of multi-byte characters are not echoed:
        // on a terminal they could start an escape sequence.
    }

    vorin::platform::Console& console_;
    bool pushed_ = false;
};

void ClosingKeyWait(vorin::platform::Console& console, bool keyStillPending) {
    // The key that ended the port number is normally still pending: the first
    // read takes it, and the operator's next key ends the program.
    if (keyStillPending && console.ReadKey() == vorin::platform::Console::kEndOfInput) return;
    console.WaitForKey();
}

}  // namespace

int RunDialogue(vorin::platform::Console& console, const DialogueSettings& settings) {
    using namespace vorin::link;
    console.Clear();
    console.Write(Format("Program dla %s do zmiany %s w drukarce VORIN\n", kSystemName, kSubject));
    console.Write(Format("Program zmieni strone kodowa na %s\n\n", kCodePage));

    uint8_t port = 0;
    const bool asked = settings.port == 0;
    if (asked) {
        EchoingKeys keys(console);
        for (;;) {
            console.Write(
                "\nPodaj numer portu COM do ktorego podlaczono drukarke (0-wyjscie z programu): ");
            const NumberResult answer = ReadInteger(keys);
            if (answer.status == NumberStatus::EndOfInput) {
                console.Write("\n");
                return kExitEndOfInput;
            }
            if (answer.status == NumberStatus::NoNumber) {
                if (keys.ReadKeySilently() == vorin::platform::Console::kEndOfInput) {
                    console.Write("\n");
                    return kExitEndOfInput;
                }
                continue;
            }
            port = static_cast<uint8_t>(answer.value & 0xFFu);
            if (port == 0) return 0;
            if (ObecnoscPortu(port)) break;
            console.Write(Format("\nW tym komputerze nie ma portu COM%d!\n", port));
        }
    } else {
        port = static_cast<uint8_t>(settings.port);
        if (!ObecnoscPortu(port)) {
            console.Write(Format("\nW tym komputerze nie ma portu COM%d!\n", port));
            return kExitNoSuchPort;
        }
    }

    NumerPortu = port;
    Predkosc = kSpeed;
    OtwarciePortu();
    if (!PortOtwarty) {
        console.Write(Format("\nNie mozna zainicjowac portu COM%d!\n", port));
        if (settings.waitForKey) ClosingKeyWait(console, asked);
        return kExitCannotOpen;
    }

    console.Write(Format("\n\nTrwa aktualizacja %s: 0%%", kSubject));
    const int progressColumn = console.CursorColumn() - 2;

    const uint8_t code = UploadImage(settings.image, [&](unsigned index) {
        console.MoveToColumn(progressColumn);
        console.Write(Format("%u%%", static_cast<unsigned>((index + 1) * 100u / kBlockCount)));
    });

    if (code == Kod::Sukces) {
        console.Write(Format("\n\nAktualizacja %s zakonczona sukcesem!", kSubject));
    } else {
        console.Write(Format("\n\nBlad nr %d: ", code));
        console.Write(OpisKoduWyniku(code));
    }
    ZamknieciePortu();
    if (settings.waitForKey) ClosingKeyWait(console, asked);
    return code;
}

}  // namespace vorin::loader

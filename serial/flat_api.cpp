// The exported flat functions (besides the byte calls): they all act on the
// library's one current port object.
#include <vorin/serial.h>

#include <cstring>
#include <mutex>

#include "platform/errors.h"
#include "platform/serial_device.h"
#include "serial/last_error.h"
#include "serial/message_pump.h"
#include "serial/library.h"
#include "serial/tcomm.h"
#include "serial/texts.h"

using vorin::serial::Library;
using vorin::serial::TComm;
using vorin::serial::TheLibrary;
namespace text = vorin::serial::text;
namespace platform = vorin::platform;

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

TComm* Current() { return TheLibrary().port.get(); }

int32_t Escape(platform::LineControl what) {
    Lock lock(TheLibrary().control);
    TComm* port = Current();
    if (!port || !port->IsOpen()) {
        platform::SetLastError(platform::kErrInvalidHandle);
        return 0;
    }
    return port->PortHandle()->Escape(what) == 0 ? 1 : 0;
}

}  // namespace

extern "C" {

int32_t InitializePort(uint8_t port, uint32_t speed, uint16_t writeTimeout, uint16_t readTimeout) {
    Library& lib = TheLibrary();
    Lock lock(lib.control);
    if (lib.opened && lib.port && lib.port->IsOpen()) {
        vorin::serial::StoreError(text::kAlreadyInitialised, 5);
        return 5;
    }
    // The previous port object is closed by now: nothing else uses it.
    lib.port = std::make_unique<TComm>();
    int32_t result = lib.port->Configure(port, speed, writeTimeout, readTimeout);
    if (result == 0) result = lib.port->Open();
    lib.opened = true;
    return result;
}

int32_t pInitializePort(uint8_t port, uint32_t speed, uint16_t writeTimeout, uint16_t readTimeout,
                        uint8_t parity) {
    TheLibrary().paritySelector.store(parity);
    return InitializePort(port, speed, writeTimeout, readTimeout);
}

int32_t UnInitializePort(void) {
    Library& lib = TheLibrary();
    Lock lock(lib.control);
    return lib.port ? lib.port->Close() : 0;
}

uint8_t SerialPortPresent(uint8_t port) { return platform::SerialDevice::Present(port) ? 1 : 0; }

int32_t ClearPort(void) {
    Lock lock(TheLibrary().control);
    TComm* port = Current();
    if (!port) return 0;
    int32_t r = port->PurgeOutput();
    return r == 0 ? port->PurgeInput() : r;
}

uint8_t IsError(char** text, int32_t* code) {
    if (!text || !*text) {
        if (code) *code = -1;
        return 0;
    }
    vorin::serial::StoredError e = vorin::serial::TakeError();
    std::memcpy(*text, e.text.c_str(), e.text.size() + 1);
    if (code) *code = e.code;
    return e.code != 0 ? 1 : 0;
}

void DllVersion(char** text) {
    static const char kVersion[] = "3.00";
    if (!text) return;
    if (*text)
        std::memcpy(*text, kVersion, sizeof kVersion);
    else
        *text = const_cast<char*>(kVersion);
}

void UstawCTS(uint8_t on) { TheLibrary().ctsFlow.store(on); }

uint8_t UstawKanal(uint8_t channel) {
    using LC = platform::LineControl;
    LC dtr, rts;
    switch (channel) {
    case 0:
    case 1:
        dtr = LC::ClearDtr;
        rts = LC::SetRts;
        break;
    case 2:
        dtr = LC::SetDtr;
        rts = LC::SetRts;
        break;
    case 3:
        dtr = LC::ClearDtr;
        rts = LC::ClearRts;
        break;
    case 4:
        dtr = LC::SetDtr;
        rts = LC::ClearRts;
        break;
    default: return 0;
    }
    if (!Escape(dtr)) return 0;
    return Escape(rts) ? 1 : 0;
}

uint8_t ModemStatus(void) {
    Lock lock(TheLibrary().control);
    TComm* port = Current();
    uint32_t ms = 0;
    if (!port || !port->IsOpen() || port->PortHandle()->GetModemStatus(ms) != 0) return 0;
    return static_cast<uint8_t>(
        ms & (platform::kMsCts | platform::kMsDsr | platform::kMsRing | platform::kMsRlsd));
}

uint8_t CharSent(void) {
    Lock lock(TheLibrary().control);
    TComm* port = Current();
    return port && port->IsOpen() && port->PortHandle()->TransmitEmpty() ? 1 : 0;
}

int32_t SetDTRLine(void) { return Escape(platform::LineControl::SetDtr); }
int32_t ClearDTRLine(void) { return Escape(platform::LineControl::ClearDtr); }
int32_t SetRTSLine(void) { return Escape(platform::LineControl::SetRts); }
int32_t ClearRTSLine(void) { return Escape(platform::LineControl::ClearRts); }

uint8_t ChangeParity(uint8_t parity) {
    Lock lock(TheLibrary().control);
    TComm* port = Current();
    if (!port) return 0;  // no port object was ever made: nothing to change
    ClearPort();
    platform::SleepMs(50);
    port->parity = parity;
    int32_t r = port->ApplyState();
    platform::SleepMs(50);
    return r == 0 ? 1 : 0;
}

uint8_t ChangeSpeed(uint16_t speed) {
    Lock lock(TheLibrary().control);
    TComm* port = Current();
    if (!port) return 0;
    port->speed = speed;
    int32_t r = port->ApplyState();
    platform::SleepMs(100);
    return r == 0 ? 1 : 0;
}

void Opoznienie(uint16_t milliseconds) { platform::SleepMs(milliseconds); }

// The message-pump thread (serial/message_pump.cpp).
// Exported as OpenThread and CloseThread (see vorinserial.def and the link
// options in CMakeLists.txt): inside the library they need other names,
// because kernel32 and the static thread runtime have an OpenThread of their own.
void VorinOpenThread(void) { vorin::serial::OtwarcieWatku(); }
void VorinCloseThread(void) { vorin::serial::ZamkniecieWatku(); }

}  // extern "C"

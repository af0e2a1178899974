// COM ports on the network: VORIN_COM<n>=rfc2217://HOST:PORT (Telnet with
// the COM-PORT-OPTION: line settings, DTR/RTS, purge and modem lines go to
// the device server) or VORIN_COM<n>=tcp://HOST:PORT (raw bytes: no line
// control at all). Both builds read the variable for URLs; the serial device
// (serial_device_*.cpp) opens such a port as a network device that behaves
// like the local one behind the same interface.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ports.h"
#include "platform/serial_device.h"

namespace vorin::platform {

struct NetworkPortUrl {
    bool rfc2217 = true;  // false: tcp://
    std::string host;
    uint16_t port = 0;
};

// "rfc2217://HOST:PORT" or "tcp://HOST:PORT" (HOST may be [v6 address]).
std::optional<NetworkPortUrl> ParseNetworkPortUrl(const std::string& text);
bool LooksLikeNetworkPortUrl(const std::string& text);  // has a "scheme://"
// The network port COM `port` is mapped to, if its VORIN_COM<n> holds a URL.
std::optional<NetworkPortUrl> NetworkPortOf(uint8_t port);

// Opens the network port (connect within kConnectMs, then for RFC 2217 the
// option negotiation, bounded too).
std::unique_ptr<SerialDevice> OpenNetworkPort(const NetworkPortUrl& url, int32_t& error);
// The presence test of a network port: does it accept a connection now?
bool NetworkPortPresent(const NetworkPortUrl& url);

// A COM number for a URL given on a command line: the number whose
// VORIN_COM<n> already holds it, else the highest unset one (255 down), set
// to it in this process's environment.
bool ComNumberForNetworkUrl(const std::string& url, int* number, std::string* error);

// Adds the ports that VORIN_COM<n> maps to URLs to a port list, replacing any
// local entry of the same number (the mapping wins, as in Open).
void AddNetworkPorts(std::vector<SerialPortInfo>& ports);

constexpr uint32_t kConnectMs = 3000;
// How long a command's answer from the server is awaited.
constexpr uint32_t kAnswerMs = 500;

}  // namespace vorin::platform

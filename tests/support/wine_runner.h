// The Windows build under Wine, for the end-to-end suites built a second time
// with VORIN_E2E_WINE: finds the build that VORIN_WINDOWS_BUILD names, points
// COM ports of its Wine prefix where the tests want them, and keeps one Wine
// server running for the whole suite (a fresh one per program costs seconds).
// Linux only, like the rest of the process helpers.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vorin::test {

class WineRunner {
public:
    // `programs`: names (without .exe) that must be in the build's bin folder.
    // `ports`: COM number -> where it leads; an empty path means PortPath(n),
    // the place where a test's simulator puts the link to its line.
    WineRunner(const std::vector<std::string>& programs, const std::map<int, std::string>& ports);
    // Ends the Wine server it started.
    ~WineRunner();
    WineRunner(const WineRunner&) = delete;
    WineRunner& operator=(const WineRunner&) = delete;

    // Empty when the suite can run; else why not, for GTEST_SKIP.
    const std::string& SkipReason() const { return skipReason_; }
    // The build's bin/<name>.exe.
    std::string Program(const std::string& name) const;
    // The path COM `port` leads to when the map gave it none.
    std::string PortPath(int port) const;
    // WINEPREFIX and the rest, for every program run under this prefix.
    std::map<std::string, std::string> Env() const;
    // wine <program> <args...>.
    std::vector<std::string> Command(const std::string& program,
                                     const std::vector<std::string>& args) const;

private:
    void MapPorts(const std::map<int, std::string>& ports);

    std::string bin_, prefix_, portsDir_;
    std::string skipReason_;
    bool startedServer_ = false;
};

}  // namespace vorin::test

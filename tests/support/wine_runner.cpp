#include "tests/support/wine_runner.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/processes.h"

namespace vorin::test {

namespace fs = std::filesystem;

namespace {
const char kWine[] = "/usr/bin/wine";
const char kWineServer[] = "/usr/bin/wineserver";
}  // namespace

WineRunner::WineRunner(const std::vector<std::string>& programs,
                       const std::map<int, std::string>& ports) {
    // Opt-in: the Windows build is made in a later stage than the suites' own
    // build, and a stale one would test old code.
    const char* build = std::getenv("VORIN_WINDOWS_BUILD");
    if (build == nullptr || *build == '\0') {
        skipReason_ = "set VORIN_WINDOWS_BUILD to the Windows build folder (for example " +
                      std::string(VORIN_SOURCE_DIR) + "/build/windows) to run this suite";
        return;
    }
    const fs::path win = fs::absolute(build);
    bin_ = (win / "bin").string();
    for (const std::string& name : programs) {
        if (!fs::exists(Program(name))) {
            skipReason_ = "no " + Program(name) + " (build the windows preset)";
            return;
        }
    }
    if (!fs::exists(kWine) || !fs::exists(kWineServer)) {
        skipReason_ = "wine is not installed";
        return;
    }
    prefix_ = (win / "wineprefix").string();
    portsDir_ = (win / "e2e-ports").string();
    fs::create_directories(portsDir_);
    if (!fs::exists(prefix_ + "/system.reg")) RunQuiet({"/usr/bin/wineboot", "-i"}, Env(), 180);
    MapPorts(ports);
    startedServer_ = StartQuiet({kWineServer, "-p", "-f"}, Env()) > 0;
    usleep(300000);
    // Wine's services start with the first program of a server: once here,
    // outside any test's pipes and time bounds.
    RunQuiet({kWine, "cmd", "/c", "exit"}, Env(), 120);
}

// Wine reads its port mapping when its server starts: write it, then end the
// running server.
void WineRunner::MapPorts(const std::map<int, std::string>& ports) {
    for (const auto& [port, path] : ports) {
        RunQuiet(
            {kWine, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM" + std::to_string(port),
             "/t", "REG_SZ", "/d", path.empty() ? PortPath(port) : path, "/f"},
            Env(), 120);
    }
    RunQuiet({kWineServer, "-k"}, Env(), 30);
    RunQuiet({kWineServer, "-w"}, Env(), 30);
}

WineRunner::~WineRunner() {
    if (startedServer_) RunQuiet({kWineServer, "-k"}, Env(), 20);
}

std::string WineRunner::Program(const std::string& name) const {
    return (fs::path(bin_) / (name + ".exe")).string();
}

std::string WineRunner::PortPath(int port) const {
    return portsDir_ + "/com" + std::to_string(port);
}

std::map<std::string, std::string> WineRunner::Env() const {
    return {{"WINEPREFIX", prefix_}, {"WINEDEBUG", "-all"}, {"WINEARCH", "win64"}};
}

std::vector<std::string> WineRunner::Command(const std::string& program,
                                             const std::vector<std::string>& args) const {
    std::vector<std::string> argv{kWine, program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

}  // namespace vorin::test

#include "driverfiles/test_support.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/dynlib.h"

namespace vorin::driverfiles::test {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = std::filesystem::temp_directory_path() /
                         ("vorin-df-" + std::to_string(rd()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return (path_ / name).string(); }

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeWhole(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string runHelper(const std::vector<std::string>& args, const TempDir& dir) {
    static std::atomic<unsigned> counter{0};
    std::string result = dir.file("helper-result-" + std::to_string(counter++));
    // The library naming tells the two platforms apart without an #ifdef.
    std::string exe = vorin::platform::dynlibFileName("x") == "x.dll" ? "driverfiles_helper.exe"
                                                                      : "driverfiles_helper";
    std::string cmd = vorin::platform::programDirectory() + exe;
    for (const std::string& a : args) cmd += " \"" + a + "\"";
    cmd += " \"" + result + "\"";
    std::system(cmd.c_str());
    std::ifstream in(result, std::ios::binary);
    if (!in) return "<no result>";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool underWine() {
    void* ntdll = vorin::platform::dynlibOpen("ntdll.dll");
    bool wine =
        ntdll != nullptr && vorin::platform::dynlibSymbol(ntdll, "wine_get_version") != nullptr;
    vorin::platform::dynlibClose(ntdll);
    return wine;
}

}  // namespace vorin::driverfiles::test

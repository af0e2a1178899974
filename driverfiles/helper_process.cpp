#include "driverfiles/helper_process.h"

#include <atomic>
#include <cstdlib>
#include <fstream>

#include "platform/dynlib.h"
#include "tests/support/files.h"

namespace vorin::driverfiles::test {

std::string RunHelper(const std::vector<std::string>& args, const vorin::test::TempDir& dir) {
    static std::atomic<unsigned> counter{0};
    const std::string result = dir.File("helper-result-" + std::to_string(counter++));
    // The library naming tells the two platforms apart without an #ifdef.
    const std::string exe = vorin::platform::DynlibFileName("x") == "x.dll"
                                ? "driverfiles_helper.exe"
                                : "driverfiles_helper";
    std::string cmd = vorin::platform::ProgramDirectory() + exe;
    for (const std::string& a : args) cmd += " \"" + a + "\"";
    cmd += " \"" + result + "\"";
    std::system(cmd.c_str());
    const std::string answer = vorin::test::ReadWholeFile(result);
    return answer.empty() && !std::ifstream(result) ? "<no result>" : answer;
}

}  // namespace vorin::driverfiles::test

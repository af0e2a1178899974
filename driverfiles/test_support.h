// Temporary folders, whole-file reads and the second process for the tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vorin::driverfiles::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const;

private:
    std::filesystem::path path_;
};

std::string readWhole(const std::string& path);
void writeWhole(const std::string& path, const std::string& bytes);

// Runs driverfiles_helper with the arguments (no blanks in them) and returns
// what it wrote to its result file; "<no result>" when it did not run.
std::string runHelper(const std::vector<std::string>& args, const TempDir& dir);

// True when the program runs under Wine (its ntdll exports wine_get_version).
bool underWine();

}  // namespace vorin::driverfiles::test

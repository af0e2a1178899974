// A temporary folder for one test, removed with everything in it when the
// object goes; the same on Linux and under Wine.
#pragma once

#include <string>

namespace vorin::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path() joined with `name`.
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

}  // namespace vorin::test

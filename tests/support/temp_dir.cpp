#include "tests/support/temp_dir.h"

#include <atomic>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace vorin::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    // A random part keeps test programs that ctest runs at once apart, the
    // counter the folders of one program.
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() /
            ("vorin-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
    return (fs::path(path_) / name).string();
}

}  // namespace vorin::test

// The second process of the sharing and visibility tests: driverfiles_helper
// run with a few arguments, its answer read back from a file.
#pragma once

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace vorin::driverfiles::test {

// Runs driverfiles_helper with the arguments (no blanks in them) and returns
// what it wrote to its result file; "<no result>" when it did not run.
std::string RunHelper(const std::vector<std::string>& args, const vorin::test::TempDir& dir);

}  // namespace vorin::driverfiles::test

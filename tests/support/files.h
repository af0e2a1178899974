// Whole files as strings of bytes, for comparing what a program wrote.
#pragma once

#include <string>

namespace vorin::test {

// The file's bytes; "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Creates or truncates the file and writes `bytes`; false when that fails.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace vorin::test

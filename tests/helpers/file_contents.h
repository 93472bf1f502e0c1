// Whole-file reads and writes that bypass the platform layer, so tests can set up and check files
// without trusting the code under test.
#pragma once

#include <string>

namespace kavrin::testing {

// Throws std::runtime_error when the file cannot be written or read.
void WriteWholeFile(const std::string& path, const std::string& bytes);
std::string ReadWholeFile(const std::string& path);

}  // namespace kavrin::testing

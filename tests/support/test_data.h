// Test data and host files: random and compressible bytes, whole files read and written.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace testing_support {

// Incompressible bytes, the same for the same seed.
std::string randomData(std::size_t size, unsigned seed);
// Compressible text: numbered lines of words; starts with a digit, never with 0x1f.
std::string textData(std::size_t size, unsigned seed);

// What the gzip tool makes of `bytes`, written first to `folder`/`name` (the name that
// options such as -N keep): "gzip -c <options> <name>". Empty, with the command on
// standard error, when the tool failed.
std::string gzipTool(const std::filesystem::path& folder, const std::string& bytes, const std::string& options = "-n",
                     const std::string& name = "member");

std::string readHostFile(const std::filesystem::path& path);
// Writes the whole file, making its folder first.
void writeHostFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace testing_support

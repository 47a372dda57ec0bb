// Runs a program the way a user's shell does, with no terminal, for tests of whole
// processes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct ProgramRun {
    int status = -1;  // exit status, -1 when the program did not exit on its own
    std::string out, err;
};

// WORD as one word of a POSIX shell's command line.
std::string shellQuote(const std::string& word);

struct ProgramFiles {
    std::filesystem::path out, err;  // where standard output and error go (read back)
    std::filesystem::path temp = {};  // TMPDIR when not empty
    std::filesystem::path cwd = {};   // the folder it starts in when not empty
};

// PROGRAM ARGS with standard input from /dev/null.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args, const ProgramFiles& files);

}  // namespace testing_support

// Running the real tools fixtures are made with, and servers that run beside a test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct ToolResult {
    int status = -1;     // exit status; -1 when it could not run or was stopped
    std::string output;  // standard output and error together
};

// Runs a program to its end, feeding it `input`; stopped after `timeout`.
ToolResult runTool(const std::vector<std::string>& argv, const std::string& input = {},
                   std::chrono::seconds timeout = std::chrono::seconds(120));

// A program started in the background, its output going to `log`; stopped (and
// killed if it does not stop) when the object goes.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& log);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running();
    void stop();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

}  // namespace testing_support

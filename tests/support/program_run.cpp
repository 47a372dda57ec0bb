#include "support/program_run.h"

#include <sys/wait.h>

#include <cstdlib>

#include "support/test_data.h"

namespace testing_support {

std::string shellQuote(const std::string& word) {
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args, const ProgramFiles& files) {
    std::string command;
    if (!files.cwd.empty()) command += "cd " + shellQuote(files.cwd.string()) + " && ";
    if (!files.temp.empty()) command += "TMPDIR=" + shellQuote(files.temp.string()) + " ";
    command += shellQuote(program);
    for (const std::string& a : args) command += " " + shellQuote(a);
    command += " < /dev/null > " + shellQuote(files.out.string()) + " 2> " + shellQuote(files.err.string());
    ProgramRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readHostFile(files.out);
    run.err = readHostFile(files.err);
    return run;
}

}  // namespace testing_support

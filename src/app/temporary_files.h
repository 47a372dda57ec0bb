// What a run makes on this computer and must not leave behind: its folder in the
// temporary directory, which holds the demo device. Whatever ends the run removes
// it: the run's own end, a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE; a
// closed output ends the run as a failed write), or, after a SIGKILL, the next run's
// sweep.
#pragma once

#include <filesystem>
#include <string>

namespace quorvel::app {

// The run's folder "quorvel-run-PID-START-XXXXXX" in the temporary directory, START
// being the process's start time in clock ticks since the system booted, so that a
// later process of the same pid is not taken for this one.
class RunFolder {
public:
    RunFolder();
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    // Empty when the folder could not be made.
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Removes the run folders in `temp` whose process is gone; only folders of this
// user that carry a run's name are looked at. Returns how many were removed.
int sweepLeftovers(const std::filesystem::path& temp);

// A file of this run's own (the inflated copy of a gzip kernel the debugger reads), in
// the run's folder when there is one; removed with this object or by the signal watcher.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& stem);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    // Empty when the file could not be made.
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE sent to the process stop the
// emulation cleanly, or outside it remove the run's folder and exit with 130.
// Called once, first thing in main.
void watchSignals();

// Whether a signal arrived while no emulation was running.
bool interruptedOutsideEmulation();

}  // namespace quorvel::app

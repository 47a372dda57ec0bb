#include "app/temporary_files.h"

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "sim/emulator.h"
#include "sim/qemu/qemu_run.h"

namespace quorvel::app {

namespace {

constexpr char PREFIX[] = "quorvel-run-";

// What the signal watcher removes.
std::mutex lock;
std::string runPath;  // guarded by lock
std::vector<std::string> temporaryPaths;  // guarded by lock
std::atomic<bool> interruptedOutside{false};

// Field 22 of /proc/PID/stat: when the process started, in clock ticks since boot.
// Empty when there is no such process.
std::string startTime(const std::string& pid) {
    std::ifstream file("/proc/" + pid + "/stat");
    std::string stat;
    if (!std::getline(file, stat)) return "";
    // The command name (field 2) is in parentheses and may hold anything.
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return "";
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int n = 3; n <= 22 && fields >> field; ++n)
        if (n == 22) return field;
    return "";
}

bool digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

RunFolder::RunFolder() {
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) return;
    std::string pid = std::to_string(getpid());
    std::string pattern = (temp / (PREFIX + pid + "-" + startTime(pid) + "-XXXXXX")).string();
    std::lock_guard<std::mutex> guard(lock);
    if (mkdtemp(pattern.data())) path_ = runPath = pattern;
}

RunFolder::~RunFolder() {
    std::lock_guard<std::mutex> guard(lock);
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    runPath.clear();
}

int sweepLeftovers(const std::filesystem::path& temp) {
    int removed = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(temp, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(PREFIX, 0) != 0) continue;
        // PID-START-XXXXXX
        std::string_view rest = std::string_view(name).substr(sizeof PREFIX - 1);
        std::size_t dash1 = rest.find('-');
        std::size_t dash2 = dash1 == std::string_view::npos ? dash1 : rest.find('-', dash1 + 1);
        if (dash2 == std::string_view::npos || rest.size() - dash2 - 1 != 6) continue;
        std::string pid(rest.substr(0, dash1)), start(rest.substr(dash1 + 1, dash2 - dash1 - 1));
        if (!digits(pid) || !digits(start)) continue;
        struct stat info;
        if (lstat(entry.path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) continue;
        // Alive: a process of that pid that started when the folder's did.
        if (startTime(pid) == start) continue;
        std::error_code removing;
        std::filesystem::remove_all(entry.path(), removing);
        if (!removing) ++removed;
    }
    return removed;
}

TemporaryFile::TemporaryFile(const std::string& stem) {
    std::lock_guard<std::mutex> guard(lock);
    std::error_code ec;
    std::filesystem::path folder = runPath.empty() ? std::filesystem::temp_directory_path(ec) : std::filesystem::path(runPath);
    if (ec) return;
    std::string pattern = (folder / (stem + "-XXXXXX")).string();
    int fd = mkstemp(pattern.data());
    if (fd < 0) return;
    close(fd);
    path_ = pattern;
    temporaryPaths.push_back(pattern);
}

TemporaryFile::~TemporaryFile() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    std::lock_guard<std::mutex> guard(lock);
    std::erase(temporaryPaths, path_.string());
}

bool interruptedOutsideEmulation() { return interruptedOutside.load(); }

void watchSignals() {
    // SIGPIPE blocked too: a write to a reader that has gone then fails with EPIPE in
    // the thread that made it (the signal stays pending there), and ends the run as a
    // failed write; only one sent to the process reaches the watcher.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        bool asked = false;
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) continue;
            // In the emulator the run stops at its next block (under QEMU at once) and
            // the boot ends as usual; a second signal, or one outside the emulator, ends
            // the process here, with the run's files removed.
            if (!asked && (sim::requestStop() || sim::qemu::requestStop())) {
                asked = true;
                continue;
            }
            interruptedOutside.store(true);
            std::lock_guard<std::mutex> guard(lock);
            std::error_code ec;
            for (const std::string& path : temporaryPaths) std::filesystem::remove(path, ec);
            if (!runPath.empty()) std::filesystem::remove_all(runPath, ec);
            static const char message[] = "\nquorvel: interrupted\n";
            ssize_t ignored = write(2, message, sizeof message - 1);
            (void)ignored;
            _exit(130);
        }
    }).detach();
}

}  // namespace quorvel::app

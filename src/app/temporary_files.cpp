#include "app/temporary_files.h"

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/emulator.h"
#include "sim/qemu/qemu_run.h"

namespace quorvel::app {

namespace {

// What the signal watcher removes: the demo folder and the files placed on a card.
std::mutex lock;
std::string demoPath;                 // guarded by lock
std::vector<std::string> placedPaths;  // guarded by lock
std::atomic<bool> interruptedOutside{false};

}  // namespace

DemoFolder::DemoFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-demo-XXXXXX").string();
    std::lock_guard<std::mutex> guard(lock);
    if (mkdtemp(pattern.data())) path_ = demoPath = pattern;
}

DemoFolder::~DemoFolder() {
    std::lock_guard<std::mutex> guard(lock);
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    demoPath.clear();
}

PlacedFile::~PlacedFile() {
    std::error_code ec;
    if (path_.empty()) return;
    std::filesystem::remove(path_, ec);
    std::lock_guard<std::mutex> guard(lock);
    std::erase(placedPaths, path_.string());
}

bool PlacedFile::place(const std::filesystem::path& from, const std::filesystem::path& to, bool replace, std::string& why) {
    std::error_code ec;
    if (std::filesystem::exists(to, ec) && std::filesystem::equivalent(from, to, ec)) return true;
    if (replace) {
        std::filesystem::remove(to, ec);
    } else if (std::filesystem::exists(to, ec)) {
        why = to.string() + " exists on the device already";
        return false;
    }
    if (!std::filesystem::copy_file(from, to, ec)) {
        why = "can't copy " + from.string() + " to " + to.string() + ": " + ec.message();
        return false;
    }
    if (!replace) {
        path_ = to;
        std::lock_guard<std::mutex> guard(lock);
        placedPaths.push_back(to.string());
    }
    return true;
}

TemporaryFile::TemporaryFile(const std::string& stem) {
    std::string pattern = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
    std::lock_guard<std::mutex> guard(lock);
    int fd = mkstemp(pattern.data());
    if (fd < 0) return;
    close(fd);
    path_ = pattern;
    placedPaths.push_back(pattern);
}

TemporaryFile::~TemporaryFile() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    std::lock_guard<std::mutex> guard(lock);
    std::erase(placedPaths, path_.string());
}

bool interruptedOutsideEmulation() { return interruptedOutside.load(); }

void watchSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        bool asked = false;
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) continue;
            // In the emulator the run stops at its next block (under QEMU at once) and
            // the boot ends as usual; a second signal, or one outside the emulator, ends the process
            // here, with the temporary files removed.
            if (!asked && (sim::requestStop() || sim::qemu::requestStop())) {
                asked = true;
                continue;
            }
            interruptedOutside.store(true);
            std::lock_guard<std::mutex> guard(lock);
            std::error_code ec;
            if (!demoPath.empty()) std::filesystem::remove_all(demoPath, ec);
            for (const std::string& path : placedPaths) std::filesystem::remove(path, ec);
            static const char message[] = "\nquorvel: interrupted\n";
            ssize_t ignored = write(2, message, sizeof message - 1);
            (void)ignored;
            _exit(130);
        }
    }).detach();
}

}  // namespace quorvel::app

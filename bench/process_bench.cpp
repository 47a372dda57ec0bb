// The boot as a user runs it: `quorvel boot FILE --yes -q` as a whole process (its
// start, the handheld's set-up, reading and inflating the file, the page pool, the
// emulated hand-over), to the kernel's entry (--stop-at entry) and whole, against
// `zcat FILE >/dev/null` as a whole process, the three in turns, best of ROUNDS each;
// the peak is the boot process's own (getrusage of the child), and each side's processor
// time is printed beside the wall time. The boot to the entry is also set against
// `libdeflate-gunzip -c FILE >/dev/null`, the tool of the library the boot inflates
// large files with, where it is installed. Kernels: the 24 MB
// gzip sample kernel and kernels of real compiled code of 1, 8, 24 and 64 MB. The
// 24 MB kernels are also booted from nginx on loopback, for the peak of a boot over
// HTTP, whose backend holds the downloaded file. Lines starting "row|" are the
// figures for bench/run's table.
//
// Usage: process_bench [ROUNDS] [KERNEL.gz ...]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/http_servers.h"

extern char** environ;

namespace {

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;  // the child's user and system time
    double peakKb = 0;
    bool ok = false;
};

// Runs a program with its output to /dev/null: wall time and the child's peak.
Run spawn(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return run;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    run.peakKb = static_cast<double>(usage.ru_maxrss);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

void keepBest(Run& best, const Run& run, int round) {
    if (round == 0 || run.seconds < best.seconds) best.seconds = run.seconds;
    if (round == 0 || run.cpuSeconds < best.cpuSeconds) best.cpuSeconds = run.cpuSeconds;
    if (run.peakKb > best.peakKb) best.peakKb = run.peakKb;
    best.ok = (round == 0 || best.ok) && run.ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    std::vector<std::string> kernels;
    for (int i = 2; i < argc; ++i) kernels.push_back(argv[i]);
    if (kernels.empty()) {
        kernels.push_back(QUORVEL_SAMPLE_KERNEL_LARGE_GZ);
        for (const char* mb : {"1", "8", "24", "64"})
            kernels.push_back(std::string(QUORVEL_KERNEL_DIR) + "/tamsel-code-" + mb + ".gz");
    }
    int status = 0;
    std::printf("whole processes, best of %d, in turns (seconds of wall time; peak of the boot process)\n", rounds);
    for (const std::string& kernel : kernels) {
        std::error_code error;
        const std::string plain = kernel.substr(0, kernel.size() - 3);
        const auto bytes = std::filesystem::file_size(std::filesystem::exists(plain) ? plain : kernel, error);
        const double mb = static_cast<double>(bytes) / 1048576.0;
        // Room for the kernel's pages and its place, whatever its size.
        unsigned ram = 32;
        while (ram < 2.5 * mb + 16 && ram < 256) ram *= 2;
        const std::vector<std::string> boot = {QUORVEL_PROGRAM, "boot", kernel, "--yes", "-q", "--ram", std::to_string(ram)};
        std::vector<std::string> toEntry = boot;
        toEntry.insert(toEntry.end(), {"--stop-at", "entry"});
        Run zcat, entry, whole, gunzip;
        for (int round = 0; round < rounds; ++round) {
            keepBest(zcat, spawn({"zcat", kernel}), round);
            keepBest(gunzip, spawn({"libdeflate-gunzip", "-c", kernel}), round);
            keepBest(entry, spawn(toEntry), round);
            keepBest(whole, spawn(boot), round);
        }
        const std::string name = std::filesystem::path(kernel).filename().string();
        std::printf("%s (%.1f MB, %u MB RAM): zcat %.3f s, boot to entry %.3f s (%.2f), whole boot %.3f s (%.2f), peak %.1f MB\n",
                    name.c_str(), mb, ram, zcat.seconds, entry.seconds, entry.seconds / zcat.seconds, whole.seconds,
                    whole.seconds / zcat.seconds, whole.peakKb / 1024.0);
        // Processor time tells the same on a busy machine, where wall time waits for others.
        std::printf("  processor time (user + system, best): zcat %.3f s, boot to entry %.3f s (%.2f), whole boot %.3f s (%.2f)\n",
                    zcat.cpuSeconds, entry.cpuSeconds, entry.cpuSeconds / zcat.cpuSeconds, whole.cpuSeconds,
                    whole.cpuSeconds / zcat.cpuSeconds);
        if (!zcat.ok || !entry.ok || !whole.ok) {
            std::fprintf(stderr, "%s: a run failed (zcat %d, to entry %d, whole %d)\n", name.c_str(), zcat.ok, entry.ok, whole.ok);
            status = 1;
            continue;
        }
        std::printf("row|process: boot of %s (%.1f MB) to its entry|%.3f s|zcat process %.3f s|%.2f\n", name.c_str(), mb,
                    entry.seconds, zcat.seconds, entry.seconds / zcat.seconds);
        std::printf("row|process: whole boot of %s|%.3f s|zcat process %.3f s|%.2f\n", name.c_str(), whole.seconds,
                    zcat.seconds, whole.seconds / zcat.seconds);
        if (gunzip.ok)
            std::printf("row|process: boot of %s to its entry, against libdeflate's own tool|%.3f s|libdeflate-gunzip process %.3f s|%.2f\n",
                        name.c_str(), entry.seconds, gunzip.seconds, entry.seconds / gunzip.seconds);
        const double limit = 30 + 2.2 * mb;
        std::printf("row|process: peak memory, boot of %s|%.1f MB|30 MB + 2.2 x kernel = %.1f MB|%.2f\n", name.c_str(),
                    whole.peakKb / 1024.0, limit, whole.peakKb / 1024.0 / limit);
    }
    // Over HTTP: the same boot of the 24 MB kernels, served by nginx.
    std::string failure;
    auto server = testing_support::HttpServer::start(testing_support::HttpServer::Kind::Nginx, QUORVEL_KERNEL_DIR, &failure);
    if (!server) {
        std::fprintf(stderr, "no HTTP server for the boot over HTTP: %s\n", failure.c_str());
        return 1;
    }
    for (const std::string name : {"tamsel-large.gz", "tamsel-code-24.gz"}) {
        const std::string url = "http://127.0.0.1:" + std::to_string(server->port()) + "/" + name;
        const std::string kernel = std::string(QUORVEL_KERNEL_DIR) + "/" + name;
        std::error_code error;
        const double mb = static_cast<double>(std::filesystem::file_size(kernel.substr(0, kernel.size() - 3), error)) / 1048576.0;
        Run http;
        for (int round = 0; round < rounds; ++round)
            keepBest(http, spawn({QUORVEL_PROGRAM, "boot", url, "--yes", "-q", "--ram", "64"}), round);
        if (!http.ok) {
            std::fprintf(stderr, "%s: the boot over HTTP failed\n", name.c_str());
            status = 1;
            continue;
        }
        const double limit = 30 + 2.2 * mb;
        std::printf("%s over HTTP: whole boot %.3f s, peak %.1f MB\n", name.c_str(), http.seconds, http.peakKb / 1024.0);
        std::printf("row|process: peak memory, boot of %s over HTTP|%.1f MB|30 MB + 2.2 x kernel = %.1f MB|%.2f\n",
                    name.c_str(), http.peakKb / 1024.0, limit, http.peakKb / 1024.0 / limit);
    }
    return status;
}

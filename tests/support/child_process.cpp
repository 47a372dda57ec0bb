// Child processes for fixtures: tools run to completion and background servers.
#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace testing_support {

namespace {

std::vector<char*> argumentsOf(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    return args;
}

// Waits for the child at most `limit`; kills it when it is still there.
int reap(pid_t pid, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0) return -1;
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

}  // namespace

ToolResult runTool(const std::vector<std::string>& argv, const std::string& input, std::chrono::seconds timeout) {
    ToolResult result;
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) return result;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return result;
    }
    auto args = argumentsOf(argv);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        ::dup2(fromChild[1], 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (pid < 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        return result;
    }
    ::signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    if (input.empty()) {
        ::close(toChild[1]);
        toChild[1] = -1;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    bool open = true;
    while (open && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{fromChild[0], POLLIN, 0}, {toChild[1], POLLOUT, 0}};
        int count = toChild[1] >= 0 ? 2 : 1;
        if (::poll(fds, static_cast<nfds_t>(count), 100) < 0 && errno != EINTR) break;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[4096];
            ssize_t n = ::read(fromChild[0], buffer, sizeof buffer);
            if (n > 0) result.output.append(buffer, static_cast<std::size_t>(n));
            else open = false;
        }
        if (count == 2 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = ::write(toChild[1], input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n <= 0 || written == input.size()) {
                ::close(toChild[1]);
                toChild[1] = -1;
            }
        }
    }
    if (toChild[1] >= 0) ::close(toChild[1]);
    ::close(fromChild[0]);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    result.status = reap(pid, std::max(left, std::chrono::milliseconds(100)));
    return result;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& log) {
    auto args = argumentsOf(argv);
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    pid_ = ::fork();
    if (pid_ == 0) {
        // Its own process group, so that stopping it reaches any children it starts.
        ::setpgid(0, 0);
        int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, 0);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    if (out >= 0) ::close(out);
}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    ::kill(pid_, SIGTERM);
    reap(pid_, std::chrono::seconds(5));
    ::kill(-pid_, SIGKILL);
    pid_ = -1;
}

}  // namespace testing_support

#include "sim/qemu/qemu_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "sim/handheld.h"

namespace sim::qemu {

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr std::uint32_t BRANCH_TO_SELF = 0xEAFFFFFE;  // b .
constexpr std::uint16_t THUMB_BRANCH_TO_SELF = 0xE7FE;
// How long QEMU may take to answer its monitor before it is taken for hung.
constexpr int MONITOR_MILLISECONDS = 10000;

std::atomic<bool> stopRequested{false};
std::atomic<int> runsInProgress{0};
std::atomic<int> wakeFd{-1};  // the write end of the run's wake-up pipe

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Bytes in an anonymous file, for QEMU to open as /proc/self/fd/N.
Fd memoryFile(const char* name, const void* bytes, std::size_t size) {
    Fd fd(memfd_create(name, MFD_CLOEXEC));
    if (fd.get() < 0) throw std::runtime_error(systemError("memfd_create"));
    const auto* p = static_cast<const char*>(bytes);
    while (size > 0) {
        ssize_t n = ::write(fd.get(), p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(systemError("writing the RAM for QEMU"));
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return fd;
}

bool writeAll(int fd, const char* p, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// QEMU's monitor over a connected socket: one JSON object a line.
class Monitor {
public:
    // QEMU writes the console a byte at a time and stalls once the socket is full,
    // answering its monitor no more: the console is read while an answer is awaited.
    Monitor(int fd, int console, std::function<void()> readConsole)
        : fd_(fd), console_(console), readConsole_(std::move(readConsole)) {}

    // The next message that is not an event; nothing when QEMU has gone or is silent.
    std::optional<json> next() {
        for (;;) {
            std::size_t newline = buffer_.find('\n');
            if (newline != std::string::npos) {
                std::string line = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                json message = json::parse(line, nullptr, false);
                if (message.is_discarded()) continue;
                if (message.contains("event")) {
                    if (message["event"] == "SHUTDOWN" || message["event"] == "RESET") guestEnded = true;
                    continue;
                }
                return message;
            }
            pollfd p[2] = {{fd_, POLLIN, 0}, {console_, POLLIN, 0}};
            int ready = ::poll(p, 2, MONITOR_MILLISECONDS);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return std::nullopt;
            if (p[1].revents & POLLIN) readConsole_();
            if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char chunk[4096];
            ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    std::optional<json> execute(const std::string& command, json arguments = nullptr) {
        json request = {{"execute", command}};
        if (!arguments.is_null()) request["arguments"] = std::move(arguments);
        std::string text = request.dump() + "\n";
        if (!writeAll(fd_, text.data(), text.size())) return std::nullopt;
        return next();
    }

    // A human monitor command's text; nothing when QEMU has gone.
    std::optional<std::string> human(const std::string& command) {
        std::optional<json> answer = execute("human-monitor-command", {{"command-line", command}});
        if (!answer || !answer->contains("return") || !(*answer)["return"].is_string()) return std::nullopt;
        return (*answer)["return"].get<std::string>();
    }

    bool guestEnded = false;

private:
    int fd_;
    int console_;
    std::function<void()> readConsole_;
    std::string buffer_;
};

// The value after `name=` in the human monitor's register dump.
std::optional<std::uint32_t> field(const std::string& text, const std::string& name) {
    std::size_t at = text.find(name + "=");
    if (at == std::string::npos) return std::nullopt;
    return static_cast<std::uint32_t>(std::strtoul(text.c_str() + at + name.size() + 1, nullptr, 16));
}

struct Registers {
    std::array<std::uint32_t, 16> r{};
    std::uint32_t cpsr = 0;
};

std::optional<Registers> readRegisters(Monitor& monitor) {
    std::optional<std::string> text = monitor.human("info registers");
    if (!text) return std::nullopt;
    Registers regs;
    for (int i = 0; i < 16; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "R%02d", i);
        std::optional<std::uint32_t> value = field(*text, name);
        if (!value) return std::nullopt;
        regs.r[i] = *value;
    }
    std::optional<std::uint32_t> psr = field(*text, "PSR");
    if (!psr) return std::nullopt;
    regs.cpsr = *psr;
    return regs;
}

// Whether the instruction at the pc (a virtual address, read through the processor's
// own translation) branches to itself.
bool branchesToSelf(Monitor& monitor, const Registers& regs) {
    const bool thumb = regs.cpsr & 0x20;
    char command[48];
    std::snprintf(command, sizeof command, thumb ? "x /1hx 0x%08x" : "x /1wx 0x%08x", regs.r[15]);
    std::optional<std::string> text = monitor.human(command);
    if (!text) return false;
    std::size_t colon = text->find(": 0x");
    if (colon == std::string::npos) return false;
    std::uint32_t word = static_cast<std::uint32_t>(std::strtoul(text->c_str() + colon + 2, nullptr, 16));
    return thumb ? word == THUMB_BRANCH_TO_SELF : word == BRANCH_TO_SELF;
}

class WakePipe {
public:
    WakePipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error(systemError("pipe"));
        read_.reset(fds[0]);
        write_.reset(fds[1]);
        wakeFd.store(fds[1]);
    }
    ~WakePipe() { wakeFd.store(-1); }
    int readEnd() const { return read_.get(); }

private:
    Fd read_, write_;
};

// QEMU as a child that cannot outlive this process: killed with it, and kept out of
// the terminal's process group so that Ctrl-C reaches only quorvel, which ends it.
class Child {
public:
    ~Child() { kill(); }
    void start(const std::vector<std::string>& args, const std::vector<int>& inherited, int errorOut) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        int failure[2];
        if (::pipe2(failure, O_CLOEXEC) != 0) throw std::runtime_error(systemError("pipe"));
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error(systemError("fork"));
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);
            ::setpgid(0, 0);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(errorOut, 2);
            for (int fd : inherited) ::fcntl(fd, F_SETFD, 0);
            ::execvp(argv[0], argv.data());
            int error = errno;
            ssize_t ignored = ::write(failure[1], &error, sizeof error);
            (void)ignored;
            ::_exit(127);
        }
        ::close(failure[1]);
        int error = 0;
        ssize_t n;
        do n = ::read(failure[0], &error, sizeof error);
        while (n < 0 && errno == EINTR);
        ::close(failure[0]);
        if (n == static_cast<ssize_t>(sizeof error)) {
            reap();
            throw std::runtime_error("can't run " + args[0] + ": " + std::strerror(error));
        }
    }
    // The exit status once QEMU has ended; nothing while it runs.
    std::optional<int> ended() {
        if (pid_ <= 0) return status_;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            status_ = status;
        }
        return status_;
    }
    // Waits up to `seconds` for QEMU to end by itself.
    bool waitFor(double seconds) {
        auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (!ended()) {
            if (Clock::now() > until) return false;
            ::usleep(5000);
        }
        return true;
    }
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        reap();
    }

private:
    void reap() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = status;
        pid_ = -1;
    }
    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::string describeStatus(int status) {
    if (WIFEXITED(status)) return "QEMU exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("QEMU was killed by signal ") + strsignal(WTERMSIG(status));
    return "QEMU ended";
}

// QEMU's standard error, kept for the message when it fails.
void drain(int fd, std::string& into) {
    char chunk[4096];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        into.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string lastLines(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

bool requestStop() {
    stopRequested.store(true);
    int fd = wakeFd.load();
    if (fd >= 0) {
        char byte = 1;
        ssize_t ignored = ::write(fd, &byte, 1);
        (void)ignored;
    }
    return runsInProgress.load() > 0;
}

HandOverResult runOnQemu(Handheld& device, const Machine& machine, const HandOverResult& atJump,
                         const RunSettings& settings) {
    HandOverResult result = atJump;
    result.reason = HaltReason::Failed;
    result.emulator = "qemu";
    result.instructions = 0;
    result.instructionsExact = false;
    result.exception.clear();
    // QEMU's monitor shows no coprocessor registers: they are not carried back.
    result.control = result.translationTable = result.processId = 0;
    stopRequested.store(false);
    runsInProgress.fetch_add(1);
    struct Leave {
        ~Leave() { runsInProgress.fetch_sub(1); }
    } leave;
    std::string qemuErrors;
    try {
        WakePipe wake;
        // Sockets for the console and the monitor, and the RAM as anonymous files: QEMU
        // inherits them, so no path exists that could be left behind.
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) throw std::runtime_error(systemError("socketpair"));
        Fd serial(pair[0]), serialTheirs(pair[1]);
        int room = 4 << 20;
        ::setsockopt(serialTheirs.get(), SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) throw std::runtime_error(systemError("socketpair"));
        Fd monitorFd(pair[0]), monitorTheirs(pair[1]);
        int errorPipe[2];
        if (::pipe2(errorPipe, O_CLOEXEC) != 0) throw std::runtime_error(systemError("pipe"));
        Fd errors(errorPipe[0]), errorsTheirs(errorPipe[1]);
        // Read as it comes, never waited on: QEMU warns and goes on.
        ::fcntl(errors.get(), F_SETFL, O_NONBLOCK);

        std::vector<Fd> files;  // the RAM and the start code for QEMU, and the files it writes the RAM back to
        std::vector<int> inherited = {serialTheirs.get(), monitorTheirs.get()};
        auto procPath = [](int fd) { return "/proc/self/fd/" + std::to_string(fd); };
        std::vector<LoadedFile> banks;
        std::vector<std::pair<RamBank, int>> saves;  // where QEMU writes each bank back
        if (std::optional<std::uint32_t> at = lostBytes(device, machine))
            throw std::runtime_error("refused: the screen's video memory at " + hex(*at) + " is not on QEMU's " +
                                     machine.name + " and holds a picture the kernel would lose");
        for (const RamBank& bank : machine.banks) {
            files.push_back(memoryFile("quorvel-ram", device.memory().host(PhysicalAddress(bank.base)), bank.size));
            banks.push_back({procPath(files.back().get()), bank.base});
            inherited.push_back(files.back().get());
            files.push_back(Fd(memfd_create("quorvel-ram-end", MFD_CLOEXEC)));
            if (files.back().get() < 0) throw std::runtime_error(systemError("memfd_create"));
            saves.emplace_back(bank, files.back().get());
            inherited.push_back(files.back().get());
        }
        std::vector<std::uint8_t> code = startCode(machine, device, atJump);
        files.push_back(memoryFile("quorvel-start", code.data(), code.size()));
        inherited.push_back(files.back().get());
        LoadedFile start{procPath(files.back().get()), machine.startAddress};

        std::vector<std::string> args = commandLine(machine, banks, start, "chardev:quorvel-console");
        args[0] = settings.program;
        args.insert(args.end(), {"-chardev", "socket,id=quorvel-console,fd=" + std::to_string(serialTheirs.get()),
                                 "-chardev", "socket,id=quorvel-monitor,fd=" + std::to_string(monitorTheirs.get()),
                                 "-mon", "chardev=quorvel-monitor,mode=control"});
        if (settings.gdb) args.insert(args.end(), {"-gdb", "tcp:" + *settings.gdb, "-S"});

        Child qemu;
        qemu.start(args, inherited, errorsTheirs.get());
        serialTheirs.reset();
        monitorTheirs.reset();
        errorsTheirs.reset();
        auto relay = [&] {
            char chunk[4096];
            for (;;) {
                ssize_t n = ::recv(serial.get(), chunk, sizeof chunk, MSG_DONTWAIT);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return;
                if (settings.output) settings.output(std::string_view(chunk, static_cast<std::size_t>(n)));
            }
        };
        Monitor monitor(monitorFd.get(), serial.get(), relay);

        auto failed = [&](const std::string& why) {
            qemu.waitFor(1.0);
            qemu.kill();
            drain(errors.get(), qemuErrors);
            result.reason = HaltReason::Failed;
            std::string message = lastLines(qemuErrors);
            result.error = message.empty() ? why : why + ": " + message;
            return result;
        };
        std::optional<json> greeting = monitor.next();
        if (!greeting || !greeting->contains("QMP")) return failed("QEMU did not start");
        std::optional<json> ok = monitor.execute("qmp_capabilities");
        if (!ok || !ok->contains("return")) return failed("QEMU did not start");
        if (settings.started) settings.started();

        const auto started = Clock::now();
        const double timeout = std::min(settings.timeoutSeconds, 365.0 * 24 * 3600);
        const auto deadline = started + std::chrono::microseconds(static_cast<std::int64_t>(timeout * 1e6));
        const auto poll = std::chrono::microseconds(static_cast<std::int64_t>(settings.pollSeconds * 1e6));
        auto nextLook = started + poll;
        bool inputOpen = settings.input >= 0;
        // The machine's UART drops what arrives before the start code has enabled its
        // receiver, so input waits until the processor has left the start code.
        bool consoleReady = false;
        const std::uint32_t startEnd = machine.startAddress + static_cast<std::uint32_t>(code.size());
        HaltReason reason = HaltReason::Failed;
        std::optional<Registers> last;
        for (;;) {
            pollfd fds[4] = {{serial.get(), POLLIN, 0}, {wake.readEnd(), POLLIN, 0}, {errors.get(), POLLIN, 0},
                             {inputOpen && consoleReady ? settings.input : -1, POLLIN, 0}};
            auto now = Clock::now();
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextLook - now).count();
            if (timeout > 0) wait = std::min<long long>(wait, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
            int ready = ::poll(fds, 4, static_cast<int>(std::max<long long>(wait, 0)));
            if (ready < 0 && errno != EINTR) throw std::runtime_error(systemError("poll"));
            if (fds[0].revents & POLLIN) relay();
            if (fds[2].revents & (POLLIN | POLLHUP)) drain(errors.get(), qemuErrors);
            if (fds[3].revents & (POLLIN | POLLHUP)) {
                char chunk[4096];
                ssize_t n = ::read(settings.input, chunk, sizeof chunk);
                if (n > 0)
                    writeAll(serial.get(), chunk, static_cast<std::size_t>(n));
                else if (n == 0 || errno != EINTR)
                    inputOpen = false;  // the console keeps running without input
            }
            if (stopRequested.load()) {
                reason = HaltReason::Interrupted;
                break;
            }
            if (qemu.ended() || (fds[0].revents & POLLHUP)) {
                relay();
                if (!qemu.waitFor(1.0)) qemu.kill();
                drain(errors.get(), qemuErrors);
                result.reason = HaltReason::Failed;
                std::string message = lastLines(qemuErrors);
                result.error = (monitor.guestEnded ? "the kernel reset the machine and QEMU ended"
                                                   : describeStatus(*qemu.ended())) +
                               (message.empty() ? "" : ": " + message);
                return result;
            }
            now = Clock::now();
            if (timeout > 0 && now >= deadline) {
                reason = HaltReason::TimedOut;
                break;
            }
            if (now >= nextLook) {
                nextLook = now + poll;
                std::optional<Registers> regs = readRegisters(monitor);
                if (!regs) continue;  // QEMU has gone: seen above at the next turn
                if (regs->r[15] < machine.startAddress || regs->r[15] >= startEnd) consoleReady = true;
                if (branchesToSelf(monitor, *regs)) {
                    reason = HaltReason::Halted;
                    break;
                }
            }
        }

        // The machine stops where it is; its state is read before QEMU is ended.
        std::optional<json> stopped = monitor.execute("stop");
        relay();
        last = stopped ? readRegisters(monitor) : std::nullopt;
        if (!last) return failed("QEMU ended before its state could be read");
        result.r = last->r;
        result.pc = last->r[15];
        result.cpsr = last->cpsr;
        for (auto& [bank, fd] : saves) {
            std::optional<json> saved = monitor.execute(
                "pmemsave", {{"val", bank.base}, {"size", bank.size}, {"filename", procPath(fd)}});
            if (!saved || !saved->contains("return")) return failed("QEMU could not hand its RAM back");
            if (::pread(fd, device.memory().host(PhysicalAddress(bank.base)), bank.size, 0) !=
                static_cast<ssize_t>(bank.size))
                return failed("QEMU handed back less RAM than the handheld has");
        }
        monitor.execute("quit");
        if (!qemu.waitFor(2.0)) qemu.kill();
        relay();
        result.reason = reason;
        result.error.clear();
        return result;
    } catch (const std::exception& failure) {
        result.reason = HaltReason::Failed;
        result.error = failure.what();
        return result;
    }
}

std::string shellScript(const Machine& machine) {
    std::vector<LoadedFile> banks;
    char name[16];
    for (const RamBank& bank : machine.banks) {
        std::snprintf(name, sizeof name, "%08x", bank.base);
        banks.push_back({name, bank.base});
    }
    std::vector<std::string> args = commandLine(machine, banks, {"start.bin", machine.startAddress}, "mon:stdio");
    std::string script =
        "#!/bin/sh\n"
        "# The run quorvel would continue on QEMU's " + machine.name + " from this folder's RAM banks:\n"
        "# start.bin leaves the processor and the console UART as at the jump, then jumps.\n"
        "# Options given to this script are added to QEMU's (-s -S for its debugger, say).\n"
        "cd \"$(dirname \"$0\")\" || exit 1\n"
        "exec";
    for (const std::string& a : args) script += " '" + a + "'";
    script += " \"$@\"\n";
    return script;
}

}  // namespace sim::qemu

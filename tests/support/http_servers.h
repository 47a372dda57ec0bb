// Real HTTP servers on loopback ports for the HTTP backend's tests and benchmarks:
// Python's http.server, nginx with its own configuration in a temporary folder, and
// a small scripted server whose answers are chosen by the request path.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/device.h"

namespace testing_support {

class HttpServer {
public:
    enum class Kind { Python, Nginx, Scripted };

    // Serves the files of `root`; null (with the reason in *failure) when the server
    // did not come up within a few seconds.
    static std::unique_ptr<HttpServer> start(Kind kind, const std::filesystem::path& root, std::string* failure,
                                             const std::string& address = "127.0.0.1");
    ~HttpServer();

    Kind kind() const { return kind_; }
    std::uint16_t port() const { return port_; }
    // What the server wrote to its log.
    std::string log() const;

private:
    HttpServer() = default;
    Kind kind_ = Kind::Python;
    std::uint16_t port_ = 0;
    TempDir work_;
    std::unique_ptr<ChildProcess> process_;
};
// Parameterised tests over the servers print them by name.
void PrintTo(HttpServer::Kind kind, std::ostream* out);

// A socket that listens on a loopback port and never answers: connections are
// completed by the kernel, and whatever a client waits for never comes.
class SilentListener {
public:
    explicit SilentListener(const std::string& address = "127.0.0.1");
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    std::uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A loopback port nothing listens on at the moment.
std::uint16_t freeLoopbackPort(const std::string& address = "127.0.0.1");
// True once a TCP connection to the port succeeds; gives up after `limitMs`.
bool waitForPort(const std::string& address, std::uint16_t port, int limitMs);

// The bytes of the scripted server's files: byte i of a file is i % 251.
std::string patternBytes(std::size_t size, std::size_t from = 0);

}  // namespace testing_support

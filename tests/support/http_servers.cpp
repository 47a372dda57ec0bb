// HTTP servers started beside a test on loopback ports, stopped with the object.
#include "support/http_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string nginxConfiguration(const std::filesystem::path& work, const std::filesystem::path& root,
                               const std::string& address, std::uint16_t port) {
    std::string w = work.string();
    std::ostringstream conf;
    conf << "daemon off;\n"
         << "master_process off;\n"
         << "worker_processes 1;\n"
         << "pid " << w << "/nginx.pid;\n"
         << "error_log " << w << "/error.log info;\n"
         << "events { worker_connections 64; }\n"
         << "http {\n"
         << "  access_log " << w << "/access.log;\n"
         << "  client_body_temp_path " << w << "/client_body;\n"
         << "  proxy_temp_path " << w << "/proxy;\n"
         << "  fastcgi_temp_path " << w << "/fastcgi;\n"
         << "  uwsgi_temp_path " << w << "/uwsgi;\n"
         << "  scgi_temp_path " << w << "/scgi;\n"
         << "  default_type application/octet-stream;\n"
         << "  sendfile on;\n"
         << "  server {\n"
         << "    listen " << address << ":" << port << ";\n"
         << "    server_name localhost;\n"
         << "    root " << root.string() << ";\n"
         << "  }\n"
         << "}\n";
    return conf.str();
}

}  // namespace

std::uint16_t freeLoopbackPort(const std::string& address) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    where.sin_port = 0;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0) {
        socklen_t size = sizeof where;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &size);
        port = ntohs(where.sin_port);
    }
    ::close(fd);
    return port;
}

bool waitForPort(const std::string& address, std::uint16_t port, int limitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
        bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
        ::close(fd);
        if (connected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string patternBytes(std::size_t size, std::size_t from) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((from + i) % 251);
    return bytes;
}

std::unique_ptr<HttpServer> HttpServer::start(Kind kind, const std::filesystem::path& root, std::string* failure,
                                              const std::string& address) {
    std::unique_ptr<HttpServer> server(new HttpServer);
    server->kind_ = kind;
    const std::filesystem::path& work = server->work_.path();
    std::filesystem::path log = work / "server.log";
    // A port found free may be taken before the server binds it; try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::uint16_t port = freeLoopbackPort(address);
        std::vector<std::string> argv;
        switch (kind) {
        case Kind::Python:
            argv = {"python3", "-m", "http.server", "--bind", address, "--directory", root.string(), std::to_string(port)};
            break;
        case Kind::Nginx: {
            std::ofstream(work / "nginx.conf") << nginxConfiguration(work, root, address, port);
            argv = {"nginx", "-p", work.string(), "-c", (work / "nginx.conf").string(), "-e", (work / "error.log").string()};
            break;
        }
        case Kind::Scripted:
            argv = {"python3", std::string(QUORVEL_FIXTURES) + "/http/scripted_server.py", address, std::to_string(port)};
            break;
        }
        server->process_ = std::make_unique<ChildProcess>(argv, log);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline && server->process_->running()) {
            if (waitForPort(address, port, 100)) {
                server->port_ = port;
                return server;
            }
        }
        server->process_.reset();
    }
    if (failure) *failure = "server did not start: " + server->log();
    return nullptr;
}

SilentListener::SilentListener(const std::string& address) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    socklen_t size = sizeof where;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 && ::listen(fd_, 16) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&where), &size) == 0) {
        port_ = ntohs(where.sin_port);
    }
}

SilentListener::~SilentListener() {
    if (fd_ >= 0) ::close(fd_);
}

HttpServer::~HttpServer() { process_.reset(); }

std::string HttpServer::log() const {
    std::string text = readAll(work_.path() / "server.log");
    if (kind_ == Kind::Nginx) text += readAll(work_.path() / "error.log") + readAll(work_.path() / "access.log");
    return text;
}

void PrintTo(HttpServer::Kind kind, std::ostream* out) {
    *out << (kind == HttpServer::Kind::Python ? "Python" : kind == HttpServer::Kind::Nginx ? "Nginx" : "Scripted");
}

}  // namespace testing_support

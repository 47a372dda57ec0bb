// Reading a multi-megabyte file through the HTTP backend from nginx on loopback,
// against a plain GET of the same file from the same server, both in this process
// and in turns: the plain reader receives into 64 KB and does nothing else.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "file/http_file_manager.h"
#include "support/child_process.h"
#include "best_of.h"
#include "support/device.h"
#include "support/http_servers.h"

// The host's own sockets for the plain reader: after the system's headers, whose
// Windows names they would otherwise replace.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using bench::Result;
using bench::best;
using bench::ROUNDS;

namespace {

constexpr std::size_t FILE_SIZE = 24u << 20;
constexpr std::uint32_t CHUNK = 4080;  // what the loader puts into one page



Result readBackend(std::uint16_t port) {
    quorvel::Console* console = nullptr;
    quorvel::HttpFileManager backend(console);
    Result r;
    std::u16string directory = u"http://127.0.0.1:";
    for (char c : std::to_string(port)) directory += static_cast<char16_t>(c);
    directory += u"/";
    if (!backend.setLocation(directory.c_str()) || !backend.open(u"/bench.bin", 3)) return r;
    std::vector<unsigned char> buffer(CHUNK);
    r.crc = crc32(0, Z_NULL, 0);
    for (;;) {
        std::int32_t got = backend.read(buffer.data(), CHUNK);
        if (got <= 0) break;
        r.crc = crc32(r.crc, buffer.data(), static_cast<uInt>(got));
        r.bytes += static_cast<std::uint32_t>(got);
    }
    backend.close();
    return r;
}

// One GET over a socket of its own, received in 64 KB pieces: the body's bytes and CRC.
Result readPlain(std::uint16_t port) {
    Result r;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return r;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = "GET /bench.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
        close(fd);
        return r;
    }
    std::vector<unsigned char> buffer(65536);
    std::string head;
    bool inBody = false;
    r.crc = crc32(0, Z_NULL, 0);
    for (;;) {
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0) break;
        const unsigned char* body = buffer.data();
        std::size_t length = static_cast<std::size_t>(got);
        if (!inBody) {
            head.append(reinterpret_cast<const char*>(body), length);
            const std::size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            inBody = true;
            const std::size_t before = head.size() - length;
            body += end + 4 - before;
            length -= end + 4 - before;
        }
        r.crc = crc32(r.crc, body, static_cast<uInt>(length));
        r.bytes += length;
    }
    close(fd);
    return r;
}

}  // namespace

int main() {
    testing_support::TempDir root;
    std::string data(FILE_SIZE, '\0');
    std::mt19937 random(7);
    for (char& c : data) c = static_cast<char>(random());
    std::ofstream(root.path() / "bench.bin", std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    const uLong expected = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));

    std::string failure;
    auto nginx = testing_support::HttpServer::start(testing_support::HttpServer::Kind::Nginx, root.path(), &failure);
    if (!nginx) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return 1;
    }
    testing_support::TestDevice device;

    // The two take turns, so that a busy moment of the machine falls on both alike.
    Result ours, plain;
    for (int round = 0; round < ROUNDS; ++round) {
        const Result a = best([&] { return readBackend(nginx->port()); }, 1);
        const Result b = best([&] { return readPlain(nginx->port()); }, 1);
        if (round == 0 || a.seconds < ours.seconds) ours = a;
        if (round == 0 || b.seconds < plain.seconds) plain = b;
    }
    if (ours.bytes != FILE_SIZE || ours.crc != expected || plain.bytes != FILE_SIZE || plain.crc != expected) {
        std::fprintf(stderr, "wrong data: backend %llu bytes (crc %s), plain GET %llu bytes (crc %s)\n",
                     static_cast<unsigned long long>(ours.bytes), ours.crc == expected ? "ok" : "bad",
                     static_cast<unsigned long long>(plain.bytes), plain.crc == expected ? "ok" : "bad");
        return 1;
    }
    double mb = FILE_SIZE / 1048576.0;
    std::printf("HTTP read of %.0f MB from nginx on loopback, in this process (best of %d)\n", mb, ROUNDS);
    std::printf("  HttpFileManager (HEAD, GET, %u-byte reads, CRC): %8.4f s  %8.1f MB/s\n", CHUNK, ours.seconds, mb / ours.seconds);
    std::printf("  plain GET, 64 KB receives, CRC              : %8.4f s  %8.1f MB/s\n", plain.seconds, mb / plain.seconds);
    std::printf("  ratio backend / plain GET                   : %8.2f\n", ours.seconds / plain.seconds);
    std::printf("row|HTTP read of %.0f MB from nginx, %u-byte reads (in-process, CRC)|%.1f ms|plain GET in 64 KB %.1f ms|%.2f\n",
                mb, CHUNK, ours.seconds * 1e3, plain.seconds * 1e3, ours.seconds / plain.seconds);
    return 0;
}

// Reading a multi-megabyte file through the HTTP backend from nginx on loopback,
// against curl fetching the same file from the same server in the same run.
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

Result readCurl(std::uint16_t port) {
    Result r;
    auto fetched = testing_support::runTool(
        {"curl", "-s", "-o", "/dev/null", "-w", "%{size_download}", "http://127.0.0.1:" + std::to_string(port) + "/bench.bin"});
    if (fetched.status == 0) r.bytes = std::stoull(fetched.output);
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

    Result ours = best([&] { return readBackend(nginx->port()); });
    Result curl = best([&] { return readCurl(nginx->port()); });
    if (ours.bytes != FILE_SIZE || ours.crc != expected || curl.bytes != FILE_SIZE) {
        std::fprintf(stderr, "wrong data: backend %llu bytes (crc %s), curl %llu bytes\n",
                     static_cast<unsigned long long>(ours.bytes), ours.crc == expected ? "ok" : "bad",
                     static_cast<unsigned long long>(curl.bytes));
        return 1;
    }
    double mb = FILE_SIZE / 1048576.0;
    std::printf("HTTP read of %.0f MB from nginx on loopback (best of %d)\n", mb, ROUNDS);
    std::printf("  HttpFileManager (HEAD, GET, %u-byte reads): %8.4f s  %8.1f MB/s\n", CHUNK, ours.seconds, mb / ours.seconds);
    std::printf("  curl (whole process)                     : %8.4f s  %8.1f MB/s\n", curl.seconds, mb / curl.seconds);
    std::printf("  ratio backend / curl                     : %8.2f\n", ours.seconds / curl.seconds);
    std::printf("row|HTTP read of %.0f MB from nginx, %u-byte reads|%.1f ms|curl %.1f ms|%.2f\n", mb, CHUNK,
                ours.seconds * 1e3, curl.seconds * 1e3, ours.seconds / curl.seconds);
    return 0;
}

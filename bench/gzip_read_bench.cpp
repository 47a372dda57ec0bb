// Reading a gzip file through the gzip front against zlib's own gzread on the same
// file: as the front reads a kernel (inflated whole at the first read, the whole file
// held) and as a stream (a limit below the file, as on a handheld short of memory);
// and the cost of the image's pattern: size() first, then a read from the start.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "boot/boot_menu.h"
#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "best_of.h"
#include "support/device.h"

using bench::Result;
using bench::best;
using bench::ROUNDS;

namespace {

constexpr std::uint32_t CHUNK = 4080;  // what the loader puts into one page



std::string sampleData(std::size_t size) {
    static const char* const words[] = {"kernel", "page", "link", "symbol", "segment", "section", "bss", "text"};
    std::mt19937 random(42);
    std::string data;
    data.reserve(size);
    while (data.size() < size) {
        // Mostly text with some noise, roughly as compressible as a kernel.
        data += words[random() % 8];
        data += ' ';
        for (auto i = random() % 6; i > 0; --i) data += static_cast<char>(random());
    }
    data.resize(size);
    return data;
}

Result readFront(quorvel::Console*& console, bool sizeFirst, std::uint64_t limit = UINT64_MAX) {
    quorvel::GzipFileManager front(console, quorvel::FILE_MANAGER_FAT);
    front.setLocation(u"\\Storage Card\\");
    front.setCacheLimit(limit);
    Result r;
    if (!front.open(u"bench.gz", 3)) return r;
    std::uint32_t expected = sizeFirst ? front.size() : 0;
    std::vector<unsigned char> buffer(CHUNK);
    r.crc = crc32(0, Z_NULL, 0);
    for (std::int32_t offset = 0;; offset = -1) {
        std::int32_t got = front.read(buffer.data(), CHUNK, offset);
        if (got <= 0) break;
        r.crc = crc32(r.crc, buffer.data(), static_cast<uInt>(got));
        r.bytes += static_cast<std::uint32_t>(got);
    }
    front.close();
    if (sizeFirst && expected != r.bytes) std::fprintf(stderr, "size() said %u, read %llu\n", expected, static_cast<unsigned long long>(r.bytes));
    return r;
}

Result readGzread(const std::string& path) {
    Result r;
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file) return r;
    std::vector<unsigned char> buffer(CHUNK);
    r.crc = crc32(0, Z_NULL, 0);
    for (;;) {
        int got = gzread(file, buffer.data(), CHUNK);
        if (got <= 0) break;
        r.crc = crc32(r.crc, buffer.data(), static_cast<uInt>(got));
        r.bytes += static_cast<unsigned>(got);
    }
    gzclose(file);
    return r;
}

double megabytesPerSecond(const Result& r) { return static_cast<double>(r.bytes) / r.seconds / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv) {
    std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    if (megabytes == 0) megabytes = 16;

    testing_support::TestDevice device;
    std::string plain = (device.card() / "bench.bin").string();
    std::string packed = (device.card() / "bench.gz").string();
    std::string data = sampleData(megabytes << 20);
    std::ofstream(plain, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    std::string command = "gzip -c -n '" + plain + "' > '" + packed + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "gzip failed\n");
        return 1;
    }
    const uLong wanted = crc32(crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));

    quorvel::Console* console = quorvel::lcdConsole();
    Result front = best([&] { return readFront(console, false); });
    Result streamed = best([&] { return readFront(console, false, 1u << 20); });
    Result zlib = best([&] { return readGzread(packed); });
    Result sized = best([&] { return readFront(console, true); });

    bool right = front.crc == wanted && streamed.crc == wanted && zlib.crc == wanted && sized.crc == wanted &&
                 front.bytes == data.size();
    std::printf("gzip file: %zu MB inflated, %zu bytes stored; reads of %u bytes, best of %d rounds\n", megabytes,
                static_cast<std::size_t>(std::ifstream(packed, std::ios::binary | std::ios::ate).tellg()), CHUNK, ROUNDS);
    std::printf("%-32s %8.1f ms %8.1f MB/s\n", "GzipFileManager sequential", front.seconds * 1e3, megabytesPerSecond(front));
    std::printf("%-32s %8.1f ms %8.1f MB/s\n", "GzipFileManager as a stream", streamed.seconds * 1e3,
                megabytesPerSecond(streamed));
    std::printf("%-32s %8.1f ms %8.1f MB/s\n", "zlib gzread", zlib.seconds * 1e3, megabytesPerSecond(zlib));
    std::printf("%-32s %8.1f ms\n", "size() then read from the start", sized.seconds * 1e3);
    std::printf("front / gzread time ratio:       %.2f\n", front.seconds / zlib.seconds);
    std::printf("size()+read / streamed read:     %.2f\n", sized.seconds / streamed.seconds);
    if (!right) std::printf("DATA MISMATCH: the figures above are not valid\n");
    std::printf("row|gzip front, %zu MB in %u-byte reads, inflated whole (in-process)|%.1f ms|zlib gzread %.1f ms|%.2f\n",
                megabytes, CHUNK, front.seconds * 1e3, zlib.seconds * 1e3, front.seconds / zlib.seconds);
    std::printf("row|gzip front, %zu MB in %u-byte reads, as a stream (in-process)|%.1f ms|zlib gzread %.1f ms|%.2f\n",
                megabytes, CHUNK, streamed.seconds * 1e3, zlib.seconds * 1e3, streamed.seconds / zlib.seconds);
    std::printf("row|gzip front, size() then a read from the start|%.1f ms|one read as a stream %.1f ms|%.2f\n",
                sized.seconds * 1e3, streamed.seconds * 1e3, sized.seconds / streamed.seconds);

    quorvel::releaseConsole();
    quorvel::releaseBootMenu();
    return right ? 0 : 1;
}

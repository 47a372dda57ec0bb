// Reading a multi-megabyte file through the UFS backend from a makefs image, against
// reading the same file's bytes from the host file they were made from, both in this
// process and in turns (the host read in 64 KB pieces, the page cache warm on both).
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "file/ufs/ufs_file_manager.h"
#include "support/child_process.h"
#include "best_of.h"
#include "support/device.h"
#include "support/disk_images.h"

using bench::Result;
using bench::best;
using bench::ROUNDS;

namespace {

constexpr std::size_t FILE_SIZE = 32u << 20;



// Reads the file in `chunk`-byte pieces straight into `into`, as the ELF loader
// reads into its pages; the data is checked after the clock has stopped.
Result readBackend(std::uint32_t chunk, std::vector<unsigned char>& into) {
    quorvel::Console* console = nullptr;
    quorvel::UfsFileManager backend(console);
    Result r;
    if (!backend.setLocation(u"1:") || !backend.open(u"/boot/bench.bin", 3)) return r;
    for (;;) {
        std::uint32_t want = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunk, into.size() - r.bytes));
        if (want == 0) break;
        std::int32_t got = backend.read(into.data() + r.bytes, want);
        if (got <= 0) break;
        r.bytes += static_cast<std::uint32_t>(got);
    }
    backend.close();
    return r;
}

uLong crcOf(const std::vector<unsigned char>& data, std::uint64_t bytes) {
    return crc32(crc32(0, Z_NULL, 0), data.data(), static_cast<uInt>(bytes));
}

}  // namespace

int main() {
    testing_support::TempDir work;
    std::string data(FILE_SIZE, '\0');
    std::mt19937 random(11);
    for (char& c : data) c = static_cast<char>(random());
    std::filesystem::create_directories(work.path() / "tree/boot");
    std::ofstream(work.path() / "tree/boot/bench.bin", std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
    const uLong expected = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    std::string().swap(data);
    const std::filesystem::path hostFile = work.path() / "tree/boot/bench.bin";

    std::filesystem::path image = work.path() / "ufs.img";
    std::string failure;
    if (!testing_support::makeUfsImage(work.path() / "tree", image, &failure)) {
        std::fprintf(stderr, "makefs: %s\n", failure.c_str());
        return 1;
    }
    sim::DeviceSettings settings;
    settings.disks[u"DSK1:"] = sim::DiskImage(image);
    testing_support::TestDevice device(settings);

    std::vector<unsigned char> into(FILE_SIZE);
    auto readHost = [&] {
        Result r;
        const int fd = open(hostFile.c_str(), O_RDONLY);
        if (fd < 0) return r;
        for (;;) {
            const std::size_t want = std::min<std::size_t>(65536, into.size() - r.bytes);
            if (want == 0) break;
            const ssize_t got = read(fd, into.data() + r.bytes, want);
            if (got <= 0) break;
            r.bytes += static_cast<std::uint64_t>(got);
        }
        close(fd);
        return r;
    };
    // The three take turns, so that a busy moment of the machine falls on all alike.
    Result pages, large, host;
    auto keep = [](Result& fastest, const Result& r, int round) {
        if (round == 0 || r.seconds < fastest.seconds) fastest = r;
    };
    uLong pagesCrc = 0, largeCrc = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        std::fill(into.begin(), into.end(), 0);
        keep(pages, best([&] { return readBackend(4080, into); }, 1), round);
        pagesCrc = crcOf(into, FILE_SIZE);
        std::fill(into.begin(), into.end(), 0);
        keep(large, best([&] { return readBackend(65536, into); }, 1), round);
        largeCrc = crcOf(into, FILE_SIZE);
        keep(host, best(readHost, 1), round);
        if (pagesCrc != expected || largeCrc != expected) break;
    }
    pages.crc = pagesCrc;
    large.crc = largeCrc;
    if (pages.bytes != FILE_SIZE || pages.crc != expected || large.crc != expected || host.bytes != FILE_SIZE) {
        std::fprintf(stderr, "wrong data: backend %llu bytes (crc %s)\n", static_cast<unsigned long long>(pages.bytes),
                     pages.crc == expected ? "ok" : "bad");
        return 1;
    }
    double mb = FILE_SIZE / 1048576.0;
    std::printf("UFS read of a %.0f MB file from a makefs image, in this process (best of %d)\n", mb, ROUNDS);
    std::printf("  UfsFileManager, 4080-byte reads : %8.4f s  %8.1f MB/s\n", pages.seconds, mb / pages.seconds);
    std::printf("  UfsFileManager, 64 KB reads     : %8.4f s  %8.1f MB/s\n", large.seconds, mb / large.seconds);
    std::printf("  host file, 64 KB reads          : %8.4f s  %8.1f MB/s\n", host.seconds, mb / host.seconds);
    std::printf("row|UFS read of %.0f MB in 4080-byte reads (in-process)|%.1f ms|host file in 64 KB %.1f ms|%.2f\n", mb,
                pages.seconds * 1e3, host.seconds * 1e3, pages.seconds / host.seconds);
    std::printf("row|UFS read of %.0f MB in 64 KB reads (in-process)|%.1f ms|host file in 64 KB %.1f ms|%.2f\n", mb,
                large.seconds * 1e3, host.seconds * 1e3, large.seconds / host.seconds);
    return 0;
}

#include "app/boot_failure.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/wide_text.h"
#include "file/ufs/disk_label.h"
#include "file/ufs/ufs_reader.h"

namespace quorvel::app {

namespace {

constexpr std::uint32_t SECTOR = 512;
constexpr std::uint32_t UFS2_MAGIC = 0x19540119;
constexpr std::uint32_t UFS2_SUPERBLOCK = 65536;

const char* reasonPhrase(int status) {
    switch (status) {
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 410: return "Gone";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "";
    }
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool readAt(std::ifstream& file, std::uint64_t offset, std::uint8_t* to, std::size_t size) {
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(size));
    return file.gcount() == static_cast<std::streamsize>(size);
}

// "" when a UFS1 file system starts at `offset`, else what is there instead.
std::string fileSystemAt(std::ifstream& file, std::uint64_t offset) {
    std::uint8_t word[4];
    if (readAt(file, offset + SUPERBLOCK_SECTOR * SECTOR + ufs1_superblock::MAGIC, word, 4) && le32(word) == UFS1_MAGIC)
        return "";
    // UFS2 keeps its superblock at 64 KB, or where UFS1 does.
    for (std::uint64_t at : {std::uint64_t{UFS2_SUPERBLOCK}, std::uint64_t{SUPERBLOCK_SECTOR} * SECTOR})
        if (readAt(file, offset + at + ufs1_superblock::MAGIC, word, 4) && le32(word) == UFS2_MAGIC)
            return "a UFS2 file system, not UFS1 (make it with makefs -t ffs -o version=1)";
    return "no UFS1 file system";
}

// What stands between the disk image and a kernel on a UFS card, or "" when the card
// looks right (the file itself is then missing). The card is read as the backend
// reads it: the first A9 partition (else the last A5) and partition a of the BSD
// label in its second sector; without a label the partition, without either the disk.
std::string cardProblem(const std::filesystem::path& image, const std::string& disk) {
    std::ifstream file(image, std::ios::binary);
    std::uint8_t sector[SECTOR];
    if (!readAt(file, 0, sector, SECTOR)) return "the disk image of " + disk + " is shorter than one sector";
    const std::uint8_t* table = sector + mbr::PARTITION_TABLE;
    std::uint32_t start = 0;
    if (!findBsdPartition(table, &start)) {
        std::string there = fileSystemAt(file, 0);
        if (there.empty()) return "";
        std::string types;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t type = table[i * mbr::ENTRY_SIZE + mbr::ENTRY_TYPE];
            if (!type) continue;
            char hex[8];
            std::snprintf(hex, sizeof hex, "%s%02X", types.empty() ? "" : ", ", type);
            types += hex;
        }
        return "the MBR of " + disk + " has no partition of type A5 or A9 (" +
               (types.empty() ? "it has none" : "it has " + types) +
               "), and the disk itself holds " + there + "; a UFS card needs an A9 partition with a BSD disk label and UFS1";
    }
    std::uint8_t label[SECTOR];
    if (!readAt(file, (static_cast<std::uint64_t>(start) + 1) * SECTOR, label, SECTOR) || !diskLabelValid(label, SECTOR)) {
        std::string there = fileSystemAt(file, static_cast<std::uint64_t>(start) * SECTOR);
        return there.empty() ? "" : "the BSD partition of " + disk + " (sector " + std::to_string(start) +
                                        ") has no valid disk label and holds " + there;
    }
    std::uint32_t first = diskLabelPartitionStart(label, 0);
    std::string there = fileSystemAt(file, static_cast<std::uint64_t>(first) * SECTOR);
    return there.empty() ? "" : "partition a of the disk label on " + disk + " (sector " + std::to_string(first) +
                                    ") holds " + there;
}

// "DSK2:" for a kernel directory "2:/" or "DSK2:/...", "" for any other.
std::string diskOf(const std::string& dir) {
    if (dir.size() >= 2 && std::isdigit(static_cast<unsigned char>(dir[0])) && dir[1] == ':') return "DSK" + dir.substr(0, 2);
    if (dir.size() >= 5 && std::isalpha(static_cast<unsigned char>(dir[0])) && std::isdigit(static_cast<unsigned char>(dir[3])) &&
        dir[4] == ':') {
        std::string name = dir.substr(0, 5);
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name;
    }
    return "";
}

std::uint64_t ramBytes(const sim::DeviceSettings& settings) {
    std::uint64_t total = 0;
    for (const sim::RamBank& bank : settings.effectiveRam()) total += bank.size;
    return total;
}

}  // namespace

std::vector<std::string> logTail(const std::string& log, std::size_t count) {
    std::vector<std::string> lines;
    std::size_t end = log.size();
    while (end > 0 && lines.size() < count) {
        std::size_t start = log.rfind('\n', end - 1);
        start = start == std::string::npos ? 0 : start + 1;
        std::string line = log.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        end = start > 0 ? start - 1 : 0;
        // The failing stage's own lines: an earlier stage's are not why it failed.
        if (line.rfind("[progress]", 0) == 0 && !lines.empty()) break;
        if (line.empty() || line.rfind("[progress]", 0) == 0 || line.rfind("Reg", 0) == 0 || line.rfind("CPSR", 0) == 0)
            continue;
        lines.insert(lines.begin(), line);
        if (start == 0) break;
    }
    return lines;
}

BootFailure explainFailure(const std::string& log, const std::string& box, const BootMenu& menu,
                           const sim::DeviceSettings& settings) {
    BootFailure failure;
    failure.lines = logTail(log, 3);
    std::string what = box;
    while (!what.empty() && (what.back() == '\n' || what.back() == '.')) what.pop_back();
    const std::string dir = text(menu.kernelDirectory);

    std::istringstream lines(log);
    std::string line, last;
    while (std::getline(lines, line)) {
        while (!line.empty() && line.back() == '\r') line.pop_back();
        // The HTTP backend's "GET http://host/name: status 404."
        if (std::size_t at = line.find(": status "); line.rfind("GET http://", 0) == 0 && at != std::string::npos) {
            int status = std::atoi(line.c_str() + at + 9);
            const char* phrase = reasonPhrase(status);
            std::string url = line.substr(4, at - 4);
            std::size_t path = url.find('/', 7);
            failure.cause = "the server answered " + std::to_string(status) + (*phrase ? " " : "") + phrase + " to GET " +
                            (path == std::string::npos ? url : url.substr(path)) + " at " + dir;
            return failure;
        }
        if (line.rfind("RAM has no ", 0) == 0) {
            unsigned pages = 0;
            std::sscanf(line.c_str(), "RAM has no %u", &pages);
            std::uint64_t have = ramBytes(settings) >> 20;
            std::uint64_t need = have + ((static_cast<std::uint64_t>(pages) * 4096 + (1u << 20) - 1) >> 20);
            failure.cause = "the kernel does not fit in the handheld's " + std::to_string(have) + " MB of RAM: " +
                            std::to_string(pages) + " more pages (" + std::to_string((pages * 4096ull + 1023) >> 10) +
                            " KB) are needed; try --ram " + std::to_string(need < 256 ? std::max<std::uint64_t>(need, have + 1) : 256);
            return failure;
        }
        // "destination 0xc0201008-0xc2826d8f is outside RAM (RAM: 0xc0000000-0xc1ffffff)."
        unsigned begin = 0, end = 0, base = 0, top = 0;
        if (std::size_t at = line.find("destination 0x"); at != std::string::npos &&
            std::sscanf(line.c_str() + at, "destination 0x%x-0x%x is outside RAM (RAM: 0x%x-0x%x)", &begin, &end, &base,
                        &top) == 4 &&
            end >= base) {
            std::uint64_t have = ramBytes(settings) >> 20;
            std::uint64_t need = ((static_cast<std::uint64_t>(end) - base) >> 20) + 1;
            failure.cause = "the kernel reaches past the handheld's " + std::to_string(have) + " MB of RAM: " + line.substr(at);
            if (need <= 256) failure.cause += " Try --ram " + std::to_string(need) + ".";
            return failure;
        }
        if (!line.empty() && line.rfind("[progress]", 0) != 0) last = line;
    }
    if (std::string disk = diskOf(dir); !disk.empty()) {
        auto image = settings.disks.find(wide(disk));
        if (image == settings.disks.end()) {
            failure.cause = "no disk " + disk + " for the kernel directory " + dir + " (give one with --disk " + disk + "=IMAGE)";
            return failure;
        }
        std::string problem = cardProblem(image->second.image, disk);
        if (!problem.empty()) {
            failure.cause = problem;
            return failure;
        }
        if (log.find("\" failed.") != std::string::npos) {
            failure.cause = "no file \"" + text(menu.kernelName) + "\" in the UFS file system on " + disk;
            return failure;
        }
    }
    failure.cause = what.empty() ? "the boot failed" : what;
    if (!last.empty() && last != box.substr(0, box.find('\n'))) failure.cause += ": " + last;
    // A kernel without headers is laid where it is told to be.
    if (last == "unknown file format.")
        failure.cause += " (neither ELF nor a zImage: a raw binary boots with --load-address ADDR)";
    return failure;
}

}  // namespace quorvel::app

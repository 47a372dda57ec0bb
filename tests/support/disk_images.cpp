// Disk images made by makefs and sfdisk, and BSD disk labels written here.
#include "support/disk_images.h"

#include <fstream>
#include <sstream>

#include "base/little_endian.h"
#include "support/child_process.h"

namespace testing_support {

namespace {

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

bool makeUfsImage(const std::filesystem::path& tree, const std::filesystem::path& image, std::string* failure,
                  const UfsImageOptions& options) {
    std::string settings = "version=1,bsize=" + std::to_string(options.blockSize) +
                           ",fsize=" + std::to_string(options.fragmentSize);
    std::vector<std::string> command = {"makefs", "-t", "ffs", "-B", "le", "-o", settings};
    if (options.freeBlocksPercent) {
        command.push_back("-b");
        command.push_back(std::to_string(options.freeBlocksPercent) + "%");
    }
    command.push_back(image.string());
    command.push_back(tree.string());
    ToolResult result = runTool(command);
    if (result.status != 0 && failure) *failure = result.output;
    return result.status == 0;
}

bool makeMbrDisk(const std::filesystem::path& image, std::uint32_t sectors, const std::vector<MbrPartition>& partitions,
                 std::string* failure) {
    {
        std::ofstream file(image, std::ios::binary | std::ios::trunc);
    }
    std::filesystem::resize_file(image, static_cast<std::uintmax_t>(sectors) * IMAGE_SECTOR);
    std::ostringstream script;
    script << "label: dos\nunit: sectors\n";
    for (const MbrPartition& p : partitions) {
        script << "start=" << p.start << ", size=" << p.sectors << ", type=" << std::hex << unsigned(p.type) << std::dec
               << "\n";
    }
    ToolResult result = runTool({"sfdisk", "--no-reread", "--no-tell-kernel", "-q", image.string()}, script.str());
    if (result.status != 0 && failure) *failure = result.output;
    return result.status == 0;
}

void sealBsdLabel(std::vector<std::uint8_t>& label) {
    std::size_t entries = quorvel::readLe16(label.data() + 138);
    put16(label, 136, 0);
    std::uint16_t sum = 0;
    std::size_t end = std::min<std::size_t>(148 + 16 * entries, label.size());
    for (std::size_t at = 0; at + 1 < end; at += 2) sum ^= quorvel::readLe16(label.data() + at);
    put16(label, 136, sum);
}

std::vector<std::uint8_t> bsdLabel(std::uint32_t diskSectors, const std::vector<LabelPartition>& partitions) {
    std::vector<std::uint8_t> label(IMAGE_SECTOR, 0);
    put32(label, 0, 0x82564557);           // d_magic
    put16(label, 4, 5);                    // d_type: SCSI
    std::string name = "quorvel-test";
    std::copy(name.begin(), name.end(), label.begin() + 8);
    put32(label, 40, IMAGE_SECTOR);        // d_secsize
    put32(label, 44, 63);                  // d_nsectors
    put32(label, 48, 16);                  // d_ntracks
    put32(label, 52, diskSectors / (63 * 16) + 1);
    put32(label, 56, 63 * 16);             // d_secpercyl
    put32(label, 60, diskSectors);         // d_secperunit
    put16(label, 72, 3600);                // d_rpm
    put16(label, 74, 1);                   // d_interleave
    put32(label, 132, 0x82564557);         // d_magic2
    put16(label, 138, static_cast<std::uint16_t>(partitions.size()));
    put32(label, 140, 8192);               // d_bbsize
    put32(label, 144, 8192);               // d_sbsize
    for (std::size_t i = 0; i < partitions.size() && 148 + 16 * (i + 1) <= label.size(); ++i) {
        std::size_t at = 148 + 16 * i;
        put32(label, at, partitions[i].sectors);
        put32(label, at + 4, partitions[i].offset);
        if (partitions[i].fsType == 7) {
            put32(label, at + 8, 512);     // p_fsize
            label[at + 13] = 8;            // p_frag
        }
        label[at + 12] = partitions[i].fsType;
    }
    sealBsdLabel(label);
    return label;
}

void writeAt(const std::filesystem::path& image, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    std::fstream file(image, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> readAt(const std::filesystem::path& image, std::uint64_t offset, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::ifstream file(image, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

void copyInto(const std::filesystem::path& image, std::uint32_t sector, const std::filesystem::path& source) {
    std::ifstream in(source, std::ios::binary);
    std::fstream out(image, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(sector) * IMAGE_SECTOR);
    out << in.rdbuf();
}

std::string partxShow(const std::filesystem::path& image) {
    return runTool({"partx", "--show", "--noheadings", "--output", "START,SECTORS,TYPE", image.string()}).output;
}

}  // namespace testing_support

// Raw binaries and zImages: the whole file is one piece at the load address.
#include "loader/raw_loader.h"

#include <algorithm>

#include "console/console.h"
#include "file/file_manager.h"
#include "memory/memory_manager.h"

namespace quorvel {

namespace {

constexpr std::uint32_t MB = 0x100000;
// A zImage's header words behind the magic: its start and end, an endianness mark, and
// (from Linux 3.17 on) a second mark and the offset of a table of sizes.
constexpr std::uint32_t ZIMAGE_ENDIAN_OFFSET = 0x30;
constexpr std::uint32_t ZIMAGE_ENDIAN_MARK = 0x04030201;
constexpr std::uint32_t ZIMAGE_TABLE_MARK = 0x45454545;
constexpr std::uint32_t ZIMAGE_SIZE_TAG = 0x5A534C4B;  // "KLSZ"
// The kernel's first-level page table lies 16 KB below its text.
constexpr std::uint32_t PAGE_TABLE_SIZE = 0x4000;
// Stack and slack the decompressor takes beyond its own size and heap.
constexpr std::uint32_t DECOMPRESSOR_SLACK = 0x10000;
// Without a table of sizes, a zImage is taken to inflate to at most this many times
// its size.
constexpr std::uint32_t ZIMAGE_EXPANSION = 5;

std::uint64_t roundUpTo(std::uint64_t n, std::uint64_t granule) { return (n + granule - 1) / granule * granule; }

}  // namespace

RawLoader::RawLoader(Console*& consoleIn, MemoryManager*& memoryManagerIn, RawKind kindIn, std::uint32_t loadAddressIn,
                     std::uint32_t entryIn)
    : Loader(consoleIn, memoryManagerIn), kind(kindIn), loadAddress(loadAddressIn), entry(entryIn) {
    console().print(kind == RawKind::ZImage ? u"Loader: zImage\n" : u"Loader: raw binary\n");
}

int RawLoader::attachFile(FileManager*& fileManagerSlot) {
    Loader::attachFile(fileManagerSlot);
    // A gzip front gives the length from where it stands: the probe has read on.
    std::uint8_t none;
    if (fileManager().read(&none, 0, 0) < 0) {
        console().print(u"can't read the kernel.\n");
        return 0;
    }
    size = fileManager().size();
    if (size == SIZE_UNKNOWN || size == 0) {
        console().print(u"can't get the size of the kernel.\n");
        return 0;
    }
    if (size > 0x7FFFFFFFu || std::uint64_t{loadAddress} + size > 0x100000000ull) {
        console().print(u"kernel of 0x%x bytes does not fit at 0x%08x.\n", size, loadAddress);
        return 0;
    }
    console().print(u"load address 0x%08x, 0x%x bytes\n", loadAddress, size);
    const std::uint64_t end = std::uint64_t{loadAddress} + size;
    if (kind == RawKind::ZImage) {
        measureZImage();
    } else {
        // A raw kernel's bss follows its file, of a size nothing tells: keep as much
        // again clear, and at least 1 MB.
        clear = {static_cast<std::uint32_t>(end), roundUpTo(end + std::max<std::uint32_t>(size, MB), MB)};
    }
    if (clear.end > 0x100000000ull) clear.end = 0x100000000ull;
    return 1;
}

// The decompressed kernel goes to the 128 MB boundary below the zImage plus its text
// offset; where it would overwrite the zImage, the decompressor first moves itself
// above it. Both must stay clear of the image and of everything Windows CE's pool
// hands over.
void RawLoader::measureZImage() {
    std::uint32_t words[3] = {};
    std::uint32_t kernelEnd = 0;
    std::uint32_t heap = 0;
    std::uint64_t text = (loadAddress & 0xF8000000u) + std::uint64_t{ZIMAGE_RAM_OFFSET};
    if (readExactly(words, sizeof words, ZIMAGE_ENDIAN_OFFSET) && words[0] == ZIMAGE_ENDIAN_MARK &&
        words[1] == ZIMAGE_TABLE_MARK && words[2] < size) {
        // Entries of (length in words, tag, data...), ended by a length of 0.
        std::uint32_t at = words[2];
        for (int n = 0; n < 16; ++n) {
            std::uint32_t head[2] = {};
            if (!readExactly(head, sizeof head, at) || head[0] < 2 || head[0] > 64) break;
            if (head[1] == ZIMAGE_SIZE_TAG && head[0] >= 6) {
                std::uint32_t table[4] = {};  // size word's offset, bss size, text offset, heap size
                std::uint32_t inflated = 0;
                if (readExactly(table, sizeof table, at + 8) && table[0] < size && readExactly(&inflated, 4, table[0])) {
                    text = (loadAddress & 0xF8000000u) + std::uint64_t{table[2]};
                    const std::uint64_t end = text + inflated + table[1];
                    if (end < 0x100000000ull) kernelEnd = static_cast<std::uint32_t>(end);
                    heap = table[3];
                    console().print(u"zImage: kernel 0x%x bytes and bss 0x%x at 0x%08x\n", inflated, table[1],
                                    static_cast<std::uint32_t>(text));
                }
                break;
            }
            at += head[0] * 4;
        }
    }
    const std::uint64_t end = std::uint64_t{loadAddress} + size;
    std::uint64_t reach;
    if (kernelEnd != 0) {
        reach = std::max<std::uint64_t>(end, kernelEnd) + size + heap + DECOMPRESSOR_SLACK;
    } else {
        console().print(u"zImage: no table of sizes; taking %d times its size as the kernel's.\n", ZIMAGE_EXPANSION);
        reach = end + std::uint64_t{size} * ZIMAGE_EXPANSION;
    }
    clear = {static_cast<std::uint32_t>(end), roundUpTo(reach, MB)};
    // The page table and the kernel, from the 16 KB below its text.
    const std::uint64_t inflatedEnd = kernelEnd != 0 ? kernelEnd : text + std::uint64_t{size} * ZIMAGE_EXPANSION;
    if (text >= PAGE_TABLE_SIZE) kernel = {static_cast<std::uint32_t>(text - PAGE_TABLE_SIZE), inflatedEnd};
}

std::uint32_t RawLoader::neededMemory() {
    const std::uint32_t page = memoryManager().pageSize;
    const std::uint64_t total = roundUpTo(size, page) + (page - 16);
    console().print(u"file size: 0x%x+[extra: 0x%x] = 0x%x bytes\n", size, page - 16, static_cast<std::uint32_t>(total));
    return static_cast<std::uint32_t>(total);
}

int RawLoader::load() {
    startLinks();
    console().print(u"seg[0] paddr 0x%08x file size 0x%x mem size 0x%x\n", loadAddress, size, size);
    loadSegment(loadAddress, size, 0, size);
    if (!error && !endsCleanly()) error = true;
    // The image goes above what the kernel will write itself.
    if (clear.end > clear.start) endAddress = static_cast<std::uint32_t>(std::min<std::uint64_t>(clear.end, 0xFFFFF000u));
    return error ? 0 : 1;
}

std::uint32_t RawLoader::entryAddress() {
    console().print(u"kernel entry address: 0x%08x\n", entry);
    return entry;
}

std::vector<AddressRange> RawLoader::destinations(std::uint32_t imageBytes) {
    std::vector<AddressRange> ranges;
    // What the decompressed kernel and its page table take below the zImage, which
    // `clear` (above it) does not hold.
    if (kind == RawKind::ZImage && kernel.start < loadAddress)
        ranges.push_back({kernel.start, std::min<std::uint64_t>(kernel.end, loadAddress)});
    ranges.push_back({loadAddress, std::uint64_t{loadAddress} + size});
    if (!clear.empty()) ranges.push_back(clear);
    if (imageBytes > 0) {
        const std::uint64_t at = roundUpTo(std::max<std::uint64_t>(clear.end, std::uint64_t{loadAddress} + size), IMAGE_ALIGNMENT);
        ranges.push_back({static_cast<std::uint32_t>(at), at + imageBytes});
    }
    return ranges;
}

const ce::WCHAR* RawLoader::linuxMark() {
    return kind == RawKind::ZImage ? u"a zImage (magic word 0x016F2818 at offset 0x24)" : nullptr;
}

}  // namespace quorvel

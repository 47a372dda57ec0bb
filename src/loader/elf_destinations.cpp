// Where an ELF kernel, its symbols and the image behind them will be placed: the same
// arithmetic as load() and loadFileSystemImage(), done before any page is taken.
#include "loader/elf_loader.h"

#include <cstring>

namespace quorvel {

std::vector<AddressRange> ElfLoader::destinations(std::uint32_t imageBytes) {
    std::vector<AddressRange> ranges;
    std::uint64_t kernelEnd = 0;
    std::uint32_t end = 0;  // endAddress as the loader will leave it
    for (int i = 0; programHeaders && i < header.e_phnum; ++i) {
        Elf32Phdr ph;
        std::memcpy(&ph, programHeaders.get() + static_cast<std::size_t>(i) * sizeof ph, sizeof ph);
        if (ph.p_type != PT_LOAD) continue;
        // A file part longer than the memory size is loaded whole.
        const std::uint32_t length = ph.p_filesz > ph.p_memsz ? ph.p_filesz : ph.p_memsz;
        ranges.push_back({ph.p_paddr, std::uint64_t{ph.p_paddr} + length});
        kernelEnd = ph.p_paddr + ((std::uint64_t{ph.p_memsz} + 3) & ~std::uint64_t{3});
        end = ph.p_paddr + ph.p_memsz;
    }
    if (symbolsReady && strtabHeader) {
        const std::uint64_t area = std::uint64_t{strtabHeader->sh_offset} + strtabHeader->sh_size;
        // load() drops the symbols when they do not fit below 4 GiB.
        if (kernelEnd + area <= 0x100000000ull) {
            ranges.push_back({static_cast<std::uint32_t>(kernelEnd), kernelEnd + area});
            end = static_cast<std::uint32_t>(kernelEnd + area);
        }
    }
    if (imageBytes > 0) {
        const std::uint32_t at = (end + IMAGE_ALIGNMENT - 1) & ~(IMAGE_ALIGNMENT - 1);
        ranges.push_back({at, std::uint64_t{at} + imageBytes});
    }
    std::erase_if(ranges, [](const AddressRange& range) { return range.empty(); });
    return ranges;
}

}  // namespace quorvel

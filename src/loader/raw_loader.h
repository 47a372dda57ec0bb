// The loader for kernels without headers of their own that say where they go: a raw
// binary laid at a load address given by the user, and Linux's zImage, laid at RAM
// base + 0x8000 unless told otherwise. Either is entered at its load address unless
// another entry is given.
#pragma once

#include <cstdint>

#include "loader/loader.h"

namespace quorvel {

// Where a zImage goes by default: this far into the first RAM bank, where Linux's own
// boot loaders put it.
constexpr std::uint32_t ZIMAGE_RAM_OFFSET = 0x8000;

enum class RawKind { Binary, ZImage };

class RawLoader : public Loader {
public:
    RawLoader(Console*& consoleSlot, MemoryManager*& memoryManagerSlot, RawKind kind, std::uint32_t loadAddress,
              std::uint32_t entry);

    int attachFile(FileManager*& fileManagerSlot) override;
    std::uint32_t neededMemory() override;
    int load() override;
    std::uint32_t entryAddress() override;
    std::vector<AddressRange> destinations(std::uint32_t imageBytes) override;
    const ce::WCHAR* linuxMark() override;

    // The memory the kernel itself will still write once entered, beyond its file: a
    // zImage's decompressed kernel and the decompressor it moves out of the way, a raw
    // binary's bss. The image is placed above it, the pool kept out of it.
    AddressRange keptClear() const { return clear; }

private:
    void measureZImage();

    RawKind kind;
    std::uint32_t loadAddress;
    std::uint32_t entry;
    std::uint32_t size = 0;
    AddressRange clear{};
    AddressRange kernel{};  // a zImage's inflated kernel with its page table
};

}  // namespace quorvel

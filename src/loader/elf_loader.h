// The loader for 32-bit little-endian ARM ELF kernels, with the kernel's symbols
// appended behind it as a small ELF image of their own (the ksyms area).
#pragma once

#include <cstdint>
#include <memory>

#include "loader/elf.h"
#include "loader/loader.h"

namespace quorvel {

constexpr int ELF_PROGRAM_HEADER_MAX = 16;

// Nothing a handheld loads comes near this; it keeps every size sum inside 32 bits.
constexpr std::uint32_t KERNEL_SIZE_LIMIT = 0x40000000;

class ElfLoader : public Loader {
public:
    ElfLoader(Console*& consoleSlot, MemoryManager*& memoryManagerSlot);
    ~ElfLoader() override;

    int attachFile(FileManager*& fileManagerSlot) override;
    std::uint32_t neededMemory() override;
    int load() override;
    std::uint32_t entryAddress() override;
    std::vector<AddressRange> destinations(std::uint32_t imageBytes) override;
    const ce::WCHAR* linuxMark() override;

    int checkHeader();
    // Bytes of the ksyms area, 0 when there is none.
    std::uint32_t prepareSymbolBlock();
    void loadSymbolBlock(std::uint32_t kernelEnd);

    Elf32Ehdr header = {};
    std::unique_ptr<std::uint8_t[]> programHeaders;
    std::unique_ptr<std::uint8_t[]> sectionHeaders;
    bool symbolsReady = false;
    std::unique_ptr<std::uint8_t[]> symbolBlock;
    std::uint32_t symbolBlockSize = 0;
    Elf32Shdr* strtabHeader = nullptr;
    std::uint32_t strtabOffset = 0;
    Elf32Shdr* symtabHeader = nullptr;
    std::uint32_t symtabOffset = 0;

private:
    Elf32Phdr programHeader(int i) const;
    Elf32Shdr sectionHeader(int i) const;
    int readTables();
    int checkSegments();
    std::uint32_t withoutSymbols(const ce::WCHAR* reason);
    void dropSymbolBlock();
    void warn(const ce::WCHAR* text, const ce::WCHAR* caption, ce::UINT type);
};

}  // namespace quorvel

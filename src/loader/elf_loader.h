// The loader for 32-bit little-endian ARM ELF kernels, with the kernel's symbols
// appended behind it as a small ELF image of their own.
#pragma once

#include <cstdint>

#include "loader/elf.h"
#include "loader/loader.h"

namespace quorvel {

class ElfLoader : public Loader {
public:
    ElfLoader(Console*& consoleSlot, MemoryManager*& memoryManagerSlot);
    ~ElfLoader() override;

    int attachFile(FileManager*& fileManagerSlot) override;
    std::uint32_t neededMemory() override;
    int load() override;
    std::uint32_t entryAddress() override;

    int checkHeader();
    std::uint32_t prepareSymbolBlock();
    void loadSymbolBlock(std::uint32_t kernelEnd);

    Elf32Ehdr header = {};
    std::uint8_t* programHeaders = nullptr;
    std::uint8_t* sectionHeaders = nullptr;
    bool symbolsReady = false;
    std::uint8_t* symbolBlock = nullptr;
    std::uint32_t symbolBlockSize = 0;
    Elf32Shdr* strtabHeader = nullptr;
    std::uint32_t strtabOffset = 0;
    Elf32Shdr* symtabHeader = nullptr;
    std::uint32_t symtabOffset = 0;
};

}  // namespace quorvel

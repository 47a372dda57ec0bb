// The placeholder loader for COFF kernels with an a.out optional header: it refuses
// every file, but lays text, data and bss out as a COFF kernel would be.
#pragma once

#include <cstdint>

#include "loader/loader.h"

namespace quorvel {

struct CoffFileHeader {
    std::uint16_t f_magic;
    std::uint16_t f_nscns;
    std::uint32_t f_timdat;
    std::uint32_t f_symptr;
    std::uint32_t f_nsyms;
    std::uint16_t f_opthdr;
    std::uint16_t f_flags;
};
static_assert(sizeof(CoffFileHeader) == 20);

struct CoffAoutHeader {
    std::int16_t magic;
    std::int16_t vstamp;
    std::uint32_t tsize;
    std::uint32_t dsize;
    std::uint32_t bsize;
    std::uint32_t entry;
    std::uint32_t text_start;
    std::uint32_t data_start;
};
static_assert(sizeof(CoffAoutHeader) == 28);

constexpr std::uint32_t COFF_SECTION_HEADER_SIZE = 40;

class CoffLoader : public Loader {
public:
    CoffLoader(Console*& consoleSlot, MemoryManager*& memoryManagerSlot);

    int attachFile(FileManager*& fileManagerSlot) override;
    std::uint32_t neededMemory() override;
    int load() override;
    std::uint32_t entryAddress() override;

    // Where the text starts in the file, from the header sizes and version stamp.
    std::uint32_t textFileOffset() const;

    alignas(4) std::uint8_t headerArea[sizeof(CoffFileHeader) + sizeof(CoffAoutHeader)] = {};
    CoffFileHeader* fileHeader;
    CoffAoutHeader* aoutHeader;
};

}  // namespace quorvel

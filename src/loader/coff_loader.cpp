// The COFF kernel loader placeholder: refuses every file, but knows the layout.
#include "loader/coff_loader.h"

#include "console/console.h"

namespace quorvel {

namespace {

std::uint32_t roundUp(std::uint32_t n, std::uint32_t multiple) { return (n + multiple - 1) / multiple * multiple; }

}  // namespace

CoffLoader::CoffLoader(Console*& consoleIn, MemoryManager*& memoryManagerIn)
    : Loader(consoleIn, memoryManagerIn),
      fileHeader(reinterpret_cast<CoffFileHeader*>(headerArea)),
      aoutHeader(reinterpret_cast<CoffAoutHeader*>(headerArea + sizeof(CoffFileHeader))) {
    console().print(u"Loader: COFF\n");
}

int CoffLoader::attachFile(FileManager*& fileManagerSlot) {
    Loader::attachFile(fileManagerSlot);
    console().print(u"coff loader not implemented.\n");
    return 0;
}

std::uint32_t CoffLoader::neededMemory() {
    const std::uint32_t sum = aoutHeader->tsize + aoutHeader->dsize;
    console().print(u"file size: text 0x%x + data 0x%x = 0x%x byte\n", aoutHeader->tsize, aoutHeader->dsize, sum);
    return sum;
}

std::uint32_t CoffLoader::textFileOffset() const {
    const std::uint32_t headers = std::uint32_t{fileHeader->f_nscns} * COFF_SECTION_HEADER_SIZE + fileHeader->f_opthdr +
                                  sizeof(CoffFileHeader);
    // Older version stamps align the text to 8 bytes, newer ones to 16; either way the
    // result is then taken to a 16-byte boundary.
    const std::uint32_t aligned = roundUp(headers, aoutHeader->vstamp < 23 ? 8 : 16);
    return roundUp(aligned, 16);
}

int CoffLoader::load() {
    startLinks();
    const std::uint32_t textOffset = textFileOffset();
    console().print(u"[text]");
    loadSegment(aoutHeader->text_start, aoutHeader->tsize, textOffset, aoutHeader->tsize);
    console().print(u"[data]");
    loadSegment(aoutHeader->data_start, aoutHeader->dsize, textOffset + aoutHeader->tsize, aoutHeader->dsize);
    console().print(u"[bss ]");
    loadSegment(aoutHeader->data_start + aoutHeader->dsize, aoutHeader->bsize, 0, 0);
    return error ? 0 : 1;
}

std::uint32_t CoffLoader::entryAddress() {
    console().print(u"kernel entry address: 0x%08x\n", aoutHeader->entry);
    return aoutHeader->entry;
}

}  // namespace quorvel

// The COFF kernel loader placeholder.
#include "loader/coff_loader.h"

namespace quorvel {

CoffLoader::CoffLoader(Console*& consoleSlot, MemoryManager*& memoryManagerSlot)
    : Loader(consoleSlot, memoryManagerSlot),
      fileHeader(reinterpret_cast<CoffFileHeader*>(headerArea)),
      aoutHeader(reinterpret_cast<CoffAoutHeader*>(headerArea + sizeof(CoffFileHeader))) {}

int CoffLoader::attachFile(FileManager*&) { return 0; }
std::uint32_t CoffLoader::neededMemory() { return 0; }
int CoffLoader::load() { return 0; }
std::uint32_t CoffLoader::entryAddress() { return aoutHeader->entry; }
std::uint32_t CoffLoader::textFileOffset() const { return 0; }

}  // namespace quorvel

// The ELF kernel loader.
#include "loader/elf_loader.h"

namespace quorvel {

ElfLoader::ElfLoader(Console*& consoleSlot, MemoryManager*& memoryManagerSlot)
    : Loader(consoleSlot, memoryManagerSlot) {}

ElfLoader::~ElfLoader() {
    delete[] symbolBlock;
    delete[] programHeaders;
    delete[] sectionHeaders;
}

int ElfLoader::attachFile(FileManager*& fileManagerSlot) { return Loader::attachFile(fileManagerSlot); }
std::uint32_t ElfLoader::neededMemory() { return 0; }
int ElfLoader::load() { return 0; }
std::uint32_t ElfLoader::entryAddress() { return header.e_entry; }
int ElfLoader::checkHeader() { return 0; }
std::uint32_t ElfLoader::prepareSymbolBlock() { return 0; }
void ElfLoader::loadSymbolBlock(std::uint32_t) {}

}  // namespace quorvel

// The loader base.
#include "loader/loader.h"

namespace quorvel {

Loader::Loader(Console*& consoleSlot, MemoryManager*& memoryManagerSlot)
    : consoleSlot(consoleSlot), memoryManagerSlot(memoryManagerSlot) {}

int Loader::attachFile(FileManager*& fileManagerSlot) {
    file = &fileManagerSlot;
    return 1;
}

int Loader::probeFormat(FileManager&) { return 0; }
int Loader::loadFileSystemImage() { return 0; }
void Loader::finishLinks() {}
void Loader::startLinks() {}
void Loader::loadSegment(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void Loader::loadMemory(std::uint32_t, std::uint32_t, const void*) {}
std::uint32_t Loader::loadChunk(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t link) { return link; }

}  // namespace quorvel

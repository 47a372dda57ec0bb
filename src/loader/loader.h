// The loader base: recognises the kernel format and lays file ranges and memory
// buffers into pool pages, chaining a PageLink for every piece.
#pragma once

#include <cstdint>
#include <vector>

#include "loader/page_link.h"
#include "memory/address_range.h"
#include "platform/types.h"

namespace quorvel {

class Console;
class FileManager;
class MemoryManager;

// The file-system image is placed on this boundary above the kernel, whatever the
// pool's page size.
constexpr std::uint32_t IMAGE_ALIGNMENT = 4096;

// What a kernel file's first bytes show it to be; the values are the probe's numbers.
// A zImage is Linux's self-decompressing ARM kernel, known by its magic word.
enum class LoaderFormat : int { Unknown = 0, Elf = 1, Coff = 2, ZImage = 3 };

constexpr std::uint32_t ZIMAGE_MAGIC_OFFSET = 0x24;
constexpr std::uint32_t ZIMAGE_MAGIC = 0x016F2818;

class Loader {
public:
    Loader(Console*& consoleSlot, MemoryManager*& memoryManagerSlot);
    virtual ~Loader() = default;
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    virtual int attachFile(FileManager*& fileManagerSlot);
    virtual std::uint32_t neededMemory() = 0;
    virtual int load() = 0;
    virtual std::uint32_t entryAddress() = 0;
    // Where load() and then loadFileSystemImage() with an image of imageBytes will
    // place data, as far as the headers read so far tell; valid after neededMemory().
    virtual std::vector<AddressRange> destinations(std::uint32_t /*imageBytes*/) { return {}; }
    // What shows the attached kernel to be Linux (for the log), or null when nothing does.
    virtual const ce::WCHAR* linuxMark() { return nullptr; }

    static LoaderFormat probeFormat(FileManager& file);
    int loadFileSystemImage();
    void finishLinks();
    std::uint32_t linkHead() const { return headPaddr; }

    // Where loadFileSystemImage placed the image, and its size (0 when it placed none).
    std::uint32_t imageStart = 0;
    std::uint32_t imageSize = 0;

    int loadLinkCount = 0;
    int zeroLinkCount = 0;
    std::uint32_t endAddress = 0;

    // From the boot options, set by whoever makes the loader: the owner of its message
    // boxes, and whether a kernel without symbols is worth a box.
    ce::HWND messageOwner = nullptr;
    ce::BOOL safetyMessage = ce::FALSE;

protected:
    void startLinks();
    void loadSegment(std::uint32_t dst, std::uint32_t memSize, std::uint32_t fileOffset, std::uint32_t fileSize);
    void loadMemory(std::uint32_t dst, std::uint32_t size, const void* buffer);
    std::uint32_t loadChunk(std::uint32_t dst, std::uint32_t fileOffset, std::uint32_t size, std::uint32_t link);

    // Reads exactly `length` bytes at `offset`; false for a short read or an error.
    // What such reads reach is where the data is known to go at least.
    bool readExactly(void* buffer, std::uint32_t length, std::uint32_t offset);
    // Whether the data reaches `end`, learnt by reading its last byte unless an earlier
    // read went that far.
    bool reaches(std::uint64_t end);
    bool stillSound();
    // Reads on from the furthest byte read to the end of the data: true when the data
    // ends there cleanly, false when it ends in an error (a gzip file's check
    // failing, a read error). Data used from a file that does not end cleanly may be
    // wrong.
    bool endsCleanly();

    // Console and memory manager as the boot context holds them now.
    Console& console() const { return *consoleSlot; }
    MemoryManager& memoryManager() const { return *memoryManagerSlot; }
    FileManager& fileManager() const { return **file; }
    bool hasHead() const { return current != 0; }

    std::uint32_t current = 0;
    std::uint32_t previous = 0;
    std::uint32_t spareVaddr = 0;
    std::uint32_t sparePaddr = 0;
    std::uint32_t chunkSize = 0;
    bool error = false;
    Console*& consoleSlot;
    MemoryManager*& memoryManagerSlot;
    FileManager** file = nullptr;  // the boot context's file-manager slot
    std::uint32_t headPaddr = 0;
    std::uint32_t dataSeen = 0;  // the data is known to reach this offset
};

}  // namespace quorvel

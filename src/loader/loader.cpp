// The loader base: the format probe and the PageLink list builder.
#include "loader/loader.h"

#include <cstring>

#include "console/console.h"
#include "file/file_manager.h"
#include "memory/memory_manager.h"
#include "platform/address.h"

namespace quorvel {

namespace {

constexpr std::uint32_t LINK_SIZE = sizeof(PageLink);

// Offsets are signed in the file interface, so nothing beyond this can be read.
constexpr std::uint64_t READABLE_END = 0x80000000u;
constexpr std::uint32_t SCRATCH_SIZE = 4096;

void writeLink(std::uint32_t vaddr, std::uint32_t next, std::uint32_t src, std::uint32_t dst, std::uint32_t size) {
    const PageLink link{.next = next, .src = src, .dst = dst, .size = size};
    std::memcpy(ce::pointerAt(vaddr), &link, sizeof link);
}

// The second-stage loader copies whole words, so the bytes up to the next word
// boundary behind a piece reach the destination too: make them zeros.
void clearTail(std::uint32_t dataVaddr, std::uint32_t size) {
    const std::uint32_t rest = (4 - (size & 3)) & 3;
    std::memset(ce::pointerAt(dataVaddr) + size, 0, rest);
}

void writeNext(std::uint32_t vaddr, std::uint32_t next) {
    std::memcpy(ce::pointerAt(vaddr) + offsetof(PageLink, next), &next, sizeof next);
}

}  // namespace

Loader::Loader(Console*& consoleIn, MemoryManager*& memoryManagerIn)
    : consoleSlot(consoleIn), memoryManagerSlot(memoryManagerIn) {}

int Loader::attachFile(FileManager*& fileManagerSlot) {
    file = &fileManagerSlot;
    dataSeen = 0;
    return 1;
}

bool Loader::readExactly(void* buffer, std::uint32_t length, std::uint32_t offset) {
    if (std::uint64_t{offset} + length > READABLE_END) return false;
    const std::int32_t got = fileManager().read(buffer, length, static_cast<std::int32_t>(offset));
    if (got < 0 || static_cast<std::uint32_t>(got) != length || !stillSound()) return false;
    if (offset + length > dataSeen) dataSeen = offset + length;
    return true;
}

// A read may deliver all it was asked for and find the data bad behind its last byte
// (a gzip member's check): reading nothing then fails, and the bytes are not to be used.
bool Loader::stillSound() {
    std::uint8_t none;
    return fileManager().read(&none, 0, -1) >= 0;
}

bool Loader::reaches(std::uint64_t end) {
    if (end <= dataSeen) return true;
    if (end > READABLE_END) return false;
    std::uint8_t last;
    return readExactly(&last, 1, static_cast<std::uint32_t>(end - 1));
}

bool Loader::endsCleanly() {
    std::uint8_t scratch[SCRATCH_SIZE];
    std::uint32_t at = dataSeen;
    std::int32_t got = fileManager().read(scratch, sizeof scratch, static_cast<std::int32_t>(at));
    while (got > 0) {
        at += static_cast<std::uint32_t>(got);
        got = fileManager().read(scratch, sizeof scratch, -1);
    }
    if (got < 0) {
        console().print(u"read error after file offset 0x%x: the data does not end cleanly.\n", at);
        return false;
    }
    return true;
}

LoaderFormat Loader::probeFormat(FileManager& file) {
    std::uint8_t head[52] = {};
    const std::int32_t got = file.read(head, sizeof head, 0);
    if (got < 4) return LoaderFormat::Unknown;
    if (head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') return LoaderFormat::Elf;
    std::uint32_t magic = 0;
    if (got >= static_cast<std::int32_t>(ZIMAGE_MAGIC_OFFSET + 4)) std::memcpy(&magic, head + ZIMAGE_MAGIC_OFFSET, 4);
    return magic == ZIMAGE_MAGIC ? LoaderFormat::ZImage : LoaderFormat::Unknown;
}

void Loader::startLinks() {
    error = false;
    loadLinkCount = 0;
    zeroLinkCount = 0;
    chunkSize = memoryManager().pageSize - LINK_SIZE;
    current = previous = 0;
    headPaddr = 0;

    std::uint32_t dataVaddr, dataPaddr, linkVaddr, linkPaddr;
    if (!memoryManager().takeLinkedPage(dataVaddr, dataPaddr, linkVaddr, linkPaddr)) {
        error = true;
        return;
    }
    headPaddr = linkPaddr;
    current = linkVaddr;
    spareVaddr = linkVaddr + LINK_SIZE;
    sparePaddr = linkPaddr + LINK_SIZE;
}

std::uint32_t Loader::loadChunk(std::uint32_t dst, std::uint32_t fileOffset, std::uint32_t size, std::uint32_t link) {
    std::uint32_t dataVaddr, dataPaddr, linkVaddr, linkPaddr;
    if (!memoryManager().takeLinkedPage(dataVaddr, dataPaddr, linkVaddr, linkPaddr)) {
        error = true;
        return link;
    }
    // A short read means a truncated or corrupt kernel: placing it would boot garbage.
    const std::int32_t got = std::uint64_t{fileOffset} + size > READABLE_END
                                 ? -1
                                 : fileManager().read(ce::pointerAt(dataVaddr), size, static_cast<std::int32_t>(fileOffset));
    if (got < 0 || static_cast<std::uint32_t>(got) != size || !stillSound()) {
        console().print(u"read error at file offset 0x%x (%d of %d bytes).\n", fileOffset, got, size);
        error = true;
    } else if (fileOffset + size > dataSeen) {
        dataSeen = fileOffset + size;
    }
    clearTail(dataVaddr, size);
    writeLink(link, linkPaddr, dataPaddr, dst, size);
    return linkVaddr;
}

void Loader::loadSegment(std::uint32_t dst, std::uint32_t memSize, std::uint32_t fileOffset, std::uint32_t fileSize) {
    console().print(u"\t->load 0x%08x+0x%08x=0x%08x ofs=0x%08x+0x%x\n", dst, memSize, dst + memSize, fileOffset, fileSize);
    endAddress = dst + memSize;
    // Without a head page, or once a piece has failed, nothing more is placed.
    if (!hasHead() || error) return;

    std::uint32_t to = dst;
    std::uint32_t from = fileOffset;
    std::uint32_t left = fileSize;
    while (left > 0 && !error) {
        const std::uint32_t n = left < chunkSize ? left : chunkSize;
        const std::uint32_t open = current;
        const std::uint32_t next = loadChunk(to, from, n, current);
        if (next == open) break;  // no page: nothing was written
        previous = open;
        current = next;
        ++loadLinkCount;
        to += n;
        from += n;
        left -= n;
    }
    if (error) return;

    if (fileSize < memSize) {
        std::uint32_t zeroDst = dst + fileSize;
        std::uint32_t zeroSize = memSize - fileSize;
        // Words are stored whole, at word addresses: a clear starting inside the last
        // copied word would wipe the bytes just copied there. The copy already wrote
        // zeros up to the boundary, so the clear starts at it.
        const std::uint32_t gap = (4 - (zeroDst & 3)) & 3;
        if (fileSize > 0 && (dst & 3) == 0 && gap != 0) {
            if (zeroSize <= gap) return;
            zeroDst += gap;
            zeroSize -= gap;
        }
        writeLink(current, sparePaddr, PAGE_LINK_ZERO, zeroDst, zeroSize);
        console().print(u"\t->zero 0x%08x+0x%08x=0x%08x\n", zeroDst, zeroSize, zeroDst + zeroSize);
        previous = current;
        current = spareVaddr;
        spareVaddr += LINK_SIZE;
        sparePaddr += LINK_SIZE;
        ++zeroLinkCount;
    }
}

void Loader::loadMemory(std::uint32_t dst, std::uint32_t size, const void* buffer) {
    console().print(u"\t->load 0x%08x+0x%08x=0x%08x\n", dst, size, dst + size);
    endAddress = dst + size;
    if (!hasHead() || error) return;

    const auto* from = static_cast<const std::uint8_t*>(buffer);
    std::uint32_t to = dst;
    std::uint32_t left = size;
    while (left > 0) {
        std::uint32_t dataVaddr, dataPaddr, linkVaddr, linkPaddr;
        if (!memoryManager().takeLinkedPage(dataVaddr, dataPaddr, linkVaddr, linkPaddr)) {
            error = true;
            return;
        }
        const std::uint32_t n = left < chunkSize ? left : chunkSize;
        std::memcpy(ce::pointerAt(dataVaddr), from, n);
        clearTail(dataVaddr, n);
        writeLink(current, linkPaddr, dataPaddr, to, n);
        previous = current;
        current = linkVaddr;
        ++loadLinkCount;
        from += n;
        to += n;
        left -= n;
    }
}

int Loader::loadFileSystemImage() {
    // A gzip image whose data proved bad, or a file whose size cannot be had, has no
    // length: reading "that many" bytes would place the wrong amount.
    const std::uint32_t size = fileManager().size();
    console().print(u"[file system image]\n");
    if (size == SIZE_UNKNOWN) {
        console().print(u"file system image size unknown.\n");
        return 0;
    }
    // The image must end inside the 32-bit physical space, or its addresses wrap; file
    // offsets are signed, so larger images cannot be read at all.
    const std::uint64_t dst = (static_cast<std::uint64_t>(endAddress) + IMAGE_ALIGNMENT - 1) & ~std::uint64_t{IMAGE_ALIGNMENT - 1};
    if (size > 0x7FFFFFFFu || dst + size > 0x100000000ull) {
        console().print(u"file system image of 0x%x bytes does not fit above 0x%08x.\n", size, endAddress);
        return 0;
    }
    dataSeen = 0;
    loadSegment(static_cast<std::uint32_t>(dst), size, 0, size);
    if (error) return 0;
    imageStart = static_cast<std::uint32_t>(dst);
    imageSize = size;
    // The image is used only if its data ends where its size said, and cleanly: the
    // last check of a gzip image comes after its last byte.
    std::uint8_t more;
    const std::int32_t beyond = fileManager().read(&more, 1, static_cast<std::int32_t>(size));
    if (beyond > 0) console().print(u"file system image is longer than 0x%x bytes.\n", size);
    if (beyond < 0) console().print(u"read error after file offset 0x%x: the data does not end cleanly.\n", size);
    return beyond == 0 ? 1 : 0;
}

void Loader::finishLinks() {
    // Before any entry is written there is nothing to terminate (and no address 0 to write).
    if (previous != 0) writeNext(previous, PAGE_LINK_END);
    console().print(u"load link %d, zero clear link %d\n", loadLinkCount, zeroLinkCount);
}

}  // namespace quorvel

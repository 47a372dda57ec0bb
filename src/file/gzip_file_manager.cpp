// The gzip front: picks the backend for its kind, recognises gzip data, and emulates
// seeking: reading back from the inflated bytes it kept, else resuming from inflate
// snapshots rather than from the start where it can.
#include "file/gzip_file_manager.h"

#include <algorithm>
#include <new>

#include "base/little_endian.h"
#include "console/console.h"
#include "file/fat_file_manager.h"
#include "file/http_file_manager.h"
#include "file/ufs/ufs_file_manager.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {

constexpr std::int64_t DISCARD_ALL = 0x7fffffff;
constexpr std::uint32_t SCRATCH_SIZE = 4096;
// Data this long and more is inflated whole at once where it can be.
constexpr std::uint32_t WHOLE_FROM = 1u << 20;
// Deflate makes at most 1032 bytes of one.
constexpr std::uint32_t MOST_DEFLATE_RATIO = 1032;

FileManager* makeBackend(Console*& consoleSlot, FileManagerKind kind) {
    switch (kind) {
    case FILE_MANAGER_FAT: return new (std::nothrow) FatFileManager(consoleSlot);
    case FILE_MANAGER_HTTP: return new (std::nothrow) HttpFileManager(consoleSlot);
    case FILE_MANAGER_UFS: return new (std::nothrow) UfsFileManager(consoleSlot);
    }
    // Only a kind made from a bare number gets here: no backend, so every operation fails.
    Console* console = consoleSlot ? consoleSlot : theConsole();
    console->print(u"unknown file manager kind %d.\n", static_cast<int>(kind));
    return nullptr;
}

}  // namespace

GzipFileManager::GzipFileManager(Console*& consoleIn, FileManagerKind kind)
    : GzipFileManager(consoleIn, makeBackend(consoleIn, kind)) {}

GzipFileManager::GzipFileManager(Console*& consoleIn, FileManager* source) : FileManager(consoleIn), backend(source) {
    if (!inflater.usable()) backend.reset();  // every operation then fails
    input.attach(backend.get());
}

GzipFileManager::~GzipFileManager() = default;

// The first sign that the open file is bad is logged, naming the file; the front
// then delivers nothing more of it.
void GzipFileManager::fault(const GzipFault& fault) {
    rememberedValid = rememberedValid && ce::wcscmp(rememberedName, name) != 0;
    Console* console = consoleSlot ? consoleSlot : theConsole();
    switch (fault.kind) {
    case GzipFault::READ_ERROR: console->print(u"%s: read error after 0x%x bytes.\n", name, fault.at); return;
    case GzipFault::HEADER_CUT_SHORT: console->print(u"%s: gzip header cut short after 0x%x bytes.\n", name, fault.at); return;
    case GzipFault::BAD_HEADER:
        console->print(u"%s: bad gzip header after 0x%x bytes (method %d, flags 0x%x).\n", name, fault.at,
                       static_cast<int>(fault.first), static_cast<int>(fault.second));
        return;
    case GzipFault::TRAILER_CUT_SHORT: console->print(u"%s: gzip trailer cut short after 0x%x bytes.\n", name, fault.at); return;
    case GzipFault::CRC_MISMATCH:
        console->print(u"%s: CRC mismatch after 0x%x bytes (stored 0x%08x, data 0x%08x).\n", name, fault.at, fault.first,
                       fault.second);
        return;
    case GzipFault::LENGTH_MISMATCH:
        console->print(u"%s: length mismatch after 0x%x bytes (stored 0x%x, data 0x%x).\n", name, fault.at, fault.first,
                       fault.second);
        return;
    case GzipFault::DATA_CUT_SHORT: console->print(u"%s: data cut short after 0x%x bytes.\n", name, fault.at); return;
    case GzipFault::DATA_DAMAGED:
        console->print(u"%s: deflate data damaged after 0x%x bytes (%S).\n", name, fault.at, fault.text);
        return;
    case GzipFault::CANT_REWIND: console->print(u"%s: can't seek back to the start.\n", name); return;
    case GzipFault::CANT_RESTART: console->print(u"%s: can't restart inflating.\n", name); return;
    case GzipFault::CANT_SEEK: console->print(u"%s: can't seek to 0x%x.\n", name, fault.at); return;
    }
}

void GzipFileManager::forgetLength() {
    lengthKnown = false;
    dataLength = 0;
}

void GzipFileManager::rememberLength() {
    std::copy(std::begin(name), std::end(name), rememberedName);
    rememberedIdentity = input.firstFill();
    rememberedLength = dataLength;
    rememberedValid = true;
}

// Data that is one gzip member, read from its start while its bytes are kept, is
// inflated in one call into one block, several times faster than through the stream
// a piece at a time, when the limit leaves room for the block, and for the stored
// bytes, which are held beside it only while it is inflated; bytes the backend holds
// in memory already are inflated where they lie. The member's length is its
// trailer's; anything else (more members, bytes after the trailer, damage) leaves the
// stream to meet it as before. A read error is the file's error at once.
void GzipFileManager::inflateWholeData() {
    if (wholeTried || !gzipData || !cache.isKeeping() || cache.end() != 0 || !inflater.untouched()) return;
    wholeTried = true;
    // Held bytes are taken at their own length: the size the backend reports is asked
    // afresh (a HEAD request) and may have changed since they were fetched.
    std::uint32_t heldLength = 0;
    const std::uint8_t* held = backend->heldBytes(heldLength);
    const std::uint32_t stored = held ? heldLength : backend->storedSize();
    const std::uint32_t from = input.unreadOffset();
    if (stored < from || stored - from < WHOLE_FROM / MOST_DEFLATE_RATIO || (!held && stored - from > cache.room()))
        return;
    const std::uint32_t storedLength = stored - from;
    // The length the trailer at the end gives, read where it lies; the backend then
    // goes back to where the input stands.
    unsigned char trailer[4];
    const std::int32_t got = backend->read(trailer, sizeof trailer, static_cast<std::int32_t>(stored - sizeof trailer));
    if (got < 0) return inflater.fail({GzipFault::READ_ERROR, 0});
    if (!input.seekBackend(input.backendOffset())) return inflater.fail({GzipFault::CANT_SEEK, 0});
    const std::uint32_t length = readLe32(trailer);
    if (got != sizeof trailer || length < WHOLE_FROM || length / MOST_DEFLATE_RATIO > storedLength ||
        length > cache.room())
        return;

    std::unique_ptr<GzipFraming::Mark> mark(new (std::nothrow) GzipFraming::Mark);
    std::unique_ptr<unsigned char[]> rest(held ? nullptr : new (std::nothrow) unsigned char[storedLength]);
    unsigned char* block = cache.makeBlock(length);
    if (!mark || (!held && !rest) || !block || !input.mark(*mark)) return cache.dropBlock();
    const bool taken = held ? input.passRest(storedLength) : input.takeRest(rest.get(), storedLength);
    if (taken && inflater.inflateWhole(held ? held + from : rest.get(), storedLength, block, length)) {
        cache.filled(length);
        lengthKnown = true;
        dataLength = length;
        rememberLength();
        return;
    }
    cache.dropBlock();
    if (input.failed()) return inflater.fail({GzipFault::READ_ERROR, 0});
    if (!input.seekBackend(mark->storedPosition)) return inflater.fail({GzipFault::CANT_SEEK, 0});
    input.resume(*mark);
}

// Reading from the stream plus what seeking and size() live on: snapshots, and the
// data's length.
std::int32_t GzipFileManager::streamRead(unsigned char* buffer, std::uint32_t length) {
    std::int32_t got = inflater.read(buffer, length);
    if (!gzipData) return got;
    if (got > 0) inflater.takeCheckpoint();
    // The last member verified, or plain bytes ended without an error: every later
    // pass ends here as well.
    if (!lengthKnown && (inflater.atEnd() || (got == 0 && length > 0 && inflater.healthy()))) {
        lengthKnown = true;
        dataLength = inflater.position();
        rememberLength();
    }
    return got;
}

// Reads on until `count` bytes are gone, the data ends (a read of nothing) or an
// error. A short read alone is no end: the next one may still report the data bad.
// While the stream's bytes are kept, they are inflated straight into their chunk.
std::int64_t GzipFileManager::discard(std::uint64_t count) {
    unsigned char scratch[SCRATCH_SIZE];
    std::int64_t total = 0;
    while (count > 0) {
        const std::uint32_t from = inflater.position();
        std::uint32_t room = SCRATCH_SIZE;
        unsigned char* chunk = cache.roomAt(from, room);
        unsigned char* into = chunk ? chunk : scratch;
        std::uint32_t ask = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, room));
        std::int32_t got = streamRead(into, ask);
        if (got < 0) return got;
        if (got == 0) break;
        if (chunk) {
            cache.filled(from + static_cast<std::uint32_t>(got));
        } else {
            cache.keep(into, from, static_cast<std::uint32_t>(got));
        }
        count -= static_cast<std::uint32_t>(got);
        total += got;
    }
    return inflater.failed() ? -1 : total;
}

// What the caller reads: kept bytes where there are some, else the stream, brought
// to the cursor first when it stands elsewhere.
std::int32_t GzipFileManager::readData(unsigned char* buffer, std::uint32_t length) {
    inflateWholeData();
    if (!gzipData || (cursor == inflater.position() && !cache.servable(cursor))) {
        const std::uint32_t from = inflater.position();
        std::int32_t got = streamRead(buffer, length);
        if (got > 0 && gzipData) cache.keep(buffer, from, static_cast<std::uint32_t>(got));
        cursor = inflater.position();
        return got;
    }
    if (inflater.failed()) return -1;
    std::uint32_t done = cache.read(buffer, cursor, length);
    if (done == length) return static_cast<std::int32_t>(done);
    if (cursor != inflater.position() && !moveStream(cursor)) {
        cursor = inflater.position();
        return done > 0 ? static_cast<std::int32_t>(done) : -1;
    }
    const std::uint32_t from = inflater.position();
    std::int32_t got = streamRead(buffer + done, length - done);
    if (got > 0) cache.keep(buffer + done, from, static_cast<std::uint32_t>(got));
    cursor = inflater.position();
    if (got < 0) return done > 0 ? static_cast<std::int32_t>(done) : -1;
    return static_cast<std::int32_t>(done) + got;
}

ce::BOOL GzipFileManager::setLocation(const ce::WCHAR* directory) {
    return backend ? backend->setLocation(directory) : 0;
}

ce::BOOL GzipFileManager::open(const ce::WCHAR* file, int mode) {
    inflater.dropCheckpoints();
    forgetLength();
    cache.drop();
    cursor = 0;
    wholeTried = false;
    inflater.clearFault();
    if (!backend || !backend->open(file, mode)) return 0;
    if (!inflater.begin()) {
        backend->close();
        return 0;
    }
    ce::wcsncpy(name, file, FILE_NAME_SIZE - 1);
    name[FILE_NAME_SIZE - 1] = 0;
    input.recordFirstFill();
    inflater.checkHeader();
    input.stopRecording();
    gzipData = inflater.compressed();
    if (gzipData) cache.start();
    if (gzipData && !inflater.failed() && rememberedValid && input.firstFill() == rememberedIdentity &&
        ce::wcscmp(rememberedName, name) == 0) {
        lengthKnown = true;
        dataLength = rememberedLength;
    }
    return 1;
}

std::uint32_t GzipFileManager::storedSize() { return backend ? backend->storedSize() : 0; }

std::uint32_t GzipFileManager::size() {
    if (!backend || inflater.failed()) return SIZE_UNKNOWN;
    if (!gzipData) return storedSize();
    // A reader that asks the length reads on in order (an image): keeping more of
    // it would only cost memory.
    cache.stopKeeping();
    if (lengthKnown && cursor <= dataLength) return dataLength - cursor;
    const std::uint32_t from = cursor;
    std::int64_t rest = discard(DISCARD_ALL);
    // A length that ended in an error is no length at all.
    if (rest < 0 || inflater.failed()) return SIZE_UNKNOWN;
    const std::uint32_t total = inflater.position() - from;
    if (!cache.servable(from)) {
        if (!moveStream(from)) return SIZE_UNKNOWN;
        cursor = inflater.position();
    }
    return total;
}

int GzipFileManager::close() {
    inflater.dropCheckpoints();
    forgetLength();
    cache.drop();
    cursor = 0;
    inflater.end();
    inflater.clearFault();
    return backend ? backend->close() : 0;
}

std::int32_t GzipFileManager::read(void* buffer, std::uint32_t length, std::int32_t offset) {
    if (!backend) return -1;
    // A seek past the end of compressed data fails and leaves the position at the
    // end, where the read delivers nothing; any other failed seek is an error.
    if (offset != -1 && !seek(static_cast<std::uint32_t>(offset)) && (inflater.failed() || !gzipData)) return -1;
    return readData(static_cast<unsigned char*>(buffer), length);
}

std::int32_t GzipFileManager::write(const void* buffer, std::uint32_t length, std::int32_t offset) {
    return backend ? backend->write(buffer, length, offset) : -1;
}

ce::BOOL GzipFileManager::seek(std::uint32_t offset) {
    if (!backend || inflater.failed()) return 0;
    if (!gzipData) {
        input.dropBuffered();
        if (!backend->seek(offset)) {
            inflater.fail({GzipFault::CANT_SEEK, offset});
            return 0;
        }
        return 1;
    }
    inflateWholeData();
    if (cache.servable(offset)) {
        cursor = offset;
        return 1;
    }
    const bool moved = moveStream(offset);
    cursor = inflater.position();
    return moved ? 1 : 0;
}

// Brings the stream itself to `offset`: back through a snapshot or from the start,
// forwards by inflating (and keeping) what lies between.
bool GzipFileManager::moveStream(std::uint32_t offset) {
    if (inflater.failed()) return false;
    const std::uint32_t position = inflater.position();
    if (offset < position) {
        if (!inflater.resumeAtOrBefore(offset)) inflater.rewind();
    } else if (offset > position && inflater.healthy()) {
        // A snapshot between here and the target saves inflating up to it, unless the
        // bytes on the way are being kept.
        const auto snapshot = inflater.checkpointAtOrBefore(offset);
        if (snapshot && *snapshot > position && (!cache.isKeeping() || *snapshot <= cache.end()) &&
            !inflater.resumeAtOrBefore(offset))
            inflater.rewind();
    }
    if (inflater.failed()) return false;
    if (offset > inflater.position()) {
        std::uint32_t wanted = offset - inflater.position();
        return discard(wanted) == static_cast<std::int64_t>(wanted);
    }
    return true;
}

}  // namespace quorvel

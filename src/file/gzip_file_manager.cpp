// The gzip front: picks the backend for its kind, recognises gzip framing, inflates
// member by member with CRC-32 and length checks, and emulates seeking: reading back
// from the inflated bytes it kept, else resuming from inflate snapshots rather than
// from the start where it can.
#include "file/gzip_file_manager.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "console/console.h"
#include "file/fat_file_manager.h"
#include "file/http_file_manager.h"
#include "file/ufs/ufs_file_manager.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {

constexpr int WINDOW_BITS = -15;  // raw deflate, 32 KB window
constexpr std::int64_t DISCARD_ALL = 0x7fffffff;
constexpr std::uint32_t SCRATCH_SIZE = 4096;
constexpr int DEFLATE_METHOD = 8;
constexpr int RESERVED_FLAGS = 0xe0;
constexpr int FLAG_HEADER_CRC = 0x02;
constexpr int FLAG_EXTRA = 0x04;
constexpr int FLAG_NAME = 0x08;
constexpr int FLAG_COMMENT = 0x10;

// The emulator's library exports a crc32 of its own, a byte at a time, and the link
// may bind the name to it before zlib's; crc32_z is zlib's alone.
uLong crcOf(uLong crc, const Bytef* data, std::size_t length) {
#if ZLIB_VERNUM >= 0x1290
    return crc32_z(crc, data, length);
#else
    return crc32(crc, data, static_cast<uInt>(length));
#endif
}

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

// Everything that resumes inflating exactly where the snapshot was taken, between
// two reads: zlib's state (total_out, the member's output count, included), the
// member's running CRC and the unread input with the backend offset behind it.
struct GzipFileManager::Checkpoint {
    z_stream inflater;
    std::uint32_t position;
    std::uint32_t storedPosition;
    std::uint32_t crc;
    int status;
    ce::BOOL endOfInput;
    ce::BOOL compressed;
    std::uint32_t inputOffset;  // where the unread input sat in the input area
    std::uint32_t inputCount;
    unsigned char input[GIVE_BACK_ROOM + GZIP_INPUT_SIZE];
};

// Each front has its own inflate record: with one shared record, a second front
// (a test's, or the next attempt's made before the last is gone) would wipe the
// first one's inflate state and leak it.
GzipFileManager::GzipFileManager(Console*& consoleIn, FileManagerKind kind)
    : GzipFileManager(consoleIn, makeBackend(consoleIn, kind)) {}

GzipFileManager::GzipFileManager(Console*& consoleIn, FileManager* source)
    : FileManager(consoleIn), stream(new (std::nothrow) z_stream{}), backend(source) {
    if (!stream) {
        this->backend.reset();  // every operation then fails
        return;
    }
    resetStream();
}

GzipFileManager::~GzipFileManager() {
    dropCheckpoints();
    dropCache();
    if (stream) endInflate();
}

// The first sign that the open file is bad is logged, naming the file; the front
// then delivers nothing more of it.
template <typename... Args>
void GzipFileManager::fail(const ce::WCHAR* format, Args... args) {
    status = Z_DATA_ERROR;
    if (failed) return;
    failed = true;
    rememberedValid = rememberedValid && ce::wcscmp(rememberedName, name) != 0;
    Console* console = consoleSlot ? consoleSlot : theConsole();
    console->print(format, name, args...);
}

void GzipFileManager::resetStream() {
    // A front opened again without a close must not leak zlib's state.
    endInflate();
    std::memset(stream.get(), 0, sizeof *stream);
    status = Z_OK;
    endOfInput = 0;
    crc = 0;
    compressed = 0;
    position = 0;
    storedPosition = 0;
    inputFailed = false;
}

bool GzipFileManager::startInflate() {
    // The device's zlib is 1.2.3 and is passed "1.2.3" with its 56-byte record; here
    // the host's own version and record size.
    inflating = inflateInit2_(stream.get(), WINDOW_BITS, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) == Z_OK;
    return inflating;
}

void GzipFileManager::endInflate() {
    if (!inflating) return;
    inflateEnd(stream.get());
    inflating = false;
}

std::int32_t GzipFileManager::backendRead(void* buffer, std::uint32_t length) {
    std::int32_t got = backend->read(buffer, length, -1);
    if (got > 0) storedPosition += std::min(static_cast<std::uint32_t>(got), length);
    if (recordingFirstFill) {
        recordingFirstFill = false;
        std::uint32_t taken = got > 0 ? std::min(static_cast<std::uint32_t>(got), length) : 0;
        identity.fillSize = taken;
        identity.fillCrc = static_cast<std::uint32_t>(crcOf(0, static_cast<const Bytef*>(buffer), taken));
    }
    return got;
}

void GzipFileManager::rememberLength() {
    std::memcpy(rememberedName, name, sizeof name);
    rememberedIdentity = identity;
    rememberedLength = dataLength;
    rememberedValid = true;
}

int GzipFileManager::takeByte() {
    if (stream->avail_in == 0) {
        if (endOfInput) return -1;
        std::int32_t got = backendRead(inputBuffer, GZIP_INPUT_SIZE);
        if (got <= 0) {
            endOfInput = 1;
            inputFailed = inputFailed || got < 0;
            return -1;
        }
        stream->next_in = inputBuffer;
        stream->avail_in = std::min<std::uint32_t>(static_cast<std::uint32_t>(got), GZIP_INPUT_SIZE);
    }
    --stream->avail_in;
    return *stream->next_in++;
}

void GzipFileManager::giveBack(int byte) {
    // Writing the byte itself keeps this right when its fill has been overwritten.
    --stream->next_in;
    *stream->next_in = static_cast<unsigned char>(byte);
    ++stream->avail_in;
}

std::uint32_t GzipFileManager::readTrailerWord() {
    std::uint32_t value = 0;
    int byte = 0;
    for (int i = 0; i < 4; ++i) {
        byte = takeByte();
        value |= static_cast<std::uint32_t>(byte & 0xff) << (8 * i);
    }
    if (byte < 0) status = Z_DATA_ERROR;
    return value;
}

void GzipFileManager::checkHeader() {
    int first = takeByte();
    if (first < 0) {
        if (inputFailed) fail(u"%s: read error after 0x%x bytes.\n", here());
        return;
    }
    if (first != magic[0]) {
        compressed = 0;
        giveBack(first);
        status = Z_OK;
        return;
    }
    int second = takeByte();
    // A failed read is no sign of a plain file: it is an error.
    if (second < 0 && inputFailed) {
        fail(u"%s: read error after 0x%x bytes.\n", here());
        return;
    }
    if (second != magic[1]) {
        compressed = 0;
        if (second >= 0) giveBack(second);
        giveBack(first);
        status = Z_OK;
        return;
    }
    compressed = 1;
    int method = takeByte();
    int flags = takeByte();
    if (inputFailed) {
        fail(u"%s: read error after 0x%x bytes.\n", here());
        return;
    }
    if (method < 0 || flags < 0) {
        fail(u"%s: gzip header cut short after 0x%x bytes.\n", here());
        return;
    }
    if (method != DEFLATE_METHOD || (flags & RESERVED_FLAGS)) {
        fail(u"%s: bad gzip header after 0x%x bytes (method %d, flags 0x%x).\n", here(), method, flags);
        return;
    }
    bool cut = false;
    auto skip = [&](std::uint32_t count) {
        for (std::uint32_t i = 0; i < count && !cut; ++i) cut = takeByte() < 0;
    };
    auto skipText = [&] {
        while (!cut) {
            int byte = takeByte();
            cut = byte < 0;
            if (byte <= 0) break;
        }
    };
    skip(6);  // modification time, extra flags, operating system
    if (flags & FLAG_EXTRA) {
        int low = takeByte();
        int high = takeByte();
        cut = cut || low < 0 || high < 0;
        if (!cut) skip(static_cast<std::uint32_t>(low | (high << 8)));
    }
    if (flags & FLAG_NAME) skipText();
    if (flags & FLAG_COMMENT) skipText();
    if (flags & FLAG_HEADER_CRC) skip(2);
    if (inputFailed) {
        fail(u"%s: read error after 0x%x bytes.\n", here());
    } else if (cut || endOfInput) {
        fail(u"%s: gzip header cut short after 0x%x bytes.\n", here());
    } else {
        status = Z_OK;
    }
}

// After inflate reported a member's end: checks its trailer and looks for another
// member. True when reading goes on.
bool GzipFileManager::finishMember() {
    std::uint32_t at = here();
    std::uint32_t storedCrc = readTrailerWord();
    std::uint32_t storedLength = status == Z_DATA_ERROR ? 0 : readTrailerWord();
    if (status == Z_DATA_ERROR) {
        if (inputFailed) fail(u"%s: read error after 0x%x bytes.\n", at);
        else fail(u"%s: gzip trailer cut short after 0x%x bytes.\n", at);
        return false;
    }
    if (storedCrc != crc) {
        fail(u"%s: CRC mismatch after 0x%x bytes (stored 0x%08x, data 0x%08x).\n", at, storedCrc, crc);
        return false;
    }
    if (storedLength != static_cast<std::uint32_t>(stream->total_out)) {
        fail(u"%s: length mismatch after 0x%x bytes (stored 0x%x, data 0x%x).\n", at, storedLength,
             static_cast<std::uint32_t>(stream->total_out));
        return false;
    }
    checkHeader();
    if (status != Z_OK) return false;
    inflateReset(stream.get());
    crc = static_cast<std::uint32_t>(crcOf(0, Z_NULL, 0));
    return true;
}

std::uint32_t GzipFileManager::here() const {
    if (!readStart) return position;
    return position + static_cast<std::uint32_t>(stream->next_out - readStart);
}

std::int32_t GzipFileManager::inflateData(unsigned char* buffer, std::uint32_t length) {
    if (failed || status == Z_DATA_ERROR || inputFailed) return -1;
    if (status == Z_STREAM_END) return 0;
    length = std::min<std::uint32_t>(length, 0x7fffffff);
    stream->next_out = buffer;
    stream->avail_out = length;
    readStart = buffer;
    unsigned char* start = buffer;
    auto delivered = [&] {
        std::uint32_t count = length - stream->avail_out;
        position += count;
        readStart = nullptr;
        return static_cast<std::int32_t>(count);
    };
    while (stream->avail_out != 0) {
        if (!compressed) {
            std::uint32_t count = std::min(stream->avail_in, stream->avail_out);
            if (count) std::memcpy(stream->next_out, stream->next_in, count);
            stream->next_in += count;
            stream->avail_in -= count;
            stream->next_out += count;
            stream->avail_out -= count;
            if (stream->avail_out > 0) {
                std::int32_t got = backendRead(stream->next_out, stream->avail_out);
                if (got < 0) {
                    // The buffered bytes are spent but not counted: nothing more of
                    // this file may be delivered, or positions would be off.
                    inputFailed = true;
                    fail(u"%s: read error after 0x%x bytes.\n", here());
                    readStart = nullptr;
                    return -1;
                }
                std::uint32_t taken = std::min(static_cast<std::uint32_t>(got), stream->avail_out);
                stream->next_out += taken;
                stream->avail_out -= taken;
            }
            return delivered();
        }
        if (stream->avail_in == 0 && !endOfInput) {
            std::int32_t got = backendRead(inputBuffer, GZIP_INPUT_SIZE);
            if (got < 0) {
                endOfInput = 1;
                inputFailed = true;
                break;
            }
            if (got == 0) {
                endOfInput = 1;
            } else {
                stream->next_in = inputBuffer;
                stream->avail_in = std::min<std::uint32_t>(static_cast<std::uint32_t>(got), GZIP_INPUT_SIZE);
            }
        }
        Bytef* before = stream->next_out;
        status = inflate(stream.get(), Z_NO_FLUSH);
        inflated += static_cast<std::uint64_t>(stream->next_out - before);
        if (status == Z_STREAM_END) {
            crc = static_cast<std::uint32_t>(crcOf(crc, start, static_cast<std::size_t>(stream->next_out - start)));
            start = stream->next_out;
            if (finishMember()) continue;
            break;
        }
        if (status != Z_OK) {
            // No progress is possible only when the input has ended inside the deflate
            // data: the file is cut short, which is an error and not the end of the data.
            if (status == Z_BUF_ERROR && endOfInput)
                fail(u"%s: data cut short after 0x%x bytes.\n", here());
            else
                fail(u"%s: deflate data damaged after 0x%x bytes (%S).\n", here(), stream->msg ? stream->msg : "error");
            break;
        }
        if (endOfInput) break;
    }
    crc = static_cast<std::uint32_t>(crcOf(crc, start, static_cast<std::size_t>(stream->next_out - start)));
    if (inputFailed) fail(u"%s: read error after 0x%x bytes.\n", here());
    std::int32_t count = delivered();
    // Nothing delivered because the data proved bad is an error, not the end.
    if (count == 0 && status == Z_DATA_ERROR) return -1;
    return count;
}

// Reading from the stream plus what seeking and size() live on: snapshots, and the
// data's length.
std::int32_t GzipFileManager::streamRead(unsigned char* buffer, std::uint32_t length) {
    std::int32_t got = inflateData(buffer, length);
    if (!gzipData) return got;
    if (got > 0) takeCheckpoint();
    // The last member verified, or plain bytes ended without an error: every later
    // pass ends here as well.
    if (!lengthKnown && (status == Z_STREAM_END || (got == 0 && length > 0 && healthy()))) {
        lengthKnown = true;
        dataLength = position;
        rememberLength();
    }
    return got;
}

bool GzipFileManager::healthy() const { return !failed && status != Z_DATA_ERROR && !inputFailed; }

void GzipFileManager::takeCheckpoint() {
    // Only a state that may go on delivering is worth resuming.
    if (status != Z_OK || inputFailed || !inflating) return;
    auto distance = [&] {
        std::uint32_t last = checkpointCount ? checkpoints[checkpointCount - 1]->position : 0;
        return position < last ? 0 : std::uint64_t{position - last};
    };
    if (distance() < checkpointSpacing) return;
    if (checkpointCount == GZIP_CHECKPOINT_LIMIT) {
        thinCheckpoints();
        if (distance() < checkpointSpacing) return;
    }
    auto at = reinterpret_cast<std::uintptr_t>(stream->next_in);
    auto area = reinterpret_cast<std::uintptr_t>(inputArea);
    if (at < area || at - area + stream->avail_in > sizeof inputArea) return;
    std::uint32_t inputOffset = static_cast<std::uint32_t>(at - area);
    std::unique_ptr<Checkpoint> checkpoint(new (std::nothrow) Checkpoint);
    if (!checkpoint) return;
    // Without memory for zlib's copy there is no snapshot, only the old way back.
    if (inflateCopy(&checkpoint->inflater, stream.get()) != Z_OK) return;
    checkpoint->position = position;
    checkpoint->storedPosition = storedPosition;
    checkpoint->crc = crc;
    checkpoint->status = status;
    checkpoint->endOfInput = endOfInput;
    checkpoint->compressed = compressed;
    checkpoint->inputOffset = inputOffset;
    checkpoint->inputCount = stream->avail_in;
    if (stream->avail_in) std::memcpy(checkpoint->input, stream->next_in, stream->avail_in);
    checkpoints[checkpointCount++] = std::move(checkpoint);
}

// Keeps every second snapshot, so those left still cover the whole file evenly.
void GzipFileManager::thinCheckpoints() {
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < checkpointCount; ++i) {
        if (i % 2 == 1) {
            checkpoints[kept++] = std::move(checkpoints[i]);
            continue;
        }
        inflateEnd(&checkpoints[i]->inflater);
        checkpoints[i].reset();
    }
    checkpointCount = kept;
    checkpointSpacing *= 2;
}

void GzipFileManager::dropCheckpoints() {
    for (std::uint32_t i = 0; i < checkpointCount; ++i) {
        inflateEnd(&checkpoints[i]->inflater);
        checkpoints[i].reset();
    }
    checkpointCount = 0;
    checkpointSpacing = GZIP_CHECKPOINT_SPACING;
    lengthKnown = false;
    dataLength = 0;
}

GzipFileManager::Checkpoint* GzipFileManager::checkpointAtOrBefore(std::uint32_t offset) const {
    Checkpoint* best = nullptr;
    for (std::uint32_t i = 0; i < checkpointCount && checkpoints[i]->position <= offset; ++i) best = checkpoints[i].get();
    return best;
}

// False when the snapshot cannot be resumed; the caller then rewinds.
bool GzipFileManager::resumeFrom(Checkpoint& checkpoint) {
    if (!backend->seek(checkpoint.storedPosition)) return false;
    endInflate();
    if (inflateCopy(stream.get(), &checkpoint.inflater) != Z_OK) return false;
    inflating = true;
    stream->next_in = inputArea + checkpoint.inputOffset;
    stream->avail_in = checkpoint.inputCount;
    if (checkpoint.inputCount) std::memcpy(stream->next_in, checkpoint.input, checkpoint.inputCount);
    position = checkpoint.position;
    storedPosition = checkpoint.storedPosition;
    crc = checkpoint.crc;
    status = checkpoint.status;
    endOfInput = checkpoint.endOfInput;
    compressed = checkpoint.compressed;
    inputFailed = false;
    return true;
}

// Reads on until `count` bytes are gone, the data ends (a read of nothing) or an
// error. A short read alone is no end: the next one may still report the data bad.
// While the stream's bytes are kept, they are inflated straight into their chunk.
std::int64_t GzipFileManager::discard(std::uint64_t count) {
    unsigned char scratch[SCRATCH_SIZE];
    std::int64_t total = 0;
    while (count > 0) {
        unsigned char* into = scratch;
        std::uint32_t room = SCRATCH_SIZE;
        const std::uint32_t from = position;
        unsigned char* chunk = keeping && from == keptEnd ? keptChunk(from) : nullptr;
        if (chunk) {
            into = chunk + from % GZIP_CACHE_CHUNK;
            room = GZIP_CACHE_CHUNK - from % GZIP_CACHE_CHUNK;
        }
        std::uint32_t ask = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, room));
        std::int32_t got = streamRead(into, ask);
        if (got < 0) return got;
        if (got == 0) break;
        if (chunk) {
            keptEnd = from + static_cast<std::uint32_t>(got);
        } else {
            keep(into, from, static_cast<std::uint32_t>(got));
        }
        count -= static_cast<std::uint32_t>(got);
        total += got;
    }
    return failed ? -1 : total;
}

// The chunk that holds `offset`, made when there is none yet. Without memory for it
// (or past the limit) every kept byte is let go: reading back then inflates again,
// as it always could.
unsigned char* GzipFileManager::keptChunk(std::uint32_t offset) {
    const std::uint32_t index = offset / GZIP_CACHE_CHUNK;
    if (index >= chunkSlots) {
        std::uint32_t slots = chunkSlots ? chunkSlots : 64;
        while (slots <= index) slots *= 2;
        std::unique_ptr<std::unique_ptr<unsigned char[]>[]> grown(new (std::nothrow) std::unique_ptr<unsigned char[]>[slots]);
        if (!grown) {
            dropCache();
            return nullptr;
        }
        for (std::uint32_t i = 0; i < chunkSlots; ++i) grown[i] = std::move(chunks[i]);
        chunks = std::move(grown);
        chunkSlots = slots;
    }
    if (!chunks[index]) {
        if (cacheLimit < GZIP_CACHE_CHUNK || cacheBytes > cacheLimit - GZIP_CACHE_CHUNK) {
            dropCache();
            return nullptr;
        }
        chunks[index].reset(new (std::nothrow) unsigned char[GZIP_CACHE_CHUNK]);
        if (!chunks[index]) {
            dropCache();
            return nullptr;
        }
        cacheBytes += GZIP_CACHE_CHUNK;
        cachePeak = std::max(cachePeak, cacheBytes);
    }
    return chunks[index].get();
}

// Keeps what the stream delivered from `from` on, as far as it extends the kept bytes.
void GzipFileManager::keep(const unsigned char* data, std::uint32_t from, std::uint32_t count) {
    if (!keeping || count == 0) return;
    if (from > keptEnd) {
        keeping = false;  // the stream jumped ahead: the kept bytes would have a gap
        return;
    }
    if (count <= keptEnd - from) return;
    const std::uint32_t skip = keptEnd - from;
    data += skip;
    count -= skip;
    while (count > 0) {
        unsigned char* chunk = keptChunk(keptEnd);
        if (!chunk) return;
        const std::uint32_t at = keptEnd % GZIP_CACHE_CHUNK;
        const std::uint32_t n = std::min(count, GZIP_CACHE_CHUNK - at);
        std::memcpy(chunk + at, data, n);
        keptEnd += n;
        data += n;
        count -= n;
    }
}

void GzipFileManager::dropCache() {
    chunks.reset();
    chunkSlots = 0;
    keeping = false;
    keptEnd = 0;
    cacheBytes = 0;
    runStart = runEnd = 0;
}

bool GzipFileManager::servable(std::uint32_t offset) const {
    if (offset >= keptEnd) return false;
    const std::uint32_t index = offset / GZIP_CACHE_CHUNK;
    return index < chunkSlots && chunks[index] != nullptr;
}

// Copies kept bytes from the cursor on, as far as they go without a gap.
std::uint32_t GzipFileManager::readKept(unsigned char* buffer, std::uint32_t length) {
    const std::uint32_t from = cursor;
    std::uint32_t done = 0;
    while (done < length && servable(cursor)) {
        const std::uint32_t at = cursor % GZIP_CACHE_CHUNK;
        const std::uint32_t n = std::min({length - done, GZIP_CACHE_CHUNK - at, keptEnd - cursor});
        std::memcpy(buffer + done, chunks[cursor / GZIP_CACHE_CHUNK].get() + at, n);
        cursor += n;
        done += n;
    }
    if (done > 0) freeReadChunks(from, cursor);
    return done;
}

// A chunk read through from its first byte to its last in one run of reads is done
// with: the reader has moved on.
void GzipFileManager::freeReadChunks(std::uint32_t from, std::uint32_t to) {
    if (from != runEnd) runStart = from;
    runEnd = to;
    const std::uint32_t first = std::max((runStart + GZIP_CACHE_CHUNK - 1) / GZIP_CACHE_CHUNK, from / GZIP_CACHE_CHUNK);
    for (std::uint32_t index = first; index < to / GZIP_CACHE_CHUNK && index < chunkSlots; ++index) {
        if (!chunks[index]) continue;
        chunks[index].reset();
        cacheBytes -= GZIP_CACHE_CHUNK;
    }
}

// What the caller reads: kept bytes where there are some, else the stream, brought
// to the cursor first when it stands elsewhere.
std::int32_t GzipFileManager::readData(unsigned char* buffer, std::uint32_t length) {
    if (!gzipData || (cursor == position && !servable(cursor))) {
        const std::uint32_t from = position;
        std::int32_t got = streamRead(buffer, length);
        if (got > 0 && gzipData) keep(buffer, from, static_cast<std::uint32_t>(got));
        cursor = position;
        return got;
    }
    if (failed) return -1;
    std::uint32_t done = readKept(buffer, length);
    if (done == length) return static_cast<std::int32_t>(done);
    if (cursor != position && !moveStream(cursor)) {
        cursor = position;
        return done > 0 ? static_cast<std::int32_t>(done) : -1;
    }
    const std::uint32_t from = position;
    std::int32_t got = streamRead(buffer + done, length - done);
    if (got > 0) keep(buffer + done, from, static_cast<std::uint32_t>(got));
    cursor = position;
    if (got < 0) return done > 0 ? static_cast<std::int32_t>(done) : -1;
    return static_cast<std::int32_t>(done) + got;
}

void GzipFileManager::rewind() {
    // Reading on from wherever the backend stayed would deliver the wrong bytes.
    if (!backend->seek(0)) {
        fail(u"%s: can't seek back to the start.\n");
        return;
    }
    endInflate();
    resetStream();
    if (!startInflate()) {
        fail(u"%s: can't restart inflating.\n");
        return;
    }
    stream->next_in = inputBuffer;
    stream->avail_in = 0;
    checkHeader();
}

ce::BOOL GzipFileManager::setLocation(const ce::WCHAR* directory) {
    return backend ? backend->setLocation(directory) : 0;
}

ce::BOOL GzipFileManager::open(const ce::WCHAR* file, int mode) {
    dropCheckpoints();
    dropCache();
    cachePeak = 0;
    cursor = 0;
    failed = false;
    if (!backend || !backend->open(file, mode)) return 0;
    resetStream();
    if (!startInflate()) {
        backend->close();
        return 0;
    }
    ce::wcsncpy(name, file, FILE_NAME_SIZE - 1);
    name[FILE_NAME_SIZE - 1] = 0;
    stream->next_in = inputBuffer;
    stream->avail_in = 0;
    identity = {};
    recordingFirstFill = true;
    checkHeader();
    recordingFirstFill = false;
    gzipData = compressed != 0;
    keeping = gzipData;
    if (gzipData && !failed && rememberedValid && identity == rememberedIdentity &&
        ce::wcscmp(rememberedName, name) == 0) {
        lengthKnown = true;
        dataLength = rememberedLength;
    }
    return 1;
}

std::uint32_t GzipFileManager::storedSize() { return backend ? backend->storedSize() : 0; }

std::uint32_t GzipFileManager::size() {
    if (!backend || failed) return SIZE_UNKNOWN;
    if (!gzipData) return storedSize();
    // A reader that asks the length reads on in order (an image): keeping more of
    // it would only cost memory.
    keeping = false;
    if (lengthKnown && cursor <= dataLength) return dataLength - cursor;
    const std::uint32_t from = cursor;
    std::int64_t rest = discard(DISCARD_ALL);
    // A length that ended in an error is no length at all.
    if (rest < 0 || failed) return SIZE_UNKNOWN;
    const std::uint32_t total = position - from;
    if (!servable(from)) {
        if (!moveStream(from)) return SIZE_UNKNOWN;
        cursor = position;
    }
    return total;
}

int GzipFileManager::close() {
    dropCheckpoints();
    dropCache();
    cursor = 0;
    endInflate();
    failed = false;
    return backend ? backend->close() : 0;
}

std::int32_t GzipFileManager::read(void* buffer, std::uint32_t length, std::int32_t offset) {
    if (!backend) return -1;
    // A seek past the end of compressed data fails and leaves the position at the
    // end, where the read delivers nothing; any other failed seek is an error.
    if (offset != -1 && !seek(static_cast<std::uint32_t>(offset)) && (failed || !gzipData)) return -1;
    return readData(static_cast<unsigned char*>(buffer), length);
}

std::int32_t GzipFileManager::write(const void* buffer, std::uint32_t length, std::int32_t offset) {
    return backend ? backend->write(buffer, length, offset) : -1;
}

ce::BOOL GzipFileManager::seek(std::uint32_t offset) {
    if (!backend || failed) return 0;
    if (!gzipData) {
        stream->avail_in = 0;
        if (!backend->seek(offset)) {
            fail(u"%s: can't seek to 0x%x.\n", offset);
            return 0;
        }
        return 1;
    }
    if (servable(offset)) {
        cursor = offset;
        return 1;
    }
    const bool moved = moveStream(offset);
    cursor = position;
    return moved ? 1 : 0;
}

// Brings the stream itself to `offset`: back through a snapshot or from the start,
// forwards by inflating (and keeping) what lies between.
bool GzipFileManager::moveStream(std::uint32_t offset) {
    if (failed) return false;
    if (offset < position) {
        Checkpoint* checkpoint = checkpointAtOrBefore(offset);
        if (!checkpoint || !resumeFrom(*checkpoint)) rewind();
    } else if (offset > position && healthy()) {
        // A snapshot between here and the target saves inflating up to it, unless the
        // bytes on the way are being kept.
        Checkpoint* checkpoint = checkpointAtOrBefore(offset);
        if (checkpoint && checkpoint->position > position && (!keeping || checkpoint->position <= keptEnd) &&
            !resumeFrom(*checkpoint))
            rewind();
    }
    if (failed) return false;
    if (offset > position) {
        std::uint32_t wanted = offset - position;
        return discard(wanted) == static_cast<std::int64_t>(wanted);
    }
    return true;
}

}  // namespace quorvel

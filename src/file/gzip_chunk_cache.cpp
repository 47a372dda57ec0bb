// The gzip front's kept chunks: made as the stream passes, read back, freed once read
// through, and all dropped when memory (or the limit) runs out.
#include "file/gzip_chunk_cache.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quorvel {

void GzipChunkCache::account(std::int64_t change) {
    bytes = static_cast<std::uint64_t>(static_cast<std::int64_t>(bytes) + change);
    if (observer) observer->cacheBytesChanged(bytes);
}

// The chunk that holds `offset`, made when there is none yet. Without memory for it
// (or past the limit) every kept byte is let go: reading back then inflates again,
// as it always could.
unsigned char* GzipChunkCache::chunkAt(std::uint32_t offset) {
    const std::uint32_t index = offset / GZIP_CACHE_CHUNK;
    if (index >= chunkSlots) {
        std::uint32_t slots = chunkSlots ? chunkSlots : 64;
        while (slots <= index) slots *= 2;
        std::unique_ptr<std::unique_ptr<unsigned char[]>[]> grown(new (std::nothrow) std::unique_ptr<unsigned char[]>[slots]);
        if (!grown) {
            drop();
            return nullptr;
        }
        for (std::uint32_t i = 0; i < chunkSlots; ++i) grown[i] = std::move(chunks[i]);
        chunks = std::move(grown);
        chunkSlots = slots;
    }
    if (!chunks[index]) {
        if (limit < GZIP_CACHE_CHUNK || bytes > limit - GZIP_CACHE_CHUNK) {
            drop();
            return nullptr;
        }
        chunks[index].reset(new (std::nothrow) unsigned char[GZIP_CACHE_CHUNK]);
        if (!chunks[index]) {
            drop();
            return nullptr;
        }
        account(GZIP_CACHE_CHUNK);
    }
    return chunks[index].get();
}

unsigned char* GzipChunkCache::makeBlock(std::uint32_t size) {
    if (block || keptEnd != 0 || size == 0 || size > room()) return nullptr;
    block.reset(new (std::nothrow) unsigned char[size]);
    if (!block) return nullptr;
    blockSize = size;
    account(size);
    return block.get();
}

void GzipChunkCache::dropBlock() {
    if (!block) return;
    releaseBlock();
    blockSize = 0;
}

void GzipChunkCache::releaseBlock() {
    block.reset();
    account(-static_cast<std::int64_t>(blockSize));
}

unsigned char* GzipChunkCache::roomAt(std::uint32_t from, std::uint32_t& room) {
    // The block holds the whole data: nothing comes after it.
    if (!keeping || from != keptEnd || blockSize != 0) return nullptr;
    unsigned char* chunk = chunkAt(from);
    if (!chunk) return nullptr;
    room = GZIP_CACHE_CHUNK - from % GZIP_CACHE_CHUNK;
    return chunk + from % GZIP_CACHE_CHUNK;
}

void GzipChunkCache::keep(const unsigned char* data, std::uint32_t from, std::uint32_t count) {
    if (!keeping || count == 0 || blockSize != 0) return;
    if (from > keptEnd) {
        keeping = false;  // the stream jumped ahead: the kept bytes would have a gap
        return;
    }
    if (count <= keptEnd - from) return;
    const std::uint32_t skip = keptEnd - from;
    data += skip;
    count -= skip;
    while (count > 0) {
        unsigned char* chunk = chunkAt(keptEnd);
        if (!chunk) return;
        const std::uint32_t at = keptEnd % GZIP_CACHE_CHUNK;
        const std::uint32_t n = std::min(count, GZIP_CACHE_CHUNK - at);
        std::memcpy(chunk + at, data, n);
        keptEnd += n;
        data += n;
        count -= n;
    }
}

void GzipChunkCache::drop() {
    const bool held = bytes != 0;
    chunks.reset();
    chunkSlots = 0;
    block.reset();
    blockSize = 0;
    keeping = false;
    keptEnd = 0;
    runStart = runEnd = 0;
    if (held) account(-static_cast<std::int64_t>(bytes));
}

bool GzipChunkCache::servable(std::uint32_t offset) const {
    if (offset >= keptEnd) return false;
    if (blockSize != 0) return block != nullptr;
    const std::uint32_t index = offset / GZIP_CACHE_CHUNK;
    return index < chunkSlots && chunks[index] != nullptr;
}

std::uint32_t GzipChunkCache::read(unsigned char* buffer, std::uint32_t& cursor, std::uint32_t length) {
    const std::uint32_t from = cursor;
    std::uint32_t done = 0;
    if (block && cursor < keptEnd) {
        done = std::min(length, keptEnd - cursor);
        std::memcpy(buffer, block.get() + cursor, done);
        cursor += done;
    }
    while (!block && done < length && servable(cursor)) {
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
void GzipChunkCache::freeReadChunks(std::uint32_t from, std::uint32_t to) {
    if (from != runEnd) runStart = from;
    runEnd = to;
    if (blockSize != 0) {
        if (block && runStart == 0 && runEnd == keptEnd) releaseBlock();
        return;
    }
    const std::uint32_t first = std::max((runStart + GZIP_CACHE_CHUNK - 1) / GZIP_CACHE_CHUNK, from / GZIP_CACHE_CHUNK);
    for (std::uint32_t index = first; index < to / GZIP_CACHE_CHUNK && index < chunkSlots; ++index) {
        if (!chunks[index]) continue;
        chunks[index].reset();
        account(-static_cast<std::int64_t>(GZIP_CACHE_CHUNK));
    }
}

}  // namespace quorvel

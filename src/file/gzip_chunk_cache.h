// The inflated bytes the gzip front keeps, in chunks, so that reading back after a
// skip forwards costs no second pass; chunks read through are let go.
#pragma once

#include <cstdint>
#include <memory>

namespace quorvel {

// Inflated bytes are kept for reading again in chunks of this size.
constexpr std::uint32_t GZIP_CACHE_CHUNK = 64u << 10;

// Told the memory the kept bytes take, each time it changes.
class GzipCacheObserver {
public:
    virtual void cacheBytesChanged(std::uint64_t bytes) = 0;

protected:
    ~GzipCacheObserver() = default;
};

class GzipChunkCache {
public:
    // The most memory the kept bytes may take; past it they are dropped, as when
    // memory runs out, and going back inflates again.
    void setLimit(std::uint64_t most) { limit = most; }
    void setObserver(GzipCacheObserver* watcher) { observer = watcher; }

    // Keeps what the stream delivers from the start of the file on.
    void start() { keeping = true; }
    void stopKeeping() { keeping = false; }
    bool isKeeping() const { return keeping; }
    // Lets every kept byte go.
    void drop();

    // What the limit leaves for more kept bytes.
    std::uint64_t room() const { return limit > bytes ? limit - bytes : 0; }
    // One block that is to keep the whole data from its start, made before anything
    // is kept; null without memory or room. filled() then says how far it holds.
    unsigned char* makeBlock(std::uint32_t size);
    // The block made is not used after all.
    void dropBlock();

    // [0, end()) are kept, where their chunks are still there.
    std::uint32_t end() const { return keptEnd; }
    bool servable(std::uint32_t offset) const;
    // Where the stream may inflate its bytes from `from` on straight into their chunk,
    // and how many fit (`room`); null when they are not kept there.
    unsigned char* roomAt(std::uint32_t from, std::uint32_t& room);
    // The stream filled the room given from `from` up to `to`.
    void filled(std::uint32_t to) { keptEnd = to; }
    // Keeps what the stream delivered from `from` on, as far as it extends the kept bytes.
    void keep(const unsigned char* data, std::uint32_t from, std::uint32_t count);
    // Copies kept bytes from `cursor` on, as far as they go without a gap, and moves
    // the cursor past them.
    std::uint32_t read(unsigned char* buffer, std::uint32_t& cursor, std::uint32_t length);

private:
    unsigned char* chunkAt(std::uint32_t offset);
    void freeReadChunks(std::uint32_t from, std::uint32_t to);
    void account(std::int64_t change);
    // The block's memory goes; blockSize stays, as the data's length it held.
    void releaseBlock();

    std::unique_ptr<std::unique_ptr<unsigned char[]>[]> chunks;
    // The whole data in one piece, kept instead of chunks: it goes once read through
    // from its start in one run of reads, or when the kept bytes are dropped.
    std::unique_ptr<unsigned char[]> block;
    std::uint32_t blockSize = 0;
    std::uint32_t chunkSlots = 0;
    bool keeping = false;  // what the stream delivers is still being kept
    std::uint32_t keptEnd = 0;
    std::uint64_t bytes = 0;
    std::uint64_t limit = UINT64_MAX;
    GzipCacheObserver* observer = nullptr;
    // The caller's latest run of reads from kept bytes, one after the other.
    std::uint32_t runStart = 0;
    std::uint32_t runEnd = 0;
};

}  // namespace quorvel

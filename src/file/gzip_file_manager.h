// The file manager the system talks to: owns one backend and inflates gzip data
// transparently, passing any other file through unchanged.
#pragma once

#include <cstdint>
#include <memory>

#include "file/file_manager.h"

struct z_stream_s;

namespace quorvel {

constexpr std::uint32_t GZIP_INPUT_SIZE = 1024;
// Inflate snapshots for seeking in compressed data: the least distance between two,
// in delivered bytes, and how many one open file keeps (about 41 KB each).
constexpr std::uint32_t GZIP_CHECKPOINT_SPACING = 1u << 20;
constexpr std::uint32_t GZIP_CHECKPOINT_LIMIT = 8;
// Inflated bytes are kept for reading again in chunks of this size.
constexpr std::uint32_t GZIP_CACHE_CHUNK = 16u << 10;

class GzipFileManager : public FileManager {
public:
    // Makes the backend for the kind, as the boot context does.
    GzipFileManager(Console*& consoleSlot, FileManagerKind kind);
    // Over a backend the caller made; the front owns it. Without one every operation fails.
    GzipFileManager(Console*& consoleSlot, FileManager* backend);
    ~GzipFileManager() override;

    ce::BOOL setLocation(const ce::WCHAR* directory) override;
    ce::BOOL open(const ce::WCHAR* name, int mode) override;
    std::uint32_t storedSize() override;
    // Bytes from the current position to the end of the (inflated) data;
    // SIZE_UNKNOWN when the data proved bad or could not be read.
    std::uint32_t size() override;
    int close() override;
    std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    std::int32_t write(const void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    ce::BOOL seek(std::uint32_t offset) override;

    // Bytes this front has inflated in its life, discarded ones included: what
    // seeking and size() cost on top of the data itself.
    std::uint64_t inflatedBytes() const { return inflated; }

    // The most memory the kept inflated bytes may take; past it they are dropped, as
    // when memory runs out, and going back inflates again.
    void setCacheLimit(std::uint64_t bytes) { cacheLimit = bytes; }
    // Memory the kept inflated bytes take now, and the most they took since open.
    std::uint64_t cachedBytes() const { return cacheBytes; }
    std::uint64_t cachedBytesPeak() const { return cachePeak; }

private:
    struct Checkpoint;

    template <typename... Args>
    void fail(const ce::WCHAR* format, Args... args);
    void resetStream();
    bool startInflate();
    void endInflate();
    void rewind();
    int takeByte();
    void giveBack(int byte);
    std::uint32_t readTrailerWord();
    void checkHeader();
    bool finishMember();
    std::int32_t inflateData(unsigned char* buffer, std::uint32_t length);
    std::int32_t streamRead(unsigned char* buffer, std::uint32_t length);
    std::int32_t readData(unsigned char* buffer, std::uint32_t length);
    std::int64_t discard(std::uint64_t count);
    bool moveStream(std::uint32_t offset);
    bool servable(std::uint32_t offset) const;
    std::uint32_t readKept(unsigned char* buffer, std::uint32_t length);
    void keep(const unsigned char* data, std::uint32_t from, std::uint32_t count);
    unsigned char* keptChunk(std::uint32_t offset);
    void freeReadChunks(std::uint32_t from, std::uint32_t to);
    void dropCache();
    bool healthy() const;
    void takeCheckpoint();
    void thinCheckpoints();
    void dropCheckpoints();
    Checkpoint* checkpointAtOrBefore(std::uint32_t offset) const;
    bool resumeFrom(Checkpoint& checkpoint);
    std::int32_t backendRead(void* buffer, std::uint32_t length);
    void rememberLength();
    // Bytes delivered so far, the read under way included.
    std::uint32_t here() const;

    std::unique_ptr<z_stream_s> stream;
    int magic[2] = {0x1f, 0x8b};
    int status = 0;
    ce::BOOL endOfInput = 0;
    // Refills land behind two spare bytes, so the two peeked header bytes can always
    // be given back, even when the first came from the previous fill.
    static constexpr std::uint32_t GIVE_BACK_ROOM = 2;
    unsigned char inputArea[GIVE_BACK_ROOM + GZIP_INPUT_SIZE] = {};
    unsigned char* const inputBuffer = inputArea + GIVE_BACK_ROOM;
    std::uint32_t crc = 0;
    ce::BOOL compressed = 0;
    std::unique_ptr<FileManager> backend;

    // Set when the data began with a gzip header; positions then count the bytes
    // delivered since the start, across members and any plain tail.
    bool gzipData = false;
    // Where the stream stands, and where the next read of the caller starts: the
    // same, or the caller is reading kept bytes behind the stream.
    std::uint32_t position = 0;
    std::uint32_t cursor = 0;
    bool inflating = false;
    // The backend reported a read error: the data ends in an error, not in an end.
    bool inputFailed = false;
    // The open file proved bad or unreadable. Unlike the inflate status this survives
    // rewinds: nothing more of the file is delivered until it is opened again.
    bool failed = false;
    const unsigned char* readStart = nullptr;  // output of the read under way
    ce::WCHAR name[FILE_NAME_SIZE] = {};
    std::uint64_t inflated = 0;

    // Offset in the stored data of the next byte the backend will deliver.
    std::uint32_t storedPosition = 0;
    // Snapshots of the open file in ascending position, to resume from instead of
    // rewinding to the start.
    std::unique_ptr<Checkpoint> checkpoints[GZIP_CHECKPOINT_LIMIT];
    std::uint32_t checkpointCount = 0;
    std::uint64_t checkpointSpacing = GZIP_CHECKPOINT_SPACING;
    // The delivered length, once a pass has met the end of the data.
    bool lengthKnown = false;
    std::uint32_t dataLength = 0;

    // The length of the last compressed file measured, known again by its name and
    // its first stored bytes: the boot sizes an image, closes it and opens it again
    // to load it. Loaders read such a file to its verified end, so a file changed in
    // between still cannot deliver anything wrong.
    struct Identity {
        std::uint32_t fillCrc = 0;
        std::uint32_t fillSize = 0;
        bool operator==(const Identity&) const = default;
    };
    Identity identity;
    bool recordingFirstFill = false;
    bool rememberedValid = false;
    ce::WCHAR rememberedName[FILE_NAME_SIZE] = {};
    Identity rememberedIdentity;
    std::uint32_t rememberedLength = 0;

    // The inflated bytes [0, keptEnd) of the open file, in chunks, so that reading
    // back after a skip forwards costs no second pass. A chunk that the caller has
    // read through from its start to its end is freed: the loader reads on.
    std::unique_ptr<std::unique_ptr<unsigned char[]>[]> chunks;
    std::uint32_t chunkSlots = 0;
    bool keeping = false;     // what the stream delivers is still being kept
    std::uint32_t keptEnd = 0;
    std::uint64_t cacheBytes = 0;
    std::uint64_t cachePeak = 0;
    std::uint64_t cacheLimit = UINT64_MAX;
    // The caller's latest run of reads from kept bytes, one after the other.
    std::uint32_t runStart = 0;
    std::uint32_t runEnd = 0;
};

}  // namespace quorvel

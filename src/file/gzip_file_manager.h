// The file manager the system talks to: owns one backend and inflates gzip data
// transparently, passing any other file through unchanged.
#pragma once

#include <cstdint>
#include <memory>

#include "file/file_manager.h"
#include "file/gzip_chunk_cache.h"
#include "file/gzip_framing.h"
#include "file/gzip_inflater.h"

namespace quorvel {

class GzipFileManager : public FileManager, private GzipFaultSink {
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
    std::uint64_t inflatedBytes() const { return inflater.inflatedBytes(); }

    // The most memory the kept inflated bytes may take; past it they are dropped, as
    // when memory runs out, and going back inflates again.
    void setCacheLimit(std::uint64_t bytes) { cache.setLimit(bytes); }
    // Told the memory the kept bytes take whenever it changes; null for no one.
    void watchCache(GzipCacheObserver* observer) { cache.setObserver(observer); }

private:
    void fault(const GzipFault& fault) override;
    void inflateWholeData();
    std::int32_t streamRead(unsigned char* buffer, std::uint32_t length);
    std::int32_t readData(unsigned char* buffer, std::uint32_t length);
    std::int64_t discard(std::uint64_t count);
    bool moveStream(std::uint32_t offset);
    void forgetLength();
    void rememberLength();

    std::unique_ptr<FileManager> backend;
    GzipFraming input;
    GzipInflater inflater{input, *this};
    GzipChunkCache cache;

    // Set when the data began with a gzip header; positions then count the bytes
    // delivered since the start, across members and any plain tail.
    bool gzipData = false;
    // Where the next read of the caller starts: where the stream stands, or behind
    // it in kept bytes.
    std::uint32_t cursor = 0;
    // The data was looked at once for inflating whole since it was opened.
    bool wholeTried = false;
    ce::WCHAR name[FILE_NAME_SIZE] = {};

    // The delivered length, once a pass has met the end of the data.
    bool lengthKnown = false;
    std::uint32_t dataLength = 0;

    // The length of the last compressed file measured, known again by its name and
    // its first stored bytes: the boot sizes an image, closes it and opens it again
    // to load it. Loaders read such a file to its verified end, so a file changed in
    // between still cannot deliver anything wrong.
    bool rememberedValid = false;
    ce::WCHAR rememberedName[FILE_NAME_SIZE] = {};
    GzipFraming::Identity rememberedIdentity;
    std::uint32_t rememberedLength = 0;
};

}  // namespace quorvel

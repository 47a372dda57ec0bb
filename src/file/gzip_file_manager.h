// The file manager the system talks to: owns one backend and inflates gzip data
// transparently, passing any other file through unchanged.
#pragma once

#include <cstdint>

#include "file/file_manager.h"

struct z_stream_s;

namespace quorvel {

constexpr std::uint32_t GZIP_INPUT_SIZE = 1024;

class GzipFileManager : public FileManager {
public:
    GzipFileManager(Console*& consoleSlot, FileManagerKind kind);
    ~GzipFileManager() override;

    ce::BOOL setLocation(const ce::WCHAR* directory) override;
    ce::BOOL open(const ce::WCHAR* name, int mode) override;
    std::uint32_t storedSize() override;
    // Bytes from the current position to the end of the (inflated) data.
    std::uint32_t size() override;
    int close() override;
    std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    std::int32_t write(const void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    ce::BOOL seek(std::uint32_t offset) override;

    // The backend this front created for its kind.
    FileManager* backendManager() const { return backend; }

    // Bytes every front has inflated, discarded ones included: what seeking and
    // size() cost on top of the data itself.
    static std::uint64_t inflatedTotal;

private:
    void resetStream();
    bool startInflate();
    void endInflate();
    void rewind();
    int takeByte();
    void giveBack(int byte);
    std::uint32_t readTrailerWord();
    void checkHeader();
    bool finishMember();
    std::int32_t readData(unsigned char* buffer, std::uint32_t length);
    std::int64_t discard(std::uint64_t count);

    z_stream_s* stream = nullptr;
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
    FileManager* backend = nullptr;

    // Set when the data began with a gzip header; positions then count the bytes
    // delivered since the start, across members and any plain tail.
    bool gzipData = false;
    std::uint32_t position = 0;
    bool inflating = false;
    // The backend reported a read error: the data ends in an error, not in an end.
    bool inputFailed = false;
};

}  // namespace quorvel

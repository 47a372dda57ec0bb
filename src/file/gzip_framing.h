// The stored side of the gzip front: the backend's bytes through a small input area,
// taken a byte at a time for the gzip framing (member header, trailer words) or handed
// on whole to inflate and to plain reads, with the faults the framing can meet.
#pragma once

#include <cstdint>

#include "file/file_manager.h"

namespace quorvel {

constexpr std::uint32_t GZIP_INPUT_SIZE = 1024;

// Why a file proved bad or unreadable, and where: `at` counts delivered bytes.
struct GzipFault {
    enum Kind {
        READ_ERROR,
        HEADER_CUT_SHORT,
        BAD_HEADER,         // first: method, second: flags
        TRAILER_CUT_SHORT,
        CRC_MISMATCH,       // first: stored, second: computed
        LENGTH_MISMATCH,    // first: stored, second: delivered
        DATA_CUT_SHORT,
        DATA_DAMAGED,       // text: inflate's message
        CANT_REWIND,
        CANT_RESTART,
        CANT_SEEK,          // at: the offset asked for
    };
    Kind kind = READ_ERROR;
    std::uint32_t at = 0;
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    const char* text = nullptr;
};

// What the start of a member, or of the data, turned out to be.
struct GzipHeader {
    enum Kind {
        NOTHING,  // no byte at all, and no read error: the data has ended
        PLAIN,    // not gzip: the bytes taken are given back
        MEMBER,   // a good header, skipped: deflate data follows
        FAULT,    // a read error or a bad or short header; `fault` says which
    };
    Kind kind = NOTHING;
    bool gzip = false;  // the magic matched
    GzipFault::Kind fault = GzipFault::READ_ERROR;
    int method = 0;
    int flags = 0;
};

class GzipFraming {
public:
    // Refills land behind two spare bytes, so the two peeked header bytes can always
    // be given back, even when the first came from the previous fill.
    static constexpr std::uint32_t GIVE_BACK_ROOM = 2;

    void attach(FileManager* source) { backend = source; }
    // Forgets the input: the backend stands at the start of the file.
    void reset();
    void restart() {
        next = inputBuffer;
        avail = 0;
    }

    int takeByte();
    void giveBack(int byte);
    // Little-endian; false when the data ended or failed first.
    bool readWord(std::uint32_t& value);
    GzipHeader readHeader();
    // Fills the input area when it is empty and the data has not ended; false on a
    // read error.
    bool refill();
    // Uncompressed data: the buffered bytes, then the backend's. False on a read
    // error, with `taken` the bytes already placed.
    bool readStored(unsigned char* out, std::uint32_t length, std::uint32_t& taken);
    void dropBuffered() { avail = 0; }
    // The rest of the stored data in one piece: the unread input, then the backend's
    // bytes, `count` in all and the data ending there; the input then stands at the
    // end. False on a read error (failed() then says so) or when the data is shorter
    // or longer: take a mark first to go back.
    bool takeRest(unsigned char* out, std::uint32_t count);
    // The same for stored bytes the caller has elsewhere: the input then stands at
    // the end as after takeRest, nothing copied. False when the backend cannot go there.
    bool passRest(std::uint32_t count);
    // Offset in the stored data of the next unread byte, and of the backend's next.
    std::uint32_t unreadOffset() const { return storedPosition - avail; }
    std::uint32_t backendOffset() const { return storedPosition; }

    // What a snapshot needs to go on reading from here later.
    struct Mark {
        std::uint32_t storedPosition;
        bool endOfInput;
        std::uint32_t inputOffset;  // where the unread input sat in the input area
        std::uint32_t inputCount;
        unsigned char input[GIVE_BACK_ROOM + GZIP_INPUT_SIZE];
    };
    bool mark(Mark& mark) const;
    bool seekBackend(std::uint32_t stored) { return backend->seek(stored) != 0; }
    void resume(const Mark& mark);

    // The first fill's length and CRC, taken while recording: a file's likeness.
    struct Identity {
        std::uint32_t fillCrc = 0;
        std::uint32_t fillSize = 0;
        bool operator==(const Identity&) const = default;
    };
    void recordFirstFill() {
        identity = {};
        recording = true;
    }
    void stopRecording() { recording = false; }
    const Identity& firstFill() const { return identity; }

    bool ended() const { return endOfInput; }
    bool failed() const { return inputFailed; }

    // The unread input, as inflate takes it.
    unsigned char* next = nullptr;
    std::uint32_t avail = 0;

private:
    std::int32_t backendRead(void* buffer, std::uint32_t length);

    FileManager* backend = nullptr;
    bool endOfInput = false;
    // The backend reported a read error: the data ends in an error, not in an end.
    bool inputFailed = false;
    // Offset in the stored data of the next byte the backend will deliver.
    std::uint32_t storedPosition = 0;
    unsigned char inputArea[GIVE_BACK_ROOM + GZIP_INPUT_SIZE] = {};
    unsigned char* const inputBuffer = inputArea + GIVE_BACK_ROOM;
    Identity identity;
    bool recording = false;
};

// The emulator's library exports a crc32 of its own, a byte at a time, and the link
// may bind the name to it before zlib's; this is zlib's alone.
std::uint32_t gzipCrc(std::uint32_t crc, const unsigned char* data, std::size_t length);

}  // namespace quorvel

// Inflate of the gzip front: member by member with CRC-32 and length checks, and the
// snapshots (checkpoints) it resumes from instead of rewinding to the start.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "file/gzip_framing.h"

struct z_stream_s;

namespace quorvel {

// Inflate snapshots for seeking in compressed data: the least distance between two,
// in delivered bytes, and how many one open file keeps (about 41 KB each).
constexpr std::uint32_t GZIP_CHECKPOINT_SPACING = 1u << 20;
constexpr std::uint32_t GZIP_CHECKPOINT_LIMIT = 8;

// Told the first fault of an open file.
class GzipFaultSink {
public:
    virtual void fault(const GzipFault& fault) = 0;

protected:
    ~GzipFaultSink() = default;
};

class GzipInflater {
public:
    GzipInflater(GzipFraming& input, GzipFaultSink& sink);
    ~GzipInflater();
    GzipInflater(const GzipInflater&) = delete;
    GzipInflater& operator=(const GzipInflater&) = delete;

    // False when there was no memory for zlib's record; nothing works then.
    bool usable() const { return stream != nullptr; }

    // A fresh stream at the start of the file; false when inflate cannot start.
    bool begin();
    void end();
    // Back to the start of the file and through its first header.
    void rewind();
    // Reads the header at the input and takes its verdict.
    void checkHeader();
    // Delivers inflated (or plain) bytes: their count, 0 at the end, -1 on an error.
    std::int32_t read(unsigned char* buffer, std::uint32_t length);

    // Nothing is inflated yet and the stream stands at the start of the first member.
    bool untouched() const;
    // The first member from `stored` (the rest of the stored data after its header)
    // inflated in one call into `out`, which has room for exactly `length` bytes: true
    // when it is all the data and its trailer holds, the stream then standing at the
    // end of the data. False leaves the stream as it was, reading then inflates as
    // before and meets whatever fault there is where it always did.
    bool inflateWhole(const unsigned char* stored, std::uint32_t storedLength, unsigned char* out,
                      std::uint32_t length);

    // The first fault is told to the sink; after any, nothing more is delivered.
    void fail(GzipFault fault);
    bool failed() const { return faulted; }
    void clearFault() { faulted = false; }
    bool healthy() const;
    bool atEnd() const;
    bool compressed() const { return gzip; }
    std::uint32_t position() const { return delivered; }
    // Bytes inflated in this inflater's life, discarded ones included.
    std::uint64_t inflatedBytes() const { return inflated; }

    void takeCheckpoint();
    void dropCheckpoints();
    // The position of the latest snapshot at or before `offset`, if there is one.
    std::optional<std::uint32_t> checkpointAtOrBefore(std::uint32_t offset) const;
    // Resumes from that snapshot; false when there is none or it cannot be resumed.
    bool resumeAtOrBefore(std::uint32_t offset);

private:
    struct Checkpoint;

    void reset();
    bool startStream();
    bool finishMember();
    // Bytes delivered so far, the read under way included.
    std::uint32_t here() const;
    void thinCheckpoints();
    Checkpoint* checkpointFor(std::uint32_t offset) const;
    bool resumeFrom(Checkpoint& checkpoint);

    GzipFraming& input;
    GzipFaultSink& sink;
    std::unique_ptr<z_stream_s> stream;
    bool inflating = false;
    int status = 0;
    std::uint32_t crc = 0;
    bool gzip = false;           // the current part is a gzip member
    std::uint32_t delivered = 0; // bytes delivered since the start of the file
    // The open file proved bad or unreadable. Unlike the inflate status this survives
    // rewinds: nothing more of the file is delivered until it is opened again.
    bool faulted = false;
    const unsigned char* readStart = nullptr;  // output of the read under way
    std::uint64_t inflated = 0;

    // Snapshots of the open file in ascending position.
    std::unique_ptr<Checkpoint> checkpoints[GZIP_CHECKPOINT_LIMIT];
    std::uint32_t checkpointCount = 0;
    std::uint64_t checkpointSpacing = GZIP_CHECKPOINT_SPACING;
};

}  // namespace quorvel

// Inflating the gzip front's data member by member, plain bytes passed through, and
// the snapshots that let seeking resume part way instead of from the start.
#include "file/gzip_inflater.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "base/little_endian.h"

namespace quorvel {

namespace {

constexpr int WINDOW_BITS = -15;  // raw deflate, 32 KB window
constexpr std::uint32_t TRAILER_SIZE = 8;  // CRC-32 and length

}  // namespace

// Everything that resumes inflating exactly where the snapshot was taken, between
// two reads: zlib's state (total_out, the member's output count, included), the
// member's running CRC and the unread input with the backend offset behind it.
struct GzipInflater::Checkpoint {
    z_stream inflater;
    std::uint32_t position;
    std::uint32_t crc;
    int status;
    bool gzip;
    GzipFraming::Mark input;
};

// Each front has its own inflate record: with one shared record, a second front
// (a test's, or the next attempt's made before the last is gone) would wipe the
// first one's inflate state and leak it.
GzipInflater::GzipInflater(GzipFraming& inputIn, GzipFaultSink& sinkIn)
    : input(inputIn), sink(sinkIn), stream(new (std::nothrow) z_stream{}) {
    if (stream) reset();
}

GzipInflater::~GzipInflater() {
    dropCheckpoints();
    if (stream) end();
}

void GzipInflater::fail(GzipFault fault) {
    status = Z_DATA_ERROR;
    if (faulted) return;
    faulted = true;
    sink.fault(fault);
}

void GzipInflater::reset() {
    // A front opened again without a close must not leak zlib's state.
    end();
    std::memset(stream.get(), 0, sizeof *stream);
    status = Z_OK;
    crc = 0;
    gzip = false;
    delivered = 0;
    input.reset();
}

bool GzipInflater::startStream() {
    // The device's zlib is 1.2.3 and is passed "1.2.3" with its 56-byte record; here
    // the host's own version and record size.
    inflating = inflateInit2_(stream.get(), WINDOW_BITS, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) == Z_OK;
    return inflating;
}

bool GzipInflater::begin() {
    reset();
    if (!startStream()) return false;
    input.restart();
    return true;
}

void GzipInflater::end() {
    if (!inflating) return;
    inflateEnd(stream.get());
    inflating = false;
}

void GzipInflater::rewind() {
    // Reading on from wherever the backend stayed would deliver the wrong bytes.
    if (!input.seekBackend(0)) {
        fail({GzipFault::CANT_REWIND});
        return;
    }
    if (!begin()) {
        fail({GzipFault::CANT_RESTART});
        return;
    }
    checkHeader();
}

void GzipInflater::checkHeader() {
    const GzipHeader header = input.readHeader();
    switch (header.kind) {
    case GzipHeader::NOTHING: return;
    case GzipHeader::PLAIN:
        gzip = false;
        status = Z_OK;
        return;
    case GzipHeader::MEMBER:
        gzip = true;
        status = Z_OK;
        return;
    case GzipHeader::FAULT:
        if (header.gzip) gzip = true;
        fail({header.fault, here(), static_cast<std::uint32_t>(header.method), static_cast<std::uint32_t>(header.flags)});
        return;
    }
}

// After inflate reported a member's end: checks its trailer and looks for another
// member. True when reading goes on.
bool GzipInflater::finishMember() {
    std::uint32_t at = here();
    std::uint32_t storedCrc = 0;
    std::uint32_t storedLength = 0;
    if (!input.readWord(storedCrc) || !input.readWord(storedLength)) {
        fail({input.failed() ? GzipFault::READ_ERROR : GzipFault::TRAILER_CUT_SHORT, at});
        return false;
    }
    if (storedCrc != crc) {
        fail({GzipFault::CRC_MISMATCH, at, storedCrc, crc});
        return false;
    }
    if (storedLength != static_cast<std::uint32_t>(stream->total_out)) {
        fail({GzipFault::LENGTH_MISMATCH, at, storedLength, static_cast<std::uint32_t>(stream->total_out)});
        return false;
    }
    checkHeader();
    if (status != Z_OK) return false;
    inflateReset(stream.get());
    crc = gzipCrc(0, nullptr, 0);
    return true;
}

std::uint32_t GzipInflater::here() const {
    if (!readStart) return delivered;
    return delivered + static_cast<std::uint32_t>(stream->next_out - readStart);
}

bool GzipInflater::healthy() const { return !faulted && status != Z_DATA_ERROR && !input.failed(); }

bool GzipInflater::atEnd() const { return status == Z_STREAM_END; }

std::int32_t GzipInflater::read(unsigned char* buffer, std::uint32_t length) {
    if (faulted || status == Z_DATA_ERROR || input.failed()) return -1;
    if (status == Z_STREAM_END) return 0;
    length = std::min<std::uint32_t>(length, 0x7fffffff);
    stream->next_out = buffer;
    stream->avail_out = length;
    readStart = buffer;
    unsigned char* start = buffer;
    auto finish = [&] {
        const std::uint32_t count = length - stream->avail_out;
        delivered += count;
        readStart = nullptr;
        return static_cast<std::int32_t>(count);
    };
    while (stream->avail_out != 0) {
        if (!gzip) {
            // Plain bytes, at the start or after the last member, pass through.
            std::uint32_t taken = 0;
            const bool read = input.readStored(stream->next_out, stream->avail_out, taken);
            stream->next_out += taken;
            stream->avail_out -= taken;
            if (!read) {
                // The buffered bytes are spent but not counted: nothing more of this
                // file may be delivered, or positions would be off.
                fail({GzipFault::READ_ERROR, here()});
                readStart = nullptr;
                return -1;
            }
            return finish();
        }
        if (!input.refill()) break;
        stream->next_in = input.next;
        stream->avail_in = input.avail;
        Bytef* before = stream->next_out;
        status = inflate(stream.get(), Z_NO_FLUSH);
        input.next = stream->next_in;
        input.avail = stream->avail_in;
        inflated += static_cast<std::uint64_t>(stream->next_out - before);
        if (status == Z_STREAM_END) {
            crc = gzipCrc(crc, start, static_cast<std::size_t>(stream->next_out - start));
            start = stream->next_out;
            if (finishMember()) continue;
            break;
        }
        if (status != Z_OK) {
            // No progress is possible only when the input has ended inside the deflate
            // data: the file is cut short, which is an error and not the end of the data.
            if (status == Z_BUF_ERROR && input.ended())
                fail({GzipFault::DATA_CUT_SHORT, here()});
            else
                fail({GzipFault::DATA_DAMAGED, here(), 0, 0, stream->msg ? stream->msg : "error"});
            break;
        }
        if (input.ended()) break;
    }
    crc = gzipCrc(crc, start, static_cast<std::size_t>(stream->next_out - start));
    if (input.failed()) fail({GzipFault::READ_ERROR, here()});
    const std::int32_t count = finish();
    // Nothing delivered because the data proved bad is an error, not the end.
    if (count == 0 && status == Z_DATA_ERROR) return -1;
    return count;
}

bool GzipInflater::untouched() const {
    return gzip && inflating && status == Z_OK && !faulted && !input.failed() && delivered == 0 &&
           stream->total_in == 0 && stream->total_out == 0;
}

bool GzipInflater::inflateWhole(const unsigned char* stored, std::uint32_t storedLength, unsigned char* out,
                                std::uint32_t length) {
    if (!untouched() || storedLength < TRAILER_SIZE) return false;
    libdeflate_decompressor* whole = libdeflate_alloc_decompressor();
    if (!whole) return false;
    std::size_t used = 0;
    std::size_t made = 0;
    const libdeflate_result result = libdeflate_deflate_decompress_ex(whole, stored, storedLength, out, length, &used, &made);
    libdeflate_free_decompressor(whole);
    // Only one member followed by its trailer and nothing else: the trailer of a
    // second member, or bytes after the last, are met by reading as before.
    if (result != LIBDEFLATE_SUCCESS || made != length || storedLength - used != TRAILER_SIZE) return false;
    const std::uint32_t memberCrc = libdeflate_crc32(0, out, made);
    if (readLe32(stored + used) != memberCrc || readLe32(stored + used + 4) != length) return false;
    delivered = length;
    inflated += length;
    crc = memberCrc;
    status = Z_STREAM_END;
    return true;
}

void GzipInflater::takeCheckpoint() {
    // Only a state that may go on delivering is worth resuming.
    if (status != Z_OK || input.failed() || !inflating) return;
    auto distance = [&] {
        std::uint32_t last = checkpointCount ? checkpoints[checkpointCount - 1]->position : 0;
        return delivered < last ? 0 : std::uint64_t{delivered - last};
    };
    if (distance() < checkpointSpacing) return;
    if (checkpointCount == GZIP_CHECKPOINT_LIMIT) {
        thinCheckpoints();
        if (distance() < checkpointSpacing) return;
    }
    std::unique_ptr<Checkpoint> checkpoint(new (std::nothrow) Checkpoint);
    if (!checkpoint || !input.mark(checkpoint->input)) return;
    // Without memory for zlib's copy there is no snapshot, only the old way back.
    if (inflateCopy(&checkpoint->inflater, stream.get()) != Z_OK) return;
    checkpoint->position = delivered;
    checkpoint->crc = crc;
    checkpoint->status = status;
    checkpoint->gzip = gzip;
    checkpoints[checkpointCount++] = std::move(checkpoint);
}

// Keeps every second snapshot, so those left still cover the whole file evenly.
void GzipInflater::thinCheckpoints() {
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

void GzipInflater::dropCheckpoints() {
    for (std::uint32_t i = 0; i < checkpointCount; ++i) {
        inflateEnd(&checkpoints[i]->inflater);
        checkpoints[i].reset();
    }
    checkpointCount = 0;
    checkpointSpacing = GZIP_CHECKPOINT_SPACING;
}

GzipInflater::Checkpoint* GzipInflater::checkpointFor(std::uint32_t offset) const {
    Checkpoint* best = nullptr;
    for (std::uint32_t i = 0; i < checkpointCount && checkpoints[i]->position <= offset; ++i) best = checkpoints[i].get();
    return best;
}

std::optional<std::uint32_t> GzipInflater::checkpointAtOrBefore(std::uint32_t offset) const {
    const Checkpoint* checkpoint = checkpointFor(offset);
    if (!checkpoint) return std::nullopt;
    return checkpoint->position;
}

bool GzipInflater::resumeAtOrBefore(std::uint32_t offset) {
    Checkpoint* checkpoint = checkpointFor(offset);
    return checkpoint && resumeFrom(*checkpoint);
}

// False when the snapshot cannot be resumed; the caller then rewinds.
bool GzipInflater::resumeFrom(Checkpoint& checkpoint) {
    if (!input.seekBackend(checkpoint.input.storedPosition)) return false;
    end();
    if (inflateCopy(stream.get(), &checkpoint.inflater) != Z_OK) return false;
    inflating = true;
    input.resume(checkpoint.input);
    delivered = checkpoint.position;
    crc = checkpoint.crc;
    status = checkpoint.status;
    gzip = checkpoint.gzip;
    return true;
}

}  // namespace quorvel

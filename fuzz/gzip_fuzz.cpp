// The gzip front under sequences of reads, seeks and size() calls over a backend held
// in memory that may deliver short pieces, fail a read or fail a seek.
//
// Input: byte 0 the backend's behaviour, byte 1 the number of calls, five bytes per
// call (kind, then a little-endian 32-bit argument), then the stored file.
//
// Besides memory errors it stops on broken promises: more delivered than asked for,
// the same offset delivering different bytes, a file that failed once delivering more,
// a sound single-member gzip file delivered otherwise than zlib inflates it, or a
// size() that disagrees with where reading ends.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "support/memory_backend.h"
#include "support/recording_console.h"

namespace {

void check(bool promise) {
    if (!promise) std::abort();
}

// What zlib makes of a file that is exactly one sound gzip member; false otherwise.
bool inflateWhole(const std::string& stored, std::string& out) {
    if (stored.size() < 18 || static_cast<unsigned char>(stored[0]) != 0x1f || static_cast<unsigned char>(stored[1]) != 0x8b)
        return false;
    z_stream s{};
    if (inflateInit2(&s, 16 + 15) != Z_OK) return false;
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data()));
    s.avail_in = static_cast<uInt>(stored.size());
    char chunk[16384];
    int result = Z_OK;
    while (result == Z_OK && out.size() < (8u << 20)) {
        s.next_out = reinterpret_cast<Bytef*>(chunk);
        s.avail_out = sizeof chunk;
        result = inflate(&s, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - s.avail_out);
    }
    bool whole = result == Z_STREAM_END && s.avail_in == 0;
    inflateEnd(&s);
    // zlib skips the header's CRC and reserved-flag checks the front makes; leave
    // such files to the other promises.
    int flags = static_cast<unsigned char>(stored[3]);
    return whole && (flags & 0xe2) == 0;
}

constexpr std::uint32_t KNOWN_LIMIT = 4u << 20;  // bytes whose value is remembered

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t behaviour = data[0];
    const std::size_t calls = std::min<std::size_t>(data[1], 24);
    if (size < 2 + 5 * calls) return 0;
    const std::uint8_t* script = data + 2;
    std::string stored(reinterpret_cast<const char*>(script + 5 * calls), size - 2 - 5 * calls);

    static testing_support::QuietConsole quiet;
    quorvel::Console* console = &quiet;
    auto* backend = new testing_support::MemoryBackend(console, stored);
    if (behaviour & 0x07) backend->readLimit = std::size_t{1} << ((behaviour & 0x07) * 2 - 2);
    // Counted from 1 in the input, 0 for none; the backend counts from 0.
    backend->failingRead = ((behaviour >> 3) & 0x0f) - 1;
    backend->failingSeek = (behaviour >> 7) ? 1 : -1;
    const bool faults = backend->failingRead >= 0 || backend->failingSeek >= 0;

    const bool gzip = stored.size() >= 2 && static_cast<unsigned char>(stored[0]) == 0x1f &&
                      static_cast<unsigned char>(stored[1]) == 0x8b;
    // A sound file delivers zlib's bytes and lengths even when the backend fails:
    // a failure may only stop it. Without failures it must not fail at all.
    std::string reference;
    const bool soundFile = inflateWhole(stored, reference);
    const bool sound = soundFile && !faults;

    quorvel::GzipFileManager front(console, backend);
    if (!front.open(u"fuzz", 3)) return 0;

    std::string known;        // bytes delivered so far, by offset
    std::vector<bool> seen;
    std::int64_t position = 0;  // -1 once unknown
    bool failed = false;
    std::int64_t end = -1;      // where reading met a clean end
    std::vector<char> buffer;

    auto deliver = [&](std::int64_t at, const char* bytes, std::int32_t count) {
        for (std::int32_t i = 0; i < count; ++i) {
            std::int64_t p = at + i;
            if (p >= KNOWN_LIMIT) break;
            if (static_cast<std::size_t>(p) >= known.size()) {
                known.resize(static_cast<std::size_t>(p) + 1);
                seen.resize(static_cast<std::size_t>(p) + 1);
            }
            if (seen[p]) check(known[p] == bytes[i]);
            known[p] = bytes[i];
            seen[p] = true;
            if (soundFile) check(static_cast<std::size_t>(p) < reference.size() && reference[p] == bytes[i]);
        }
    };

    for (std::size_t c = 0; c < calls; ++c) {
        const std::uint8_t kind = script[5 * c] % 4;
        std::uint32_t argument;
        std::memcpy(&argument, script + 5 * c + 1, 4);
        switch (kind) {
        case 0:    // read at the current position
        case 1: {  // read at an offset
            const std::uint32_t length = argument % 70000;
            const std::int32_t offset = kind == 1 ? static_cast<std::int32_t>((argument >> 8) % 200000) : -1;
            buffer.resize(std::max<std::uint32_t>(length, 1));
            const std::int32_t got = front.read(buffer.data(), length, offset);
            check(got >= -1 && got <= static_cast<std::int32_t>(length));
            if (failed) check(got == -1);
            if (got < 0) {
                failed = true;
                position = -1;
                break;
            }
            if (kind == 1) position = offset;
            // A read of nothing at an offset may mean the offset lies past the end,
            // where the front stays at the end instead.
            if (kind == 1 && got == 0 && length > 0) position = -1;
            if (position >= 0) {
                if (end >= 0 && position >= end) check(got == 0);
                deliver(position, buffer.data(), got);
                if (got == 0 && length > 0 && soundFile) check(position >= static_cast<std::int64_t>(reference.size()));
                if (got == 0 && length > 0) end = end < 0 ? position : end;
                position += got;
            }
            break;
        }
        case 2: {  // seek
            const std::uint32_t offset = argument % 200000;
            const ce::BOOL ok = front.seek(offset);
            if (failed) check(!ok);
            if (ok) position = offset;
            else position = -1;
            break;
        }
        default: {  // size
            const std::uint32_t left = front.size();
            if (failed) check(left == quorvel::SIZE_UNKNOWN);
            // Plain files answer with their stored size wherever the position is.
            if (left == quorvel::SIZE_UNKNOWN || !gzip) break;
            if (soundFile && position >= 0) check(position + left == static_cast<std::int64_t>(reference.size()));
            if (end >= 0 && position >= 0 && position <= end) check(position + left == end);
            break;
        }
        }
        if (sound) check(!failed);
    }
    front.close();
    return 0;
}

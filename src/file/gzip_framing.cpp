// The gzip front's stored side: refills, the member header and trailer words, plain
// pass-through, and the input a snapshot carries.
#include "file/gzip_framing.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace quorvel {

namespace {

constexpr int MAGIC[2] = {0x1f, 0x8b};
constexpr int DEFLATE_METHOD = 8;
constexpr int RESERVED_FLAGS = 0xe0;
constexpr int FLAG_HEADER_CRC = 0x02;
constexpr int FLAG_EXTRA = 0x04;
constexpr int FLAG_NAME = 0x08;
constexpr int FLAG_COMMENT = 0x10;

}  // namespace

std::uint32_t gzipCrc(std::uint32_t crc, const unsigned char* data, std::size_t length) {
#if ZLIB_VERNUM >= 0x1290
    return static_cast<std::uint32_t>(crc32_z(crc, data, length));
#else
    return static_cast<std::uint32_t>(crc32(crc, data, static_cast<uInt>(length)));
#endif
}

void GzipFraming::reset() {
    next = nullptr;
    avail = 0;
    endOfInput = false;
    inputFailed = false;
    storedPosition = 0;
}

std::int32_t GzipFraming::backendRead(void* buffer, std::uint32_t length) {
    std::int32_t got = backend->read(buffer, length, -1);
    if (got > 0) storedPosition += std::min(static_cast<std::uint32_t>(got), length);
    if (recording) {
        recording = false;
        std::uint32_t taken = got > 0 ? std::min(static_cast<std::uint32_t>(got), length) : 0;
        identity.fillSize = taken;
        identity.fillCrc = gzipCrc(0, static_cast<const unsigned char*>(buffer), taken);
    }
    return got;
}

bool GzipFraming::refill() {
    if (avail != 0 || endOfInput) return true;
    std::int32_t got = backendRead(inputBuffer, GZIP_INPUT_SIZE);
    if (got <= 0) {
        endOfInput = true;
        inputFailed = inputFailed || got < 0;
        return got == 0;
    }
    next = inputBuffer;
    avail = std::min<std::uint32_t>(static_cast<std::uint32_t>(got), GZIP_INPUT_SIZE);
    return true;
}

int GzipFraming::takeByte() {
    if (avail == 0) {
        refill();
        if (avail == 0) return -1;
    }
    --avail;
    return *next++;
}

void GzipFraming::giveBack(int byte) {
    // Writing the byte itself keeps this right when its fill has been overwritten.
    --next;
    *next = static_cast<unsigned char>(byte);
    ++avail;
}

bool GzipFraming::readWord(std::uint32_t& value) {
    value = 0;
    int byte = 0;
    for (int i = 0; i < 4; ++i) {
        byte = takeByte();
        value |= static_cast<std::uint32_t>(byte & 0xff) << (8 * i);
    }
    return byte >= 0;
}

GzipHeader GzipFraming::readHeader() {
    GzipHeader header;
    auto fault = [&](GzipFault::Kind kind) {
        header.kind = GzipHeader::FAULT;
        header.fault = kind;
        return header;
    };
    int first = takeByte();
    if (first < 0) return inputFailed ? fault(GzipFault::READ_ERROR) : header;
    header.kind = GzipHeader::PLAIN;
    if (first != MAGIC[0]) {
        giveBack(first);
        return header;
    }
    int second = takeByte();
    // A failed read is no sign of a plain file: it is an error.
    if (second < 0 && inputFailed) return fault(GzipFault::READ_ERROR);
    if (second != MAGIC[1]) {
        if (second >= 0) giveBack(second);
        giveBack(first);
        return header;
    }
    header.gzip = true;
    header.method = takeByte();
    header.flags = takeByte();
    if (inputFailed) return fault(GzipFault::READ_ERROR);
    if (header.method < 0 || header.flags < 0) return fault(GzipFault::HEADER_CUT_SHORT);
    if (header.method != DEFLATE_METHOD || (header.flags & RESERVED_FLAGS)) return fault(GzipFault::BAD_HEADER);
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
    if (header.flags & FLAG_EXTRA) {
        int low = takeByte();
        int high = takeByte();
        cut = cut || low < 0 || high < 0;
        if (!cut) skip(static_cast<std::uint32_t>(low | (high << 8)));
    }
    if (header.flags & FLAG_NAME) skipText();
    if (header.flags & FLAG_COMMENT) skipText();
    if (header.flags & FLAG_HEADER_CRC) skip(2);
    if (inputFailed) return fault(GzipFault::READ_ERROR);
    if (cut || endOfInput) return fault(GzipFault::HEADER_CUT_SHORT);
    header.kind = GzipHeader::MEMBER;
    return header;
}

bool GzipFraming::readStored(unsigned char* out, std::uint32_t length, std::uint32_t& taken) {
    std::uint32_t count = std::min(avail, length);
    if (count) std::memcpy(out, next, count);
    next += count;
    avail -= count;
    taken = count;
    if (taken == length) return true;
    std::int32_t got = backendRead(out + taken, length - taken);
    if (got < 0) {
        inputFailed = true;
        return false;
    }
    taken += std::min(static_cast<std::uint32_t>(got), length - taken);
    return true;
}

bool GzipFraming::takeRest(unsigned char* out, std::uint32_t count) {
    std::uint32_t taken = std::min(avail, count);
    if (taken) std::memcpy(out, next, taken);
    next += taken;
    avail -= taken;
    if (avail != 0) return false;
    while (taken < count) {
        const std::int32_t got = backendRead(out + taken, count - taken);
        inputFailed = got < 0;
        if (got <= 0) return false;
        taken += std::min(static_cast<std::uint32_t>(got), count - taken);
    }
    unsigned char more = 0;
    const std::int32_t after = backendRead(&more, 1);
    inputFailed = after < 0;
    if (after != 0) return false;
    endOfInput = true;
    return true;
}

bool GzipFraming::passRest(std::uint32_t count) {
    const std::uint32_t end = unreadOffset() + count;
    const std::uint32_t taken = std::min(avail, count);
    if (avail != taken || !seekBackend(end)) return false;
    next += taken;
    avail = 0;
    storedPosition = end;
    endOfInput = true;
    return true;
}

bool GzipFraming::mark(Mark& mark) const {
    auto at = reinterpret_cast<std::uintptr_t>(next);
    auto area = reinterpret_cast<std::uintptr_t>(inputArea);
    if (at < area || at - area + avail > sizeof inputArea) return false;
    mark.storedPosition = storedPosition;
    mark.endOfInput = endOfInput;
    mark.inputOffset = static_cast<std::uint32_t>(at - area);
    mark.inputCount = avail;
    if (avail) std::memcpy(mark.input, next, avail);
    return true;
}

void GzipFraming::resume(const Mark& mark) {
    next = inputArea + mark.inputOffset;
    avail = mark.inputCount;
    if (mark.inputCount) std::memcpy(next, mark.input, mark.inputCount);
    storedPosition = mark.storedPosition;
    endOfInput = mark.endOfInput;
    inputFailed = false;
}

}  // namespace quorvel

// The tagged list of Linux's ARM boot protocol: every word little-endian, every tag a
// header of two words (size in words, tag number) and its body.
#include "arch/arm/linux_tags.h"

#include <cstdio>
#include <cstring>

namespace quorvel {

namespace {

constexpr std::uint32_t HEADER_WORDS = 2;
constexpr std::uint32_t CORE_WORDS = HEADER_WORDS + 3;
constexpr std::uint32_t MEM_WORDS = HEADER_WORDS + 2;
constexpr std::uint32_t INITRD2_WORDS = HEADER_WORDS + 2;
constexpr std::uint32_t VIDEOLFB_WORDS = HEADER_WORDS + 6;

// The command line with its NUL, in whole words.
std::uint32_t commandLineWords(const std::string& text) { return HEADER_WORDS + (static_cast<std::uint32_t>(text.size()) + 1 + 3) / 4; }

class Writer {
public:
    explicit Writer(std::uint8_t* out) : at(out) {}
    void word(std::uint32_t value) {
        for (int i = 0; i < 4; ++i) *at++ = static_cast<std::uint8_t>(value >> (8 * i));
    }
    void half(std::uint16_t value) {
        *at++ = static_cast<std::uint8_t>(value);
        *at++ = static_cast<std::uint8_t>(value >> 8);
    }
    void byte(std::uint8_t value) { *at++ = value; }
    void header(std::uint32_t words, std::uint32_t tag) {
        word(words);
        word(tag);
    }
    std::uint8_t* at;
};

std::uint32_t wordAt(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint32_t tagListSize(const LinuxTags& tags) {
    std::uint64_t words = CORE_WORDS + MEM_WORDS * tags.memory.size() + commandLineWords(tags.commandLine) + HEADER_WORDS;
    if (tags.initrd) words += INITRD2_WORDS;
    if (tags.video) words += VIDEOLFB_WORDS;
    return words * 4 > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(words * 4);
}

std::uint32_t writeTagList(const LinuxTags& tags, std::uint8_t* out, std::uint32_t capacity) {
    // Linux would cut a longer line where it stops copying: refuse it instead.
    if (tags.commandLine.size() + 1 > LINUX_COMMAND_LINE_SIZE) return 0;
    const std::uint32_t size = tagListSize(tags);
    if (size > capacity) return 0;
    std::memset(out, 0, size);
    Writer w(out);
    w.header(CORE_WORDS, ATAG_CORE);
    w.word(0);  // flags: the root is mounted as the command line says
    w.word(tags.pageSize);
    w.word(0);  // rootdev: from the command line
    for (const LinuxMemoryBank& bank : tags.memory) {
        w.header(MEM_WORDS, ATAG_MEM);
        w.word(bank.size);
        w.word(bank.start);
    }
    if (tags.video) {
        const LinuxVideo& v = *tags.video;
        w.header(VIDEOLFB_WORDS, ATAG_VIDEOLFB);
        w.half(v.width);
        w.half(v.height);
        w.half(v.depth);
        w.half(v.lineLength);
        w.word(v.base);
        w.word(v.size);
        for (std::uint8_t b : {v.redSize, v.redPos, v.greenSize, v.greenPos, v.blueSize, v.bluePos, v.rsvdSize, v.rsvdPos})
            w.byte(b);
    }
    if (tags.initrd) {
        w.header(INITRD2_WORDS, ATAG_INITRD2);
        w.word(tags.initrd->start);
        w.word(tags.initrd->size);
    }
    const std::uint32_t words = commandLineWords(tags.commandLine);
    w.header(words, ATAG_CMDLINE);
    std::memcpy(w.at, tags.commandLine.data(), tags.commandLine.size());
    w.at += (words - HEADER_WORDS) * 4;  // the NUL and the padding were cleared
    w.header(0, ATAG_NONE);
    return size;
}

bool readTagList(const std::uint8_t* bytes, std::uint32_t size, std::vector<ReadTag>& tags, std::string& why) {
    tags.clear();
    std::uint32_t at = 0;
    for (;;) {
        if (at > size || size - at < HEADER_WORDS * 4) {
            why = "the list runs past its page before ATAG_NONE";
            return false;
        }
        const std::uint32_t words = wordAt(bytes + at);
        const std::uint32_t tag = wordAt(bytes + at + 4);
        if (tag == ATAG_NONE) {
            tags.push_back({tag, words, {}});
            return true;
        }
        if (words < HEADER_WORDS || words > (size - at) / 4) {
            char text[96];
            std::snprintf(text, sizeof text, "tag %s at offset %u has an impossible size of %u words", tagName(tag).c_str(), at,
                          words);
            why = text;
            return false;
        }
        tags.push_back({tag, words, std::vector<std::uint8_t>(bytes + at + 8, bytes + at + words * 4)});
        at += words * 4;
    }
}

std::string tagName(std::uint32_t tag) {
    switch (tag) {
    case ATAG_NONE: return "ATAG_NONE";
    case ATAG_CORE: return "ATAG_CORE";
    case ATAG_MEM: return "ATAG_MEM";
    case ATAG_INITRD2: return "ATAG_INITRD2";
    case ATAG_VIDEOLFB: return "ATAG_VIDEOLFB";
    case ATAG_CMDLINE: return "ATAG_CMDLINE";
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", tag);
    return text;
}

}  // namespace quorvel

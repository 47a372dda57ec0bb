// The host model of the second-stage loader's list walk.
#include "support/page_link_walker.h"

#include <cstdio>

namespace testing_support {

namespace {

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

}  // namespace

std::uint32_t foldDestination(std::uint32_t address, DestinationFold fold) {
    return fold == DestinationFold::Pxa2x0 ? (0xA0000000u | (address & 0x00FFFFFFu)) : address;
}

PageLinkWalk walkPageLinks(sim::PhysicalMemory& memory, std::uint32_t head, DestinationFold fold,
                           std::size_t maxEntries) {
    PageLinkWalk walk;
    // ARMv4 word accesses ignore the low two address bits (no alignment checking
    // with the MMU off), so an unaligned destination is stored at the word below it.
    auto word = [&](std::uint32_t address, std::uint32_t& value) {
        address &= ~3u;
        if (!memory.contains(sim::PhysicalAddress(address), 4)) {
            walk.error = "read outside RAM at " + hex(address);
            return false;
        }
        value = memory.readWord(sim::PhysicalAddress(address));
        return true;
    };
    auto store = [&](std::uint32_t address, std::uint32_t value) {
        address &= ~3u;
        if (!memory.contains(sim::PhysicalAddress(address), 4)) {
            walk.error = "write outside RAM at " + hex(address);
            return false;
        }
        memory.writeWord(sim::PhysicalAddress(address), value);
        return true;
    };

    std::uint32_t link = head;
    while (link != quorvel::PAGE_LINK_END) {
        if (walk.entries.size() == maxEntries) {
            walk.error = "list longer than " + std::to_string(maxEntries) + " entries";
            return walk;
        }
        quorvel::PageLink entry{};
        if (!word(link, entry.next) || !word(link + 4, entry.src) || !word(link + 8, entry.dst) ||
            !word(link + 12, entry.size))
            return walk;
        walk.entries.push_back(entry);

        // Whole words: a size that is not a multiple of 4 is rounded up, and the loops
        // run at least once, as the assembly does.
        std::uint32_t dst = foldDestination(entry.dst, fold);
        const std::uint32_t end = dst + entry.size;
        if (entry.src == quorvel::PAGE_LINK_ZERO) {
            do {
                if (!store(dst, 0)) return walk;
                dst += 4;
            } while (dst < end);
        } else {
            std::uint32_t src = entry.src;
            do {
                // Sources are read in pairs; the second word may lie beyond the piece,
                // and only matters when it is stored.
                std::uint32_t first = 0;
                if (!word(src, first)) return walk;
                const std::uint32_t secondAt = (src & ~3u) + 4;
                const bool secondInRam = memory.contains(sim::PhysicalAddress(secondAt), 4);
                const std::uint32_t second = secondInRam ? memory.readWord(sim::PhysicalAddress(secondAt)) : 0;
                src += 8;
                if (!store(dst, first)) return walk;
                dst += 4;
                if (dst < end) {
                    if (!secondInRam) {
                        walk.error = "read outside RAM at " + hex(secondAt);
                        return walk;
                    }
                    if (!store(dst, second)) return walk;
                    dst += 4;
                }
            } while (dst < end);
        }
        walk.lastEnd = end;
        link = entry.next;
    }
    if (walk.entries.empty()) {
        walk.error = "empty list";
        return walk;
    }
    walk.stackPointer = (walk.lastEnd + 0x2000) & ~0xFFFu;
    walk.ok = true;
    return walk;
}

std::string readPhysical(sim::PhysicalMemory& memory, std::uint32_t address, std::uint32_t size) {
    if (size == 0) return {};
    if (!memory.contains(sim::PhysicalAddress(address), size)) return {};
    return std::string(reinterpret_cast<const char*>(memory.host(sim::PhysicalAddress(address))), size);
}

}  // namespace testing_support

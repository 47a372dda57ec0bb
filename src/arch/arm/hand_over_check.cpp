// The pre-jump check of the copy list. The second-stage loader performs the entries
// in order with the MMU off: entry i must not write a page that holds a later entry,
// the source of entry i or a later one, the boot information page, the loader or its
// stack; no two entries may write the same bytes; and every entry must write RAM.
// Also where the loader will write a kernel's destinations, before it is loaded.
#include "arch/arm/hand_over_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <unordered_map>
#include <vector>

#include "console/console.h"
#include "loader/page_link.h"
#include "memory/memory_manager.h"
#include "platform/address.h"

namespace quorvel {

namespace {

constexpr std::uint32_t FOREVER = std::numeric_limits<std::uint32_t>::max();

enum class Use { ListEntry, Source, BootInfo, Loader, Stack };

const ce::WCHAR* useName(Use use) {
    switch (use) {
    case Use::ListEntry: return u"a later list entry";
    case Use::Source: return u"the source of a list entry";
    case Use::BootInfo: return u"the boot information page";
    case Use::Loader: return u"the second-stage loader";
    case Use::Stack: return u"the second-stage loader's stack";
    }
    return u"";
}

struct Need {
    std::uint32_t lastEntry;  // the last entry before whose writes the page is read
    Use use;
};

std::uint32_t fold(std::uint32_t dst, bool folds) { return folds ? FOLD_BASE | (dst & (FOLD_SIZE - 1)) : dst; }

std::uint32_t last(const AddressRange& range) { return static_cast<std::uint32_t>(range.end - 1); }

// The stack the second-stage loader gives the kernel: from the 4 KB boundary at least
// 4 KB above the last byte it placed, downwards. Until the kernel has read its boot
// information, nothing it needs may lie between.
AddressRange kernelStack(std::uint64_t lastEnd) {
    return {static_cast<std::uint32_t>(lastEnd), (lastEnd + 0x2000) & ~std::uint64_t(0xFFF)};
}

// Two ranges that share memory, by index, if any.
std::optional<std::pair<std::size_t, std::size_t>> firstOverlap(const std::vector<AddressRange>& ranges) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < ranges.size(); ++i)
        if (!ranges[i].empty()) order.push_back(i);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return ranges[a].start != ranges[b].start ? ranges[a].start < ranges[b].start : a < b;
    });
    std::optional<std::size_t> reach;  // the range reaching furthest so far
    for (std::size_t i : order) {
        if (reach && ranges[i].start < ranges[*reach].end) return std::pair{std::min(*reach, i), std::max(*reach, i)};
        if (!reach || ranges[i].end > ranges[*reach].end) reach = i;
    }
    return std::nullopt;
}

// The pieces a range of chunked data lands on once each chunk's start is folded.
void foldedPieces(const AddressRange& range, std::vector<AddressRange>& out) {
    for (std::uint64_t at = range.start; at < range.end;) {
        std::uint64_t next = std::min<std::uint64_t>(range.end, (at & ~std::uint64_t(FOLD_SIZE - 1)) + FOLD_SIZE);
        std::uint32_t start = fold(static_cast<std::uint32_t>(at), true);
        out.push_back({start, start + (next - at)});
        at = next;
    }
}

std::u16string describeRam(MemoryManager& memory) {
    std::string text;
    for (const AddressRange& run : populatedRam(memory)) {
        char line[32];
        std::snprintf(line, sizeof line, "%s0x%08x-0x%08x", text.empty() ? "" : ", ", run.start, last(run));
        text += line;
    }
    if (text.empty()) text = "none";
    return std::u16string(text.begin(), text.end());
}

// True when every byte of the range lies in one of the CPU's banks (when they are
// known) and can be mapped as memory.
bool inRam(MemoryManager& memory, const AddressRange& range) {
    if (memory.bankCount() > 0) {
        for (std::uint64_t at = range.start; at < range.end;) {
            std::uint64_t bankEnd = 0;
            for (int i = 0; i < memory.bankCount(); ++i) {
                const MemoryBank& bank = memory.bank(i);
                if (at >= bank.address && at - bank.address < bank.size) bankEnd = std::uint64_t(bank.address) + bank.size;
            }
            if (bankEnd == 0) return false;
            at = bankEnd;
        }
    }
    return range.end - range.start <= 0xFFFFFFFFu &&
           memory.canMapPhysical(range.start, static_cast<std::uint32_t>(range.end - range.start));
}

}  // namespace

std::vector<AddressRange> populatedRam(MemoryManager& memory) {
    std::vector<AddressRange> runs;
    const std::uint32_t page = memory.pageSize;
    for (int i = 0; i < memory.bankCount() && page; ++i) {
        const MemoryBank& bank = memory.bank(i);
        if (bank.size < page || !memory.canMapPhysical(bank.address, page)) continue;
        std::uint32_t good = 1, bad = bank.size / page + 1;  // pages: RAM below good, none from bad on
        while (bad - good > 1) {
            std::uint32_t middle = good + (bad - good) / 2;
            if (memory.canMapPhysical(bank.address + (middle - 1) * page, page))
                good = middle;
            else
                bad = middle;
        }
        runs.push_back({bank.address, std::uint64_t(bank.address) + std::uint64_t(good) * page});
    }
    return runs;
}

bool checkHandOver(MemoryManager& memory, const HandOverPlan& plan, Console& console) {
    const std::uint32_t pageSize = memory.pageSize;
    // Pool pages by physical address, to read the list as the loader will.
    std::unordered_map<std::uint32_t, std::uint32_t> virtualOf;
    const TranslationEntry* table = memory.translationTable();
    // Only the entries the pool's search wrote: a shortened pool leaves the rest empty.
    for (std::uint32_t i = 0; table && i < memory.mappedEntries(); ++i) virtualOf[table[i].paddr & ~(pageSize - 1)] = table[i].vaddr;
    auto readLink = [&](std::uint32_t paddr, PageLink& link) {
        auto page = virtualOf.find(paddr & ~(pageSize - 1));
        if (page == virtualOf.end() || paddr % 4 != 0 || (paddr % pageSize) > pageSize - sizeof(PageLink)) return false;
        std::memcpy(&link, ce::pointerAt(page->second + paddr % pageSize), sizeof link);
        return true;
    };

    std::unordered_map<std::uint32_t, Need> needs;
    auto need = [&](std::uint32_t start, std::uint64_t length, std::uint32_t lastEntry, Use use) {
        if (length == 0) return;
        std::uint64_t end = static_cast<std::uint64_t>(start) + length;
        for (std::uint64_t page = start & ~(pageSize - 1); page < end; page += pageSize) {
            Need& n = needs.try_emplace(static_cast<std::uint32_t>(page), Need{0, use}).first->second;
            if (lastEntry >= n.lastEntry) n = Need{lastEntry, use};
        }
    };
    need(plan.parameterPagePhys & ~(pageSize - 1), pageSize, FOREVER, Use::BootInfo);
    need(plan.loaderPaddr, pageSize, FOREVER, Use::Loader);
    need(plan.stackPaddr, pageSize, FOREVER, Use::Stack);

    struct Entry {
        std::uint32_t dst;
        std::uint64_t length;  // in whole words, as the loader stores them
    };
    std::vector<Entry> entries;
    std::vector<AddressRange> written;  // the bytes each entry is meant to place
    std::uint32_t link = plan.pageLinkPhys;
    std::uint32_t limit = memory.mappedEntries() * static_cast<std::uint32_t>(pageSize / sizeof(PageLink)) + 1;
    while (link != PAGE_LINK_END) {
        PageLink entry{};
        if (entries.size() >= limit || !readLink(link, entry)) {
            console.print(u"page link list is broken at 0x%08x.\n", link);
            return false;
        }
        std::uint32_t index = static_cast<std::uint32_t>(entries.size());
        // Entry `index` is read before any of its own writes.
        if (index > 0) need(link, sizeof(PageLink), index - 1, Use::ListEntry);
        std::uint64_t words = (static_cast<std::uint64_t>(entry.size) + 3) & ~std::uint64_t(3);
        if (entry.src != PAGE_LINK_ZERO) need(entry.src, (words + 7) & ~std::uint64_t(7), index, Use::Source);
        entries.push_back({fold(entry.dst, plan.foldsDestinations), words});
        written.push_back({entries.back().dst, std::uint64_t(entries.back().dst) + entry.size});
        link = entry.next;
    }

    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        std::uint64_t end = static_cast<std::uint64_t>(entries[i].dst) + entries[i].length;
        for (std::uint64_t page = entries[i].dst & ~(pageSize - 1); page < end; page += pageSize) {
            auto n = needs.find(static_cast<std::uint32_t>(page));
            if (n != needs.end() && n->second.lastEntry >= i) {
                console.print(u"page link %d: destination 0x%08x-0x%08x would overwrite %s at 0x%08x.\n", i,
                              entries[i].dst, static_cast<std::uint32_t>(end - 1), useName(n->second.use),
                              static_cast<std::uint32_t>(page));
                return false;
            }
        }
    }

    // The later of two entries that place bytes on the same memory spoils the earlier.
    if (auto both = firstOverlap(written)) {
        const AddressRange& a = written[both->first];
        const AddressRange& b = written[both->second];
        console.print(u"page links %d and %d: destinations 0x%08x-0x%08x and 0x%08x-0x%08x overlap.\n",
                      static_cast<int>(both->first), static_cast<int>(both->second), a.start, last(a), b.start,
                      last(b));
        return false;
    }

    if (!written.empty()) {
        const AddressRange stack = kernelStack(written.back().end);
        const std::uint32_t info = plan.parameterPagePhys & ~(pageSize - 1);
        if (stack.overlaps({info, std::uint64_t(info) + pageSize})) {
            console.print(u"the kernel's first stack 0x%08x-0x%08x would overwrite the boot information page at 0x%08x.\n",
                          stack.start, last(stack), info);
            return false;
        }
    }

    // With the MMU off a store outside RAM goes nowhere, or to a device.
    std::vector<AddressRange> stores;
    for (const Entry& e : entries)
        if (e.length > 0) stores.push_back({e.dst, std::uint64_t(e.dst) + e.length});
    std::sort(stores.begin(), stores.end(), [](const AddressRange& a, const AddressRange& b) { return a.start < b.start; });
    std::vector<AddressRange> merged;
    for (const AddressRange& r : stores) {
        if (!merged.empty() && r.start <= merged.back().end)
            merged.back().end = std::max(merged.back().end, r.end);
        else
            merged.push_back(r);
    }
    for (const AddressRange& r : merged) {
        if (!inRam(memory, r)) {
            console.print(u"destination 0x%08x-0x%08x is outside RAM (RAM: %s).\n", r.start, last(r),
                          describeRam(memory).c_str());
            return false;
        }
    }
    return true;
}

bool placeDestinations(std::vector<AddressRange>& destinations, bool folds, Console& console) {
    if (auto both = firstOverlap(destinations)) {
        const AddressRange& a = destinations[both->first];
        const AddressRange& b = destinations[both->second];
        console.print(u"destinations 0x%08x-0x%08x and 0x%08x-0x%08x overlap.\n", a.start, last(a), b.start, last(b));
        return false;
    }
    std::vector<AddressRange> placed;
    for (const AddressRange& range : destinations) {
        if (folds)
            foldedPieces(range, placed);
        else
            placed.push_back(range);
    }
    if (firstOverlap(placed)) {
        std::uint32_t low = 0xFFFFFFFFu;
        std::uint64_t high = 0;
        for (const AddressRange& range : destinations) {
            low = std::min(low, range.start);
            high = std::max(high, range.end);
        }
        console.print(u"kernel layout 0x%08x-0x%08x is longer than the 16 MB the loader folds it into.\n", low,
                      static_cast<std::uint32_t>(high - 1));
        return false;
    }
    // One piece of data split by the fold (an image whose tail wraps round to the
    // start of SDRAM) is no longer where the kernel looks for it.
    for (const AddressRange& range : destinations) {
        const std::uint64_t boundary = (std::uint64_t(range.start) | (FOLD_SIZE - 1)) + 1;
        if (folds && range.end > boundary) {
            console.print(u"destination 0x%08x-0x%08x crosses 0x%08x, where the loader folds it back into the same 16 MB.\n",
                          range.start, last(range), static_cast<std::uint32_t>(boundary));
            return false;
        }
    }
    // The kernel's first stack lies above the last piece (the list's last entry).
    if (!destinations.empty()) {
        const AddressRange& lastPiece = destinations.back();
        placed.push_back(kernelStack(std::uint64_t(fold(lastPiece.start, folds)) + (lastPiece.end - lastPiece.start)));
    }
    destinations = std::move(placed);
    return true;
}

}  // namespace quorvel

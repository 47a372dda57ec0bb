// The pre-jump check of the copy list. The second-stage loader performs the entries
// in order with the MMU off: entry i must not write a page that holds a later entry,
// the source of entry i or a later one, the boot information page, the loader or its
// stack.
#include "arch/arm/hand_over_check.h"

#include <cstring>
#include <limits>
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

std::uint32_t fold(std::uint32_t dst, bool folds) { return folds ? 0xA0000000u | (dst & 0x00FFFFFFu) : dst; }

}  // namespace

bool checkHandOver(MemoryManager& memory, const HandOverPlan& plan, Console& console) {
    const std::uint32_t pageSize = memory.pageSize;
    // Pool pages by physical address, to read the list as the loader will.
    std::unordered_map<std::uint32_t, std::uint32_t> virtualOf;
    const TranslationEntry* table = memory.translationTable();
    for (std::uint32_t i = 0; table && i < memory.tableEntries(); ++i) virtualOf[table[i].paddr & ~(pageSize - 1)] = table[i].vaddr;
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
        std::uint64_t length;
    };
    std::vector<Entry> entries;
    std::uint32_t link = plan.pageLinkPhys;
    std::uint32_t limit = memory.tableEntries() * (pageSize / sizeof(PageLink)) + 1;
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
    return true;
}

}  // namespace quorvel

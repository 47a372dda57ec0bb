// The simulated Windows CE's ARMv4 translation tables.
#include "sim/page_tables.h"

#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

constexpr std::uint32_t TYPE_MASK = 3;
constexpr std::uint32_t FIRST_COARSE = 1;
constexpr std::uint32_t FIRST_SECTION = 2;
constexpr std::uint32_t FIRST_FINE = 3;
constexpr std::uint32_t SECOND_LARGE = 1;
constexpr std::uint32_t SECOND_SMALL = 2;
constexpr std::uint32_t SECOND_TINY = 3;
constexpr std::uint32_t FIRST_LEVEL_ONE = 0x10;  // bit 4 of every first-level descriptor
constexpr std::uint32_t ENTRIES_PER_LARGE = PageTables::LARGE_PAGE / PageTables::SMALL_PAGE;
constexpr std::uint32_t ENTRIES_PER_COARSE = PageTables::SECTION / PageTables::SMALL_PAGE;
constexpr std::uint32_t INITIAL_TABLE_FRAMES = 16;  // 64 coarse tables before any frame is borrowed

std::uint32_t accessBits(PageTables::Attributes attributes) {
    return attributes.writable ? 3 : 2;  // read/write for all, or read-only for user mode
}

std::uint32_t cacheBits(PageTables::Attributes attributes) { return attributes.cached ? 0xC : 0; }

}  // namespace

PageTables::PageTables(PhysicalMemory& memory, std::uint32_t processId)
    : memory_(memory), processId_(processId & 0xFE000000u), directory_(FIRST_LEVEL_SIZE / 4) {
    // The tables sit at the top of the first bank that can hold them, where they are
    // out of the way of a kernel loaded low in RAM.
    std::optional<std::uint32_t> bankBase;
    for (const RamBank& bank : memory_.banks()) {
        std::uint64_t top = (static_cast<std::uint64_t>(bank.base) + bank.size) & ~std::uint64_t(FIRST_LEVEL_SIZE - 1);
        if (top >= static_cast<std::uint64_t>(bank.base) + FIRST_LEVEL_SIZE) {
            firstLevel_ = static_cast<std::uint32_t>(top - FIRST_LEVEL_SIZE);
            bankBase = bank.base;
            break;
        }
    }
    if (!bankBase) throw std::invalid_argument("no RAM bank can hold the first-level translation table");

    std::vector<PhysicalAddress> wanted;
    for (std::uint32_t i = 0; i < FIRST_LEVEL_SIZE / FRAME_SIZE; ++i) wanted.push_back(PhysicalAddress(firstLevel_) + i * FRAME_SIZE);
    for (std::uint32_t i = 1; i <= INITIAL_TABLE_FRAMES && firstLevel_ - *bankBase >= i * FRAME_SIZE; ++i)
        wanted.push_back(PhysicalAddress(firstLevel_ - i * FRAME_SIZE));
    memory_.preferFrames(wanted);
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        std::optional<PhysicalAddress> frame = memory_.allocateFrame();
        if (i < FIRST_LEVEL_SIZE / FRAME_SIZE && frame != wanted[i])
            throw std::runtime_error("the first-level translation table's frames are taken");
        if (!frame) break;
        std::memset(memory_.host(*frame), 0, FRAME_SIZE);
        if (i >= FIRST_LEVEL_SIZE / FRAME_SIZE) {
            for (std::uint32_t slot = 0; slot < FRAME_SIZE; slot += COARSE_SIZE) freeTables_.push_back(frame->value() + slot);
        }
    }
}

std::uint32_t PageTables::modifiedAddress(std::uint32_t va) const {
    return va < SLOT_SIZE ? (va | processId_) : va;
}

std::uint32_t PageTables::readFirst(std::uint32_t index) const {
    return memory_.readWord(PhysicalAddress(firstLevel_ + index * 4));
}

void PageTables::writeFirst(std::uint32_t index, std::uint32_t descriptor) {
    memory_.writeWord(PhysicalAddress(firstLevel_ + index * 4), descriptor);
}

std::uint32_t PageTables::takeTable() {
    if (freeTables_.empty()) {
        std::optional<PhysicalAddress> frame = memory_.allocateFrame();
        if (!frame) return 0;
        for (std::uint32_t slot = 0; slot < FRAME_SIZE; slot += COARSE_SIZE) freeTables_.push_back(frame->value() + slot);
    }
    std::uint32_t table = freeTables_.back();
    freeTables_.pop_back();
    std::memset(memory_.host(PhysicalAddress(table)), 0, COARSE_SIZE);
    return table;
}

void PageTables::releaseTable(std::uint32_t index) {
    freeTables_.push_back(directory_[index].table);
    directory_[index] = Directory{};
}

bool PageTables::coarseFor(std::uint32_t index) {
    std::uint32_t type = readFirst(index) & TYPE_MASK;
    if (type == FIRST_COARSE) return true;
    if (type == FIRST_SECTION) {
        splitSection(index);
        return true;
    }
    std::uint32_t table = takeTable();
    if (!table) return false;
    directory_[index] = Directory{table, 0};
    writeFirst(index, table | FIRST_LEVEL_ONE | FIRST_COARSE);
    return true;
}

void PageTables::splitSection(std::uint32_t index) {
    std::uint32_t section = readFirst(index);
    std::uint32_t base = section & 0xFFF00000u;
    std::uint32_t access = (section >> 10) & 3;
    std::uint32_t cache = section & 0xC;
    std::uint32_t table = directory_[index].table;  // set aside when the section was made
    std::memset(memory_.host(PhysicalAddress(table)), 0, COARSE_SIZE);
    for (std::uint32_t i = 0; i < ENTRIES_PER_COARSE; ++i)
        memory_.writeWord(PhysicalAddress(table + i * 4), (base + i * SMALL_PAGE) | (access * 0x55) << 4 | cache | SECOND_SMALL);
    directory_[index].used = ENTRIES_PER_COARSE;
    writeFirst(index, table | FIRST_LEVEL_ONE | FIRST_COARSE);
}

void PageTables::splitLargePage(std::uint32_t table, std::uint32_t entry) {
    std::uint32_t first = entry & ~(ENTRIES_PER_LARGE - 1);
    std::uint32_t large = memory_.readWord(PhysicalAddress(table + first * 4));
    std::uint32_t base = large & 0xFFFF0000u;
    std::uint32_t flags = large & 0xFFC;  // access and cache bits sit alike in both kinds
    for (std::uint32_t j = 0; j < ENTRIES_PER_LARGE; ++j)
        memory_.writeWord(PhysicalAddress(table + (first + j) * 4), (base + j * SMALL_PAGE) | flags | SECOND_SMALL);
}

bool PageTables::map(std::uint32_t va, std::uint32_t pa, std::uint32_t size, Attributes attributes) {
    std::uint32_t access = accessBits(attributes);
    std::uint32_t cache = cacheBits(attributes);
    std::uint32_t done = 0;
    while (done < size) {
        std::uint32_t left = size - done;
        std::uint32_t mva = modifiedAddress(va + done);
        std::uint32_t frame = pa + done;
        std::uint32_t index = mva >> 20;
        if (mva % SECTION == 0 && frame % SECTION == 0 && left >= SECTION && (readFirst(index) & TYPE_MASK) == 0) {
            // A spare coarse table goes with every section, so that unmapping part of
            // it later never needs memory.
            if (std::uint32_t spare = takeTable()) {
                directory_[index] = Directory{spare, 0};
                writeFirst(index, frame | access << 10 | FIRST_LEVEL_ONE | cache | FIRST_SECTION);
                done += SECTION;
                continue;
            }
        }
        if (!coarseFor(index)) {
            unmap(va, done);
            return false;
        }
        Directory& directory = directory_[index];
        std::uint32_t entry = (mva >> 12) & (ENTRIES_PER_COARSE - 1);
        PhysicalAddress slot(directory.table + entry * 4);
        if (mva % LARGE_PAGE == 0 && frame % LARGE_PAGE == 0 && left >= LARGE_PAGE) {
            bool empty = true;
            for (std::uint32_t j = 0; j < ENTRIES_PER_LARGE; ++j) empty = empty && memory_.readWord(slot + j * 4) == 0;
            if (empty) {
                // ARMv4 wants a large page repeated in all sixteen of its entries.
                for (std::uint32_t j = 0; j < ENTRIES_PER_LARGE; ++j)
                    memory_.writeWord(slot + j * 4, frame | (access * 0x55) << 4 | cache | SECOND_LARGE);
                directory.used += ENTRIES_PER_LARGE;
                done += LARGE_PAGE;
                continue;
            }
        }
        std::uint32_t old = memory_.readWord(slot);
        if ((old & TYPE_MASK) == SECOND_LARGE) splitLargePage(directory.table, entry);
        if ((old & TYPE_MASK) == 0) ++directory.used;
        memory_.writeWord(slot, frame | (access * 0x55) << 4 | cache | SECOND_SMALL);
        done += SMALL_PAGE;
    }
    return true;
}

void PageTables::unmapPage(std::uint32_t mva) {
    std::uint32_t index = mva >> 20;
    if ((readFirst(index) & TYPE_MASK) == FIRST_SECTION) splitSection(index);
    if ((readFirst(index) & TYPE_MASK) != FIRST_COARSE) return;
    Directory& directory = directory_[index];
    std::uint32_t entry = (mva >> 12) & (ENTRIES_PER_COARSE - 1);
    PhysicalAddress slot(directory.table + entry * 4);
    std::uint32_t old = memory_.readWord(slot);
    if ((old & TYPE_MASK) == 0) return;
    if ((old & TYPE_MASK) == SECOND_LARGE) splitLargePage(directory.table, entry);
    memory_.writeWord(slot, 0);
    if (--directory.used == 0) {
        writeFirst(index, 0);
        releaseTable(index);
    }
}

void PageTables::unmap(std::uint32_t va, std::uint32_t size) {
    std::uint32_t done = 0;
    while (done < size) {
        std::uint32_t left = size - done;
        std::uint32_t mva = modifiedAddress(va + done);
        std::uint32_t index = mva >> 20;
        std::uint32_t first = readFirst(index);
        if ((first & TYPE_MASK) == FIRST_SECTION && mva % SECTION == 0 && left >= SECTION) {
            writeFirst(index, 0);
            releaseTable(index);
            done += SECTION;
            continue;
        }
        if ((first & TYPE_MASK) == FIRST_COARSE && mva % LARGE_PAGE == 0 && left >= LARGE_PAGE) {
            Directory& directory = directory_[index];
            PhysicalAddress slot(directory.table + ((mva >> 12) & (ENTRIES_PER_COARSE - 1)) * 4);
            if ((memory_.readWord(slot) & TYPE_MASK) == SECOND_LARGE) {
                for (std::uint32_t j = 0; j < ENTRIES_PER_LARGE; ++j) memory_.writeWord(slot + j * 4, 0);
                directory.used -= ENTRIES_PER_LARGE;
                if (directory.used == 0) {
                    writeFirst(index, 0);
                    releaseTable(index);
                }
                done += LARGE_PAGE;
                continue;
            }
        }
        unmapPage(mva);
        done += SMALL_PAGE;
    }
}

std::optional<PhysicalAddress> PageTables::translate(std::uint32_t va) const {
    return translateThrough(memory_, firstLevel_, modifiedAddress(va));
}

std::optional<PhysicalAddress> translateThrough(const PhysicalMemory& memory, std::uint32_t firstLevel,
                                                std::uint32_t mva) {
    auto word = [&](std::uint32_t address) -> std::optional<std::uint32_t> {
        if (!memory.contains(PhysicalAddress(address), 4)) return std::nullopt;
        return memory.readWord(PhysicalAddress(address));
    };
    const std::optional<std::uint32_t> first = word((firstLevel & 0xFFFFC000u) + (mva >> 20) * 4);
    if (!first) return std::nullopt;
    std::optional<std::uint32_t> second;
    switch (*first & TYPE_MASK) {
    case FIRST_SECTION: return PhysicalAddress((*first & 0xFFF00000u) | (mva & 0x000FFFFFu));
    case FIRST_COARSE: second = word((*first & 0xFFFFFC00u) | ((mva >> 10) & 0x3FC)); break;
    case FIRST_FINE: second = word((*first & 0xFFFFF000u) | ((mva >> 8) & 0xFFC)); break;
    default: return std::nullopt;
    }
    if (!second) return std::nullopt;
    switch (*second & TYPE_MASK) {
    case SECOND_LARGE: return PhysicalAddress((*second & 0xFFFF0000u) | (mva & 0xFFFF));
    case SECOND_SMALL: return PhysicalAddress((*second & 0xFFFFF000u) | (mva & 0xFFF));
    case SECOND_TINY:
        // A tiny page in a fine table; the XScale's extended small page in a coarse one.
        if ((*first & TYPE_MASK) == FIRST_FINE) return PhysicalAddress((*second & 0xFFFFFC00u) | (mva & 0x3FF));
        return PhysicalAddress((*second & 0xFFFFF000u) | (mva & 0xFFF));
    default: return std::nullopt;
    }
}

}  // namespace sim

// The simulated virtual address space.
#include "sim/address_space.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/types.h"
#include "sim/device.h"

namespace sim {

namespace {

constexpr std::uint32_t PAGE = FRAME_SIZE;

// One window of host address space below 4 GB for the whole process; handhelds
// come and go, the window stays.
struct HostWindow {
    std::uint32_t base = 0;
    std::uint32_t size = 0x40000000;

    HostWindow() {
        for (std::uint64_t hint : {0x20000000ull, 0x40000000ull, 0x60000000ull, 0x80000000ull, 0x10000000ull}) {
            void* p = mmap(reinterpret_cast<void*>(hint), size, PROT_NONE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
            if (p == reinterpret_cast<void*>(hint)) {
                base = static_cast<std::uint32_t>(hint);
                return;
            }
            if (p != MAP_FAILED) munmap(p, size);
        }
        throw std::runtime_error("no host address space below 4 GB for the simulated handheld");
    }
};

HostWindow& hostWindow() {
    static HostWindow window;
    return window;
}

void* at(std::uint32_t address) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)); }

void makeInaccessible(std::uint32_t address, std::uint32_t size) {
    mmap(at(address), size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
}

}  // namespace

AddressSpace::AddressSpace(PhysicalMemory& memory, std::vector<Device*> devices, std::uint32_t processId)
    : memory_(memory), tables_(memory, processId), devices_(std::move(devices)) {
    hostWindow();
}

AddressSpace::~AddressSpace() {
    for (auto& [base, region] : regions_) {
        for (std::uint32_t i = 0; i < region.pages.size(); ++i) unmapPage(base + i * PAGE, region.pages[i], false);
        makeInaccessible(base, region.size);
    }
}

std::uint32_t AddressSpace::windowBase() const { return hostWindow().base; }
std::uint32_t AddressSpace::windowSize() const { return hostWindow().size; }

AddressSpace::Region* AddressSpace::regionOf(std::uint32_t address, std::uint32_t& base) {
    return const_cast<Region*>(static_cast<const AddressSpace*>(this)->regionOf(address, base));
}

const AddressSpace::Region* AddressSpace::regionOf(std::uint32_t address, std::uint32_t& base) const {
    auto it = regions_.upper_bound(address);
    if (it == regions_.begin()) return nullptr;
    --it;
    if (address - it->first >= it->second.size) return nullptr;
    base = it->first;
    return &it->second;
}

std::uint32_t AddressSpace::findGap(std::uint32_t size) const {
    std::uint64_t candidate = windowBase();
    std::uint64_t end = candidate + windowSize();
    for (const auto& [base, region] : regions_) {
        if (candidate + size <= base) break;
        candidate = std::max<std::uint64_t>(candidate, base + region.size);
    }
    return candidate + size <= end ? static_cast<std::uint32_t>(candidate) : 0;
}

void AddressSpace::unmapPage(std::uint32_t address, Page& page, bool hostToo) {
    if (page.kind != PageKind::Reserved) tables_.unmap(address, PAGE);
    if (page.kind == PageKind::Committed) memory_.freeFrame(PhysicalAddress(page.physical));
    if (hostToo && (page.kind == PageKind::Committed || page.kind == PageKind::Ram)) makeInaccessible(address, PAGE);
    page = Page{};
}

bool AddressSpace::mapFrame(std::uint32_t address, std::uint32_t physical, bool writable, std::uint32_t size,
                            bool replace) {
    int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    // Into a gap, a mapping that appeared there meanwhile is never replaced.
    void* p = mmap(at(address), size, protection, MAP_SHARED | (replace ? MAP_FIXED : MAP_FIXED_NOREPLACE),
                   memory_.backingFd(), static_cast<off_t>(memory_.backingOffset(PhysicalAddress(physical))));
    return p == at(address);
}

std::uint32_t AddressSpace::allocate(std::uint32_t address, std::uint32_t size, std::uint32_t type,
                                     std::uint32_t& error) {
    if (size == 0 || (type & (ce::MEM_COMMIT | ce::MEM_RESERVE)) == 0) {
        error = ce::ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::uint32_t base = 0;
    Region* region = nullptr;
    bool created = address == 0;
    if (created) {
        std::uint64_t rounded = (static_cast<std::uint64_t>(size) + GRANULARITY - 1) & ~std::uint64_t(GRANULARITY - 1);
        std::uint32_t gap = rounded > windowSize() ? 0 : findGap(static_cast<std::uint32_t>(rounded));
        if (gap == 0) {
            error = ce::ERROR_NOT_ENOUGH_MEMORY;
            return 0;
        }
        base = gap;
        region = &regions_[gap];
        region->size = static_cast<std::uint32_t>(rounded);
        region->pages.resize(region->size / PAGE);
        address = gap;
        if (!(type & ce::MEM_COMMIT)) return gap;
    } else {
        region = regionOf(address, base);
        if (!region || size > region->size - (address - base)) {
            error = ce::ERROR_INVALID_ADDRESS;
            return 0;
        }
        if (!(type & ce::MEM_COMMIT)) return address;  // reserving twice is harmless
    }

    std::uint32_t first = (address - base) / PAGE;
    std::uint32_t last = (address - base + size - 1) / PAGE;
    for (std::uint32_t i = first; i <= last; ++i) {
        PageKind kind = region->pages[i].kind;
        if (kind != PageKind::Committed && kind != PageKind::Reserved) {
            error = ce::ERROR_INVALID_ADDRESS;
            return 0;
        }
    }
    // Frames and translation entries first: a commit that RAM cannot meet leaves
    // nothing behind.
    std::vector<std::uint32_t> fresh;
    auto undo = [&] {
        for (std::uint32_t j : fresh) unmapPage(base + j * PAGE, region->pages[j], false);
        if (created) regions_.erase(base);
    };
    for (std::uint32_t i = first; i <= last; ++i) {
        Page& page = region->pages[i];
        if (page.kind == PageKind::Committed) continue;
        auto frame = memory_.allocateFrame();
        bool described = frame && tables_.map(base + i * PAGE, frame->value(), PAGE, {true, true});
        if (!described) {
            if (frame) memory_.freeFrame(*frame);
            undo();
            error = ce::ERROR_NOT_ENOUGH_MEMORY;
            return 0;
        }
        page = Page{PageKind::Committed, frame->value(), nullptr};
        fresh.push_back(i);
    }
    // Committed pages start zeroed.
    std::vector<PhysicalAddress> frames;
    frames.reserve(fresh.size());
    for (std::uint32_t i : fresh) frames.emplace_back(region->pages[i].physical);
    memory_.zeroFrames(std::move(frames));
    // Then the host: each run of new pages leaves the window's reservation at once and
    // its frames are mapped into the gap, which costs the host far less than
    // replacing the reservation page by page.
    for (std::size_t k = 0; k < fresh.size();) {
        std::size_t end = k + 1;
        while (end < fresh.size() && fresh[end] == fresh[end - 1] + 1) ++end;
        const std::uint32_t runAt = base + fresh[k] * PAGE;
        const auto runSize = static_cast<std::uint32_t>(end - k) * PAGE;
        // A single page replaces its piece of the reservation in one call.
        const bool gap = end - k > 1;
        bool mapped = !gap || munmap(at(runAt), runSize) == 0;
        for (std::size_t j = k; mapped && j < end; ++j) {
            const Page& page = region->pages[fresh[j]];
            mapped = mapFrame(base + fresh[j] * PAGE, page.physical, true, PAGE, !gap);
        }
        if (!mapped) {
            for (std::size_t j = 0; j < end; ++j) makeInaccessible(base + fresh[j] * PAGE, PAGE);
            undo();
            error = ce::ERROR_NOT_ENOUGH_MEMORY;
            return 0;
        }
        k = end;
    }
    return base + first * PAGE;
}

bool AddressSpace::free(std::uint32_t address, std::uint32_t size, std::uint32_t type, std::uint32_t& error) {
    std::uint32_t base = 0;
    Region* region = regionOf(address, base);
    if (!region) {
        error = ce::ERROR_INVALID_PARAMETER;
        return false;
    }
    if (type & ce::MEM_RELEASE) {
        if (size != 0 || address != base) {
            error = ce::ERROR_INVALID_PARAMETER;
            return false;
        }
        // One host mapping for the whole region: thousands of page-sized ones cost.
        for (std::uint32_t i = 0; i < region->pages.size(); ++i) unmapPage(base + i * PAGE, region->pages[i], false);
        makeInaccessible(base, region->size);
        regions_.erase(base);
        return true;
    }
    if (type & ce::MEM_DECOMMIT) {
        if (size == 0 || size > region->size - (address - base)) {
            error = ce::ERROR_INVALID_PARAMETER;
            return false;
        }
        std::uint32_t first = (address - base) / PAGE;
        std::uint32_t last = (address - base + size - 1) / PAGE;
        for (std::uint32_t i = first; i <= last; ++i) unmapPage(base + i * PAGE, region->pages[i], false);
        makeInaccessible(base + first * PAGE, (last - first + 1) * PAGE);
        return true;
    }
    error = ce::ERROR_INVALID_PARAMETER;
    return false;
}

bool AddressSpace::copy(std::uint32_t dest, std::uint64_t physical, std::uint32_t size, std::uint32_t protect,
                        std::uint32_t& error) {
    std::uint32_t base = 0;
    Region* region = regionOf(dest, base);
    if (!region || size == 0 || dest % PAGE != 0 || physical % PAGE != 0 || !(protect & ce::PAGE_PHYSICAL) ||
        size > region->size - (dest - base) || physical + size > 0x100000000ull) {
        error = ce::ERROR_INVALID_PARAMETER;
        return false;
    }
    std::uint32_t first = (dest - base) / PAGE;
    std::uint32_t count = (size + PAGE - 1) / PAGE;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (region->pages[first + i].kind != PageKind::Reserved) {
            error = ce::ERROR_INVALID_PARAMETER;
            return false;
        }
    }
    bool writable = (protect & ce::PAGE_READWRITE) != 0;
    for (std::uint32_t i = 0; i < count;) {
        std::uint32_t p = static_cast<std::uint32_t>(physical) + i * PAGE;
        Page& page = region->pages[first + i];
        if (memory_.contains(PhysicalAddress(p), PAGE)) {
            // RAM that lies in one piece of the backing is mapped in one go.
            std::uint32_t run = 1;
            const std::uint64_t offset = memory_.backingOffset(PhysicalAddress(p));
            while (i + run < count && memory_.contains(PhysicalAddress(p + run * PAGE), PAGE) &&
                   memory_.backingOffset(PhysicalAddress(p + run * PAGE)) == offset + std::uint64_t{run} * PAGE)
                ++run;
            if (mapFrame(dest + i * PAGE, p, writable, run * PAGE)) {
                for (std::uint32_t k = 0; k < run; ++k) region->pages[first + i + k] = Page{PageKind::Ram, p + k * PAGE, nullptr};
                i += run;
                continue;
            }
        }
        Device* device = nullptr;
        for (Device* d : devices_) {
            if (d->contains(p)) device = d;
        }
        if (!device) {
            for (std::uint32_t j = 0; j < i; ++j) unmapPage(dest + j * PAGE, region->pages[first + j]);
            error = ce::ERROR_INVALID_PARAMETER;
            return false;
        }
        page = Page{PageKind::Device, p, device};
        ++i;
    }
    if (!tables_.map(dest, static_cast<std::uint32_t>(physical), count * PAGE,
                     {writable, (protect & ce::PAGE_NOCACHE) == 0})) {
        for (std::uint32_t i = 0; i < count; ++i) unmapPage(dest + i * PAGE, region->pages[first + i]);
        error = ce::ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return true;
}

std::optional<PhysicalAddress> AddressSpace::physicalOf(std::uint32_t address) const {
    std::uint32_t base = 0;
    const Region* region = regionOf(address, base);
    if (!region) return std::nullopt;
    const Page& page = region->pages[(address - base) / PAGE];
    if (page.kind != PageKind::Committed && page.kind != PageKind::Ram) return std::nullopt;
    return PhysicalAddress(page.physical + (address - base) % PAGE);
}

std::optional<AddressSpace::DeviceRegister> AddressSpace::deviceAt(std::uint32_t address) const {
    std::uint32_t base = 0;
    const Region* region = regionOf(address, base);
    if (!region) return std::nullopt;
    const Page& page = region->pages[(address - base) / PAGE];
    if (page.kind != PageKind::Device) return std::nullopt;
    std::uint32_t physical = page.physical + (address - base) % PAGE;
    return DeviceRegister{page.device, physical - page.device->base()};
}

void AddressSpace::dropHostPageEntries() {
    for (auto& [base, region] : regions_) {
        // Named for the lambda: clang 14 cannot capture a structured binding.
        std::vector<Page>& pages = region.pages;
        for (std::size_t i = 0; i < pages.size();) {
            auto shared = [&pages](std::size_t k) {
                return pages[k].kind == PageKind::Committed || pages[k].kind == PageKind::Ram;
            };
            if (!shared(i)) {
                ++i;
                continue;
            }
            std::size_t end = i + 1;
            while (end < region.pages.size() && shared(end)) ++end;
            // Shared mappings of the DRAM object: only the entries go, never the data.
            madvise(at(base + static_cast<std::uint32_t>(i) * PAGE), (end - i) * PAGE, MADV_DONTNEED);
            i = end;
        }
    }
}

bool AddressSpace::isMemory(std::uint32_t address) const { return physicalOf(address).has_value(); }

}  // namespace sim

// The simulated DRAM and its frame allocator.
#include "sim/physical_memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

// The system's heap lives in host memory beside the DRAM. Blocks of this size and more
// are mapped on their own, so that what the system frees (the gzip front's kept bytes
// as the loader reads them) leaves the process at once, as it returns to the free RAM
// of a device, instead of staying resident in the middle of the heap.
constexpr int HEAP_BLOCKS_MAPPED_FROM = 16 << 10;

}  // namespace

PhysicalMemory::PhysicalMemory(const std::vector<RamBank>& banks, std::uint32_t seed, FrameOrder frameOrder,
                               const std::vector<RamBank>& reserved)
    : banks_(banks) {
    static const bool heapSet = mallopt(M_MMAP_THRESHOLD, HEAP_BLOCKS_MAPPED_FROM) == 1;
    (void)heapSet;
    for (const RamBank& bank : banks) ramSize_ += bank.size;
    banks_.insert(banks_.end(), reserved.begin(), reserved.end());
    for (const RamBank& bank : banks_) {
        if (bank.size == 0 || bank.size % FRAME_SIZE != 0 || bank.base % FRAME_SIZE != 0 ||
            bank.size - 1 > 0xFFFFFFFFu - bank.base)
            throw std::invalid_argument("RAM bank must be whole frames inside 4 GB");
        offsets_.push_back(total_);
        total_ += bank.size;
    }
    fd_ = memfd_create("sim-dram", MFD_CLOEXEC);
    if (fd_ < 0 || ftruncate(fd_, static_cast<off_t>(total_)) != 0) throw std::runtime_error("no host memory for DRAM");
    void* view = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (view == MAP_FAILED) throw std::runtime_error("cannot map DRAM");
    view_ = static_cast<std::uint8_t*>(view);

    std::mt19937 random(seed);
    std::vector<PhysicalAddress> order;
    auto share = [&](PhysicalAddress frame) {
        // One frame in seven stays with the rest of the system.
        if (random() % 7 != 0)
            order.push_back(frame);
        else
            held_.push_back(frame);
    };
    if (frameOrder == FrameOrder::Scattered) {
        // Anywhere in RAM, low addresses as likely as high ones, as on a device that
        // has been running for a while.
        std::vector<PhysicalAddress> all;
        for (const RamBank& bank : banks)
            for (std::uint32_t i = 0; i < bank.size / FRAME_SIZE; ++i) all.emplace_back(bank.base + i * FRAME_SIZE);
        std::shuffle(all.begin(), all.end(), random);
        for (PhysicalAddress frame : all) share(frame);
    } else {
        // Top of RAM downwards, in runs of 16 frames shuffled among themselves, so a
        // region's frames are neither contiguous nor ordered.
        for (auto bank = banks.rbegin(); bank != banks.rend(); ++bank) {
            std::uint32_t frames = bank->size / FRAME_SIZE;
            for (std::uint32_t top = frames; top > 0;) {
                std::uint32_t run = std::min<std::uint32_t>(16, top);
                std::vector<PhysicalAddress> chunk;
                for (std::uint32_t i = 0; i < run; ++i) chunk.emplace_back(bank->base + (top - 1 - i) * FRAME_SIZE);
                std::shuffle(chunk.begin(), chunk.end(), random);
                for (PhysicalAddress frame : chunk) share(frame);
                top -= run;
            }
        }
    }
    free_.assign(order.rbegin(), order.rend());
}

PhysicalMemory::~PhysicalMemory() {
    if (view_) munmap(view_, total_);
    if (fd_ >= 0) close(fd_);
}

bool PhysicalMemory::contains(PhysicalAddress address, std::uint32_t size) const {
    for (const RamBank& bank : banks_) {
        std::uint32_t a = address.value();
        if (a >= bank.base && a - bank.base < bank.size && size <= bank.size - (a - bank.base)) return true;
    }
    return false;
}

std::uint64_t PhysicalMemory::backingOffset(PhysicalAddress address) const {
    for (std::size_t i = 0; i < banks_.size(); ++i) {
        std::uint32_t a = address.value();
        if (a >= banks_[i].base && a - banks_[i].base < banks_[i].size) return offsets_[i] + (a - banks_[i].base);
    }
    throw std::out_of_range("not RAM");
}

std::uint8_t* PhysicalMemory::host(PhysicalAddress address) const { return view_ + backingOffset(address); }

std::uint32_t PhysicalMemory::readWord(PhysicalAddress address) const {
    std::uint32_t value;
    std::memcpy(&value, host(address), 4);
    return value;
}

void PhysicalMemory::writeWord(PhysicalAddress address, std::uint32_t value) {
    std::memcpy(host(address), &value, 4);
}

std::optional<PhysicalAddress> PhysicalMemory::allocateFrame() {
    while (!preferred_.empty()) {
        PhysicalAddress frame = preferred_.front();
        preferred_.pop_front();
        auto it = std::find(free_.begin(), free_.end(), frame);
        if (it != free_.end()) {
            free_.erase(it);
            return frame;
        }
    }
    if (free_.empty()) return std::nullopt;
    PhysicalAddress frame = free_.back();
    free_.pop_back();
    return frame;
}

void PhysicalMemory::freeFrame(PhysicalAddress frame) { free_.push_back(frame); }

void PhysicalMemory::zeroFrames(std::vector<PhysicalAddress> frames) {
    // A hole in the backing object, unlike a page swapped out, is no data; touching it
    // here would only make the host provide the page before the first real write.
    std::vector<off_t> offsets;
    offsets.reserve(frames.size());
    for (PhysicalAddress frame : frames) offsets.push_back(static_cast<off_t>(backingOffset(frame)));
    std::sort(offsets.begin(), offsets.end());
    // [dataFrom, dataTo) is a stretch of data the host reported: frames inside it are
    // cleared, frames before it are holes.
    off_t dataFrom = -1;
    off_t dataTo = -1;
    for (off_t offset : offsets) {
        if (offset >= dataTo) {
            dataFrom = lseek(fd_, offset, SEEK_DATA);
            if (dataFrom < 0) {
                if (errno != ENXIO) {
                    // No answer: clear as if every frame held data.
                    std::memset(view_ + offset, 0, FRAME_SIZE);
                    continue;
                }
                break;  // no data at or after this offset: the rest are holes
            }
            dataTo = lseek(fd_, dataFrom, SEEK_HOLE);
            if (dataTo < 0) dataTo = static_cast<off_t>(total_);
        }
        if (offset + static_cast<off_t>(FRAME_SIZE) > dataFrom) std::memset(view_ + offset, 0, FRAME_SIZE);
    }
}

void PhysicalMemory::preferFrames(const std::vector<PhysicalAddress>& frames) {
    for (PhysicalAddress frame : frames) {
        // A frame the rest of the system held is given up for the purpose; one that
        // is committed already is not taken away.
        auto held = std::find(held_.begin(), held_.end(), frame);
        if (held != held_.end()) {
            held_.erase(held);
            free_.insert(free_.begin(), frame);
        }
        preferred_.push_back(frame);
    }
}

}  // namespace sim

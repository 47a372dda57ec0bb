// The ELF loader on a simulated handheld, reading the input through the gzip front as
// the boot does (a gzip-compressed kernel is inflated, any other file passes through):
// attach, estimate, a pool of what the estimate asks for, load, finish the list.
//
// Besides memory errors it stops on broken promises: a load that reports success must
// leave a list of at least one entry, ending in the end mark within the pool, whose
// entries are never empty and whose copies come from pool pages.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "boot/boot_menu.h"
#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "loader/elf_loader.h"
#include "loader/page_link.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/coredll.h"
#include "support/device.h"

namespace {

class Quiet : public quorvel::Console {
public:
    void print(const ce::WCHAR*, ...) override {}
};

class MemoryFile : public quorvel::FileManager {
public:
    MemoryFile(quorvel::Console*& consoleSlot, std::string bytes) : FileManager(consoleSlot), bytes(std::move(bytes)) {}
    ce::BOOL setLocation(const ce::WCHAR*) override { return 1; }
    ce::BOOL open(const ce::WCHAR*, int) override {
        position = 0;
        return 1;
    }
    std::uint32_t storedSize() override { return static_cast<std::uint32_t>(bytes.size()); }
    int close() override { return 1; }
    std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset) override {
        if (offset != -1) position = static_cast<std::uint32_t>(offset);
        if (position >= bytes.size()) return 0;
        std::size_t n = std::min<std::size_t>(length, bytes.size() - position);
        std::memcpy(buffer, bytes.data() + position, n);
        position += static_cast<std::uint32_t>(n);
        return static_cast<std::int32_t>(n);
    }
    std::int32_t write(const void*, std::uint32_t, std::int32_t) override { return -1; }
    ce::BOOL seek(std::uint32_t offset) override {
        position = offset;
        return 1;
    }

    std::string bytes;
    std::uint32_t position = 0;
};

void check(bool promise) {
    if (!promise) std::abort();
}

constexpr std::uint32_t PAGE = 4096;
constexpr std::uint32_t POOL_LIMIT = 1u << 20;  // estimates above this are not loaded

// The list as the second-stage loader follows it, through the pool's pages.
void checkList(sim::PhysicalMemory& ram, const quorvel::LockPagesMemoryManager& pool, std::uint32_t head) {
    auto inPool = [&](std::uint32_t address, std::uint32_t size) {
        for (int i = 0; i < pool.poolCount(); ++i) {
            std::uint32_t page = pool.translationTable()[i].paddr;
            if (address >= page && address - page <= PAGE - size && size <= PAGE) return true;
        }
        return false;
    };
    std::uint32_t at = head;
    const std::uint32_t limit = static_cast<std::uint32_t>(pool.poolCount()) * (PAGE / 16);
    for (std::uint32_t n = 0;; ++n) {
        check(n < limit);
        check(inPool(at, sizeof(quorvel::PageLink)));
        quorvel::PageLink link;
        std::memcpy(&link, ram.host(sim::PhysicalAddress(at)), sizeof link);
        check(link.size != 0);
        if (link.src != quorvel::PAGE_LINK_ZERO) check(inPool(link.src, link.size));
        if (link.next == quorvel::PAGE_LINK_END) return;
        at = link.next;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static testing_support::TestDevice* device = [] {
        auto* made = new testing_support::TestDevice;
        quorvel::theBootMenu().safetyMessage = ce::FALSE;
        return made;
    }();
    static Quiet quiet;
    static ce::LockPagesRoutine lock = [] {
        ce::HMODULE coredll = ce::LoadLibraryW(u"coredll.dll");
        return reinterpret_cast<ce::LockPagesRoutine>(ce::GetProcAddressW(coredll, u"LockPages"));
    }();
    static ce::UnlockPagesRoutine unlock = [] {
        ce::HMODULE coredll = ce::LoadLibraryW(u"coredll.dll");
        return reinterpret_cast<ce::UnlockPagesRoutine>(ce::GetProcAddressW(coredll, u"UnlockPages"));
    }();

    quorvel::Console* console = &quiet;
    quorvel::FileManager* files =
        new quorvel::GzipFileManager(console, new MemoryFile(console, std::string(reinterpret_cast<const char*>(data), size)));
    std::unique_ptr<quorvel::FileManager> owner(files);
    if (!files->open(u"kernel", 3)) return 0;

    auto memory = std::make_unique<quorvel::LockPagesMemoryManager>(lock, unlock, console, PAGE, 0);
    quorvel::MemoryManager* memorySlot = memory.get();
    if (!memory->buildPool(PAGE, false)) return 0;  // neededMemory reads the page size only

    if (quorvel::Loader::probeFormat(*files) != quorvel::LoaderFormat::Elf) return 0;
    quorvel::ElfLoader loader(console, memorySlot);
    if (!loader.attachFile(files)) return 0;
    const std::uint32_t needed = loader.neededMemory();
    if (needed > POOL_LIMIT) return 0;

    // The estimate in pages of data (each carries PAGE - 16 bytes), plus the list's
    // head page.
    memory = std::make_unique<quorvel::LockPagesMemoryManager>(lock, unlock, console, PAGE, 0);
    memorySlot = memory.get();
    const std::uint32_t pages = ((needed + PAGE - 1) / PAGE * PAGE + PAGE - 17) / (PAGE - 16) + 1;
    if (!memory->buildPool(pages * PAGE, false)) return 0;
    const int loaded = loader.load();
    if (!loaded) return 0;
    loader.finishLinks();
    check(loader.linkHead() != 0);
    checkList((*device)->memory(), *memory, loader.linkHead());
    return 0;
}

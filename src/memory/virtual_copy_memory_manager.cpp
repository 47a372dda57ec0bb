// Physical addresses found by searching physical memory for a signature.
#include "memory/virtual_copy_memory_manager.h"

#include "console/console.h"
#include "platform/address.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {
constexpr ce::DWORD WINDOW_PROTECTION = ce::PAGE_PHYSICAL | ce::PAGE_NOCACHE | ce::PAGE_READONLY;
}  // namespace

VirtualCopyMemoryManager::VirtualCopyMemoryManager(Console*& consoleIn, std::uint32_t pageBytes)
    : MemoryManager(consoleIn, pageBytes) {
    console().print(u"MemoryManager: VirtualCopy\n");
}

std::uint32_t VirtualCopyMemoryManager::drawSignatureWord() {
    std::uint32_t value;
    do value = ce::Random();
    while (value == SIGNATURE_CLEARED);
    return value;
}

std::uint32_t VirtualCopyMemoryManager::lookupPhysical(std::uint32_t vaddr) {
    // The pool is uncached: the signature is in physical memory as soon as written.
    magicTarget = reinterpret_cast<volatile std::uint32_t*>(ce::pointerAt(vaddr));
    magic0 = drawSignatureWord();
    magic1 = drawSignatureWord();
    magicTarget[0] = magic0;
    magicTarget[1] = magic1;

    std::uint32_t result = searchAllBanks();
    if (result == NO_ADDRESS && searchHint != 0) {
        // The page lies outside the hinted bank or below the hint.
        searchHint = 0;
        result = searchAllBanks();
    }
    magicTarget[0] = SIGNATURE_CLEARED;
    magicTarget[1] = SIGNATURE_CLEARED;
    return result;
}

std::uint32_t VirtualCopyMemoryManager::searchAllBanks() {
    std::uint32_t result = NO_ADDRESS;
    for (int i = 0; i < bankCount_ && result == NO_ADDRESS; ++i) result = searchBank(banks_[i]);
    return result;
}

std::uint32_t VirtualCopyMemoryManager::searchBank(const MemoryBank& bank) {
    const std::uint64_t bankEnd = std::uint64_t(bank.address) + bank.size;
    std::uint64_t cur = searchHint ? searchHint : bank.address;
    // While a hint is set only its bank is searched, from the hint on.
    if (cur < bank.address || cur >= bankEnd) return NO_ADDRESS;

    void* window = ce::VirtualAlloc(nullptr, WINDOW_SIZE, ce::MEM_RESERVE, ce::PAGE_NOACCESS);
    if (!window) {
        console().print(u"can't allocate virtual memory.\n");
        return NO_ADDRESS;
    }
    const std::uint32_t windowAddress = ce::addressOf(window);
    std::uint32_t result = NO_ADDRESS;
    for (;;) {
        const auto physical = static_cast<std::uint32_t>(cur);
        // A window reaching past the 32-bit physical space cannot be mapped.
        if (cur + WINDOW_SIZE > 0x100000000ull ||
            !ce::VirtualCopy(window, reinterpret_cast<void*>(static_cast<std::uintptr_t>(physical >> 8)), WINDOW_SIZE,
                             WINDOW_PROTECTION)) {
            console().print(u"can't map physical addr 0x%08x(->0x%08x)\n", windowAddress, physical);
            break;
        }
        bool found = false;
        std::uint32_t offset = 0;
        if (pageSize != 0) {
            auto bytes = static_cast<const volatile std::uint8_t*>(window);
            // Both signature words of a position lie inside the window.
            for (; offset <= WINDOW_SIZE - 8; offset += pageSize) {
                auto words = reinterpret_cast<const volatile std::uint32_t*>(bytes + offset);
                if (words[0] == magic0 && words[1] == magic1) {
                    found = true;
                    break;
                }
            }
        }
        if (!ce::VirtualFree(window, WINDOW_SIZE, ce::MEM_DECOMMIT)) {
            console().print(u"can't decommit addr 0x%08x(->0x%08x)\n", windowAddress, physical);
            break;
        }
        if (found) {
            result = physical + offset;
            searchHint = physical;
            break;
        }
        cur += WINDOW_SIZE;
        if (cur >= bankEnd) break;
    }
    if (!ce::VirtualFree(window, 0, ce::MEM_RELEASE)) console().print(u"can't release memory\n");
    return result;
}

}  // namespace quorvel

// What the kernel is handed: the boot information page's layout, the BootInfo
// record and the framebuffer description it is filled from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "boot/platform_id.h"
#include "platform/types.h"

namespace quorvel {

// The first four words of the boot information page: the kernel's entry and the
// three arguments it is called with. Pointers are physical.
struct KernelCallRecord {
    std::uint32_t entry;
    std::uint32_t argc;
    std::uint32_t argv;
    std::uint32_t bootInfo;
};
static_assert(sizeof(KernelCallRecord) == 16);

constexpr std::uint32_t BOOTINFO_SIGNATURE = 0x13536135;

struct BootInfo {
    std::uint16_t length;
    std::uint16_t reserved;
    std::uint32_t magic;
    std::uint32_t fbAddress;
    std::int16_t fbLineBytes;
    std::int16_t fbWidth;
    std::int16_t fbHeight;
    std::int16_t fbType;
    std::int16_t consoleKind;
    std::uint16_t reserved2;
    PlatformId platform;
    std::int32_t timezone;
};
static_assert(sizeof(BootInfo) == 36);
static_assert(offsetof(BootInfo, fbAddress) == 8);
static_assert(offsetof(BootInfo, consoleKind) == 20);
static_assert(offsetof(BootInfo, platform) == 24);
static_assert(offsetof(BootInfo, timezone) == 32);

// Offsets within the boot information page.
constexpr std::uint32_t BOOT_INFO_OFFSET = 16;
constexpr std::uint32_t ARGV_OFFSET = BOOT_INFO_OFFSET + sizeof(BootInfo);  // 52
constexpr int ARGV_ENTRIES = 16;
constexpr std::uint32_t ARGUMENT_STRINGS_OFFSET = ARGV_OFFSET + ARGV_ENTRIES * 4;  // 116
// The extra kernel options end at least this far before the page's end.
constexpr std::uint32_t PAGE_TAIL_RESERVE = 16;

// The `space` argument of makeKernelArguments for an argv array at ARGV_OFFSET of a
// page of pageSize bytes: up to pageSize - 16.
constexpr std::uint32_t argumentSpace(std::uint32_t pageSize) { return pageSize - ARGV_OFFSET - PAGE_TAIL_RESERVE; }

struct FramebufferEntry {
    PlatformId platform;
    std::int32_t bpp;
    std::int32_t width;
    std::int32_t height;
    std::int32_t lineBytes;
    std::uint32_t physAddress;
};
static_assert(sizeof(FramebufferEntry) == 28);

// Ended by a row whose cpu word is 0.
extern const FramebufferEntry framebufferTable[];

// The framebuffer of a platform: a table row matching it, preferably one with the
// screen's depth, or else the screen as Windows CE reports it.
class FramebufferDescription {
public:
    FramebufferDescription(std::uint32_t cpu, std::uint32_t machine);
    virtual ~FramebufferDescription() = default;
    FramebufferDescription(const FramebufferDescription&) = delete;
    FramebufferDescription& operator=(const FramebufferDescription&) = delete;

    const FramebufferEntry& entry() const { return *chosen; }
    std::int32_t bitsPerPixel() const { return chosen->bpp; }
    std::int32_t width() const { return chosen->width; }
    std::int32_t height() const { return chosen->height; }
    std::int32_t lineBytes() const { return chosen->lineBytes; }
    std::uint32_t physAddress() const { return chosen->physAddress; }
    // True when no table row matched and the screen's own values were taken.
    bool fromScreen() const { return chosen == &own; }

    // The type code for the chosen depth, with the BootMenu's reverseVideo.
    std::int16_t framebufferType() const;
    std::int16_t framebufferType(ce::BOOL reverseVideo) const;
    static std::int16_t typeFor(std::int32_t bpp, ce::BOOL reverseVideo);

private:
    FramebufferEntry own = {};
    const FramebufferEntry* chosen = &own;
};

}  // namespace quorvel

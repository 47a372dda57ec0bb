// The kernel's hand-over data: framebuffer description, BootInfo record and the
// argument vector built from the boot options.
#include "boot/boot_info.h"

#include <cstring>
#include <memory>
#include <new>

#include "hardware/cpu_models.h"
#include "boot/boot_menu.h"
#include "platform/coredll.h"

namespace quorvel {

const FramebufferEntry framebufferTable[] = {
    // HP Jornada 820
    {.platform = {CPU_WORD_SA1100, 0x02C20301}, .bpp = 8, .width = 640, .height = 480, .lineBytes = 0, .physAddress = 0},
    // HP Jornada 820 (Japanese)
    {.platform = {CPU_WORD_SA1100, 0x02C20302}, .bpp = 8, .width = 640, .height = 480, .lineBytes = 0, .physAddress = 0},
    // every HP Jornada 720 variant
    {.platform = {CPU_WORD_SA1110, 0x02C20200}, .bpp = 16, .width = 640, .height = 240, .lineBytes = 1280, .physAddress = 0x48200000},
    // Compaq iPAQ H3600
    {.platform = {CPU_WORD_SA1110, 0x01C40201}, .bpp = 16, .width = 320, .height = 240, .lineBytes = 640, .physAddress = 0},
    // Compaq iPAQ H3900
    {.platform = {CPU_WORD_PXA250, 0x01C40301}, .bpp = 16, .width = 320, .height = 240, .lineBytes = 640, .physAddress = 0},
    // PSIONTEKLOGIX NETBOOK PRO
    {.platform = {CPU_WORD_PXA250, 0x04010100}, .bpp = 16, .width = 800, .height = 600, .lineBytes = 1600, .physAddress = 0x14200000},
    {.platform = {0, 0}, .bpp = 0, .width = 0, .height = 0, .lineBytes = 0, .physAddress = 0},  // the end
};

FramebufferDescription::FramebufferDescription(std::uint32_t cpu, std::uint32_t machine) {
    const PlatformId subject = {cpu, machine};
    ce::HDC screen = ce::GetDC(nullptr);
    const int screenBpp = ce::GetDeviceCaps(screen, ce::BITSPIXEL);
    const FramebufferEntry* fallback = nullptr;
    chosen = nullptr;
    for (const FramebufferEntry* row = framebufferTable; row->platform.cpu != 0; ++row) {
        if (platformMatch(subject, row->platform, false) == 0) continue;
        if (row->bpp == screenBpp) {
            chosen = row;
            break;
        }
        fallback = row;
    }
    if (!chosen) chosen = fallback;
    if (!chosen) {
        own.platform = subject;
        own.bpp = screenBpp;
        own.width = ce::GetDeviceCaps(screen, ce::HORZRES);
        own.height = ce::GetDeviceCaps(screen, ce::VERTRES);
        own.lineBytes = 0;
        own.physAddress = 0;
        chosen = &own;
    }
    ce::ReleaseDC(nullptr, screen);
}

std::int16_t FramebufferDescription::typeFor(std::int32_t bpp, ce::BOOL reverseVideo) {
    switch (bpp) {
    case 4: return reverseVideo ? 8 : 10;
    case 8: return reverseVideo ? 4 : 3;
    case 16: return reverseVideo ? 6 : 5;
    default: return reverseVideo ? 0 : 2;
    }
}

std::int16_t FramebufferDescription::framebufferType(ce::BOOL reverseVideo) const {
    return typeFor(chosen->bpp, reverseVideo);
}

std::int16_t FramebufferDescription::framebufferType() const { return framebufferType(theBootMenu().reverseVideo); }

void BootMenu::makeBootInfo(BootInfo* record) {
    FramebufferDescription framebuffer(platform.cpu, platform.machine);
    ce::TIME_ZONE_INFORMATION zone;
    std::memset(&zone, 0, sizeof zone);
    const ce::DWORD zoneId = ce::GetTimeZoneInformation(&zone);

    std::memset(record, 0, sizeof *record);
    record->length = sizeof(BootInfo);
    record->reserved = 0;
    record->magic = BOOTINFO_SIGNATURE;
    record->fbAddress = framebuffer.physAddress();
    record->fbType = framebuffer.framebufferType(reverseVideo);
    record->fbLineBytes = static_cast<std::int16_t>(framebuffer.lineBytes());
    record->fbWidth = static_cast<std::int16_t>(framebuffer.width());
    record->fbHeight = static_cast<std::int16_t>(framebuffer.height());
    record->platform = platform;
    record->timezone = zone.Bias;
    if (zoneId == ce::TIME_ZONE_ID_DAYLIGHT) record->timezone = zone.Bias + zone.DaylightBias;
}

namespace {

constexpr int MAX_ARGUMENTS = ARGV_ENTRIES;

bool isSeparator(char c) { return c == ' ' || c == '\t'; }

// Length of a wide string kept in a fixed array that may lack its terminator.
int boundedLength(const ce::WCHAR* text, std::size_t capacity) {
    std::size_t n = 0;
    while (n < capacity && text[n]) ++n;
    return static_cast<int>(n);
}

// Writes the argument strings behind the argv array, keeping the virtual write
// position and its physical twin in step.
class ArgumentWriter {
public:
    ArgumentWriter(std::uint32_t* array, std::uint32_t arrayPhys, std::uint32_t limit)
        : argv(array), argvPhys(arrayPhys), space(limit), out(reinterpret_cast<char*>(array) + ARGV_ENTRIES * 4),
          next(arrayPhys + ARGV_ENTRIES * 4) {}

    // Bytes left before the limit for the extra options.
    std::uint32_t room() const {
        std::uint32_t used = next - argvPhys;
        return space < used ? 0 : space - used;
    }

    void add(const char* text, std::size_t length) {
        std::memcpy(out, text, length);
        place(length);
    }

    // Adds prefix followed by the 8-bit form of a wide text. The converted part is
    // bounded by the room left, so an outsized name cannot run off the page; one that
    // does not fit is left empty.
    void addConverted(const char* prefix, const ce::WCHAR* wide, std::size_t capacity) {
        std::size_t prefixLength = std::strlen(prefix);
        std::memcpy(out, prefix, prefixLength);
        int wideLength = boundedLength(wide, capacity);
        int converted = 0;
        std::uint32_t left = room();
        if (wideLength > 0 && left > prefixLength + 1) {
            converted = ce::WideCharToMultiByte(ce::CP_ACP, 0, wide, wideLength, out + prefixLength,
                                                static_cast<int>(left - prefixLength - 1), nullptr, nullptr);
        }
        place(prefixLength + static_cast<std::size_t>(converted > 0 ? converted : 0));
    }

    int count() const { return argc; }

private:
    // The string of `length` bytes at the write position becomes the next argument.
    void place(std::size_t length) {
        argv[argc] = next;
        out[length] = 0;
        out += length + 1;
        next += static_cast<std::uint32_t>(length) + 1;
        ++argc;
    }

    std::uint32_t* argv;
    std::uint32_t argvPhys;
    std::uint32_t space;
    char* out;
    std::uint32_t next;
    int argc = 0;
};

void warn(ce::HWND owner, const ce::WCHAR* text) {
    ce::MessageBoxW(owner, text, u"WARNING", ce::MB_ICONEXCLAMATION);
    ce::UpdateWindow(owner);
}

}  // namespace

int BootMenu::makeKernelArguments(std::uint32_t* argv, std::uint32_t argvPhys, std::uint32_t space) {
    ArgumentWriter writer(argv, argvPhys, space);

    writer.addConverted("", kernelName, PATH_SIZE);

    const struct {
        ce::BOOL set;
        const char* letter;
    } flags[] = {
        {serialConsole, "h"}, {bootVerbose, "v"}, {bootSingleUser, "s"}, {askFileName, "a"}, {kernelDebugger, "d"},
    };
    for (const auto& flag : flags) {
        if (flag.set) writer.add(flag.letter, 1);
    }

    switch (rootFileSystem) {
    case ROOT_SD: writer.add("b=sd0", 5); break;
    case ROOT_MD: writer.addConverted("m=", fileSystemImage, PATH_SIZE); break;
    case ROOT_NFS: writer.add("b=nfs", 5); break;
    case ROOT_DK: writer.add("b=dk0", 5); break;
    case ROOT_LD: writer.add("b=ld0", 5); break;
    default: break;  // wd: the kernel's own default root
    }

    const int wideLength = boundedLength(extraKernelOptions, EXTRA_OPTIONS_SIZE);
    if (wideLength == 0) return writer.count();
    int length = ce::WideCharToMultiByte(ce::CP_ACP, 0, extraKernelOptions, wideLength, nullptr, 0, nullptr, nullptr);
    if (length < 0) length = 0;
    std::unique_ptr<char[]> options(new (std::nothrow) char[static_cast<std::size_t>(length) + 1]);
    if (!options) {
        warn(mainWindowHandle(), u"Can't allocate memory for extra kernel options.");
        return writer.count();
    }
    if (length > 0) {
        length = ce::WideCharToMultiByte(ce::CP_ACP, 0, extraKernelOptions, wideLength, options.get(), length, nullptr, nullptr);
    }
    options[length] = 0;

    const char* p = options.get();
    while (isSeparator(*p)) ++p;
    while (*p) {
        const char* start = p;
        while (*p && !isSeparator(*p)) ++p;
        const std::uint32_t tokenLength = static_cast<std::uint32_t>(p - start);
        if (writer.count() >= MAX_ARGUMENTS || writer.room() < tokenLength + 1) {
            warn(mainWindowHandle(), u"Too many extra kernel options.");
            break;
        }
        writer.add(start, tokenLength);
        while (isSeparator(*p)) ++p;
    }
    return writer.count();
}

}  // namespace quorvel

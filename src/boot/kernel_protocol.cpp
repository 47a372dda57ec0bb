// The Linux command line made from the boot options.
#include "boot/kernel_protocol.h"

#include <vector>

#include "boot/boot_menu.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {

std::string narrow(const ce::WCHAR* text, std::size_t limit) {
    std::size_t length = 0;
    while (length < limit && text[length]) ++length;
    if (length == 0) return {};
    // Each UTF-16 unit becomes at most two bytes in a double-byte code page.
    std::vector<char> bytes(length * 2 + 1);
    int n = ce::WideCharToMultiByte(ce::CP_ACP, 0, text, static_cast<int>(length), bytes.data(),
                                    static_cast<int>(bytes.size()), nullptr, nullptr);
    return n > 0 ? std::string(bytes.data(), static_cast<std::size_t>(n)) : std::string();
}

void append(std::string& line, const std::string& word) {
    if (word.empty()) return;
    if (!line.empty()) line += ' ';
    line += word;
}

}  // namespace

std::string linuxCommandLine(const BootMenu& menu) {
    std::string line;
    if (menu.rootFileSystem == ROOT_MD)
        append(line, "root=/dev/ram0");
    else if (menu.rootFileSystem == ROOT_NFS)
        append(line, "root=/dev/nfs");
    if (menu.bootSingleUser) append(line, "single");
    // The extra options come last, so that a root= of the user's own wins.
    std::string extra = narrow(menu.extraKernelOptions, EXTRA_OPTIONS_SIZE);
    std::size_t first = extra.find_first_not_of(" \t");
    std::size_t last = extra.find_last_not_of(" \t");
    if (first != std::string::npos) append(line, extra.substr(first, last - first + 1));
    return line;
}

void keepLinuxPageTableClear(std::vector<AddressRange>& destinations) {
    constexpr std::uint32_t PAGE_TABLE_SIZE = 0x4000;
    if (destinations.empty()) return;
    std::uint32_t low = destinations.front().start;
    for (const AddressRange& range : destinations) low = range.start < low ? range.start : low;
    if (low < PAGE_TABLE_SIZE) return;
    destinations.insert(destinations.begin(), AddressRange{low - PAGE_TABLE_SIZE, low});
}

const char* protocolName(KernelProtocol protocol) { return protocol == KernelProtocol::Linux ? "linux" : "native"; }

}  // namespace quorvel

// The hand-over as a developer wants to see it.
#include "app/hand_over_report.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "sim/disassembly.h"

namespace quorvel::app {

namespace {

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

// The number after `marker` in `line`, read as hexadecimal.
bool hexAfter(const std::string& line, const char* marker, std::uint32_t& value) {
    std::size_t at = line.find(marker);
    if (at == std::string::npos) return false;
    return std::sscanf(line.c_str() + at + std::strlen(marker), "%x", &value) == 1;
}

void extend(Area& area, std::uint32_t begin, std::uint32_t end) {
    if (area.begin == area.end) {
        area = {begin, end};
        return;
    }
    area.begin = std::min(area.begin, begin);
    area.end = std::max(area.end, end);
}

const char* modeName(std::uint32_t mode) {
    switch (mode & 0x1F) {
    case 0x10: return "User";
    case 0x11: return "FIQ";
    case 0x12: return "IRQ";
    case 0x13: return "Supervisor";
    case 0x17: return "Abort";
    case 0x1B: return "Undefined";
    case 0x1F: return "System";
    default: return "unknown";
    }
}

std::string cpsrText(std::uint32_t cpsr) {
    std::string flags;
    flags += (cpsr & 0x80000000u) ? 'N' : 'n';
    flags += (cpsr & 0x40000000u) ? 'Z' : 'z';
    flags += (cpsr & 0x20000000u) ? 'C' : 'c';
    flags += (cpsr & 0x10000000u) ? 'V' : 'v';
    flags += (cpsr & 0x80u) ? " I" : " i";
    flags += (cpsr & 0x40u) ? 'F' : 'f';
    flags += (cpsr & 0x20u) ? 'T' : 't';
    return hex(cpsr) + " " + modeName(cpsr) + " mode, flags " + flags;
}

const char* reasonName(sim::HaltReason reason) {
    switch (reason) {
    case sim::HaltReason::Halted: return "halted";
    case sim::HaltReason::Returned: return "returned";
    case sim::HaltReason::Exception: return "exception";
    case sim::HaltReason::UnmappedAccess: return "unmapped-access";
    case sim::HaltReason::ProtectedAccess: return "protected-access";
    case sim::HaltReason::BudgetExhausted: return "instruction-budget";
    case sim::HaltReason::TimedOut: return "timeout";
    case sim::HaltReason::Interrupted: return "interrupted";
    case sim::HaltReason::Stopped: return "stopped";
    case sim::HaltReason::Failed: return "failed";
    }
    return "unknown";
}

bool faulted(sim::HaltReason reason) {
    return reason == sim::HaltReason::Exception || reason == sim::HaltReason::UnmappedAccess ||
           reason == sim::HaltReason::ProtectedAccess;
}

std::string instructionAt(sim::Handheld& device, const sim::HandOverResult& result) {
    const bool thumb = (result.cpsr & 0x20) != 0;
    const std::uint32_t size = thumb ? 2 : 4;
    const std::optional<std::uint32_t> at =
        sim::physicalAddressOf(device.memory(), result.control, result.translationTable, result.processId, result.pc);
    if (!at || !device.memory().contains(sim::PhysicalAddress(*at), size)) return "";
    const std::uint8_t* bytes = device.memory().host(sim::PhysicalAddress(*at));
    return sim::disassemble(result.pc, std::span<const std::uint8_t>(bytes, size), thumb);
}

}  // namespace

std::string regionOf(std::uint32_t pc, const HandOverMap& map) {
    if (map.loaderPage && pc - map.loaderPage < map.pageSize) return "loader page";
    if (pc >= sim::CODE_WINDOW && pc - sim::CODE_WINDOW < sim::CODE_WINDOW_SIZE) return "flat jump";
    for (const Segment& s : map.segments)
        if (pc - map.fold(s.paddr) < s.memSize) return "kernel";
    return "";
}

HandOverMap describeLoggedPieces(const sim::Handheld& device, const sim::HandOverResult& result, const std::string& log) {
    HandOverMap map;
    map.folds = device.settings().cpu == sim::CpuFamily::PXA2x0;
    map.cpu = map.folds ? "PXA-2x0" : "SA-11x0";
    map.bootInfoPage = result.jumpArguments[0];
    map.stackTop = result.jumpArguments[2];
    // Bit 0 asks the flat jump for SVC mode; the page is the rest.
    map.loaderPage = result.jumpArguments[3] & ~1u;
    map.entry = result.entry;

    // The loader's own account of the pieces.
    std::istringstream lines(log);
    std::string line;
    enum { KERNEL, KSYMS, IMAGE } part = KERNEL;
    while (std::getline(lines, line)) {
        std::uint32_t a = 0, b = 0;
        if (line.rfind("protocol: ", 0) == 0) {
            const std::size_t open = line.find(" (");
            map.protocol = line.substr(10, open == std::string::npos ? std::string::npos : open - 10);
            if (open != std::string::npos && line.back() == ')') map.protocolReason = line.substr(open + 2, line.size() - open - 3);
        } else if (line.rfind("quorvel build number", 0) == 0) {
            std::getline(lines, line);
            map.platform = line.substr(0, line.find(" (cpu="));
        } else if (line.rfind("seg[", 0) == 0 && line.find(" paddr ") != std::string::npos) {
            Segment s{};
            if (hexAfter(line, "paddr 0x", s.paddr) && hexAfter(line, "file size 0x", s.fileSize) &&
                hexAfter(line, "mem size 0x", s.memSize))
                map.segments.push_back(s);
        } else if (line == "ksyms") {
            part = KSYMS;
        } else if (line == "[file system image]") {
            part = IMAGE;
        } else if (line.rfind("load link ", 0) == 0) {
            part = KERNEL;
        } else if (part != KERNEL && line.find("->load 0x") != std::string::npos && hexAfter(line, "->load 0x", a) &&
                   hexAfter(line, "=0x", b)) {
            extend(part == KSYMS ? map.ksyms : map.image, map.fold(a), map.fold(b));
        }
    }
    return map;
}

HandOverMap describeHandOver(sim::Handheld& device, const sim::HandOverResult& result, const std::string& log) {
    HandOverMap map = describeLoggedPieces(device, result, log);
    sim::PhysicalMemory& memory = device.memory();

    // The copy list as it lies in memory.
    std::uint32_t next = result.jumpArguments[1];
    for (std::size_t n = 0; next != PAGE_LINK_END; ++n) {
        if (n > (1u << 20) || !memory.contains(sim::PhysicalAddress(next), sizeof(PageLink))) {
            map.linkError = "list broken at " + hex(next);
            break;
        }
        PageLink link;
        std::memcpy(&link, memory.host(sim::PhysicalAddress(next)), sizeof link);
        map.links.push_back(link);
        next = link.next;
    }

    // The boot information page as the kernel was given it, not as a run left it:
    // a kernel may reuse the page (Linux clears tags it has read).
    const std::vector<std::uint8_t>& saved = result.bootPageAtJump;
    auto bytesAt = [&](std::uint32_t address, std::uint32_t size) -> const std::uint8_t* {
        const std::uint32_t offset = address - map.bootInfoPage;
        if (!saved.empty() && offset <= saved.size() && size <= saved.size() - offset) return saved.data() + offset;
        return memory.contains(sim::PhysicalAddress(address), size) ? memory.host(sim::PhysicalAddress(address)) : nullptr;
    };
    // Linux's protocol: the registers from the call record, the tag list they point at.
    if (const std::uint8_t* record = bytesAt(map.bootInfoPage, sizeof(KernelCallRecord)); map.protocol == "linux" && record) {
        KernelCallRecord call;
        std::memcpy(&call, record, sizeof call);
        map.linuxRegisters[0] = call.argc;
        map.linuxRegisters[1] = call.argv;
        map.linuxRegisters[2] = call.bootInfo;
        // The list lies in its page; it may not run beyond it.
        const std::uint32_t room = map.pageSize - (call.bootInfo % map.pageSize);
        if (const std::uint8_t* list = bytesAt(call.bootInfo, room))
            readTagList(list, room, map.tags, map.tagError);
        else
            map.tagError = "the tag list at " + hex(call.bootInfo) + " is not in RAM";
    }
    // The boot information page: the call record, BootInfo and argv.
    else if (const std::uint8_t* page = bytesAt(map.bootInfoPage, 4096)) {
        KernelCallRecord call;
        std::memcpy(&call, page, sizeof call);
        BootInfo info;
        std::memcpy(&info, page + BOOT_INFO_OFFSET, sizeof info);
        map.bootInfo = info;
        for (std::uint32_t i = 0; i < call.argc && i < ARGV_ENTRIES; ++i) {
            std::uint32_t pointer = 0;
            std::memcpy(&pointer, page + ARGV_OFFSET + 4 * i, 4);
            if (pointer - map.bootInfoPage >= 4096) break;
            const char* text = reinterpret_cast<const char*>(page + (pointer - map.bootInfoPage));
            map.argv.emplace_back(text, strnlen(text, 4096 - (pointer - map.bootInfoPage)));
        }
    }
    map.symbols = KernelSymbols::read(memory, map.ksyms.begin, map.ksyms.end);
    return map;
}

namespace {

std::uint32_t bodyWord(const ReadTag& tag, std::size_t i) {
    if (tag.body.size() < 4 * (i + 1)) return 0;
    return static_cast<std::uint32_t>(tag.body[4 * i]) | static_cast<std::uint32_t>(tag.body[4 * i + 1]) << 8 |
           static_cast<std::uint32_t>(tag.body[4 * i + 2]) << 16 | static_cast<std::uint32_t>(tag.body[4 * i + 3]) << 24;
}

std::uint16_t bodyHalf(const ReadTag& tag, std::size_t i) {
    if (tag.body.size() < 2 * (i + 1)) return 0;
    return static_cast<std::uint16_t>(tag.body[2 * i] | tag.body[2 * i + 1] << 8);
}

std::string commandLineOf(const ReadTag& tag) {
    const char* text = reinterpret_cast<const char*>(tag.body.data());
    return std::string(text, strnlen(text, tag.body.size()));
}

// One tag as the dry run shows it.
std::string tagText(const ReadTag& tag) {
    std::string text = tagName(tag.tag);
    char detail[128] = "";
    switch (tag.tag) {
    case ATAG_CORE:
        if (tag.size == 5)
            std::snprintf(detail, sizeof detail, " flags 0x%x pagesize %u rootdev 0x%x", bodyWord(tag, 0), bodyWord(tag, 1),
                          bodyWord(tag, 2));
        break;
    case ATAG_MEM: std::snprintf(detail, sizeof detail, " 0x%08x+0x%08x", bodyWord(tag, 1), bodyWord(tag, 0)); break;
    case ATAG_INITRD2: std::snprintf(detail, sizeof detail, " 0x%08x+0x%08x", bodyWord(tag, 0), bodyWord(tag, 1)); break;
    case ATAG_VIDEOLFB:
        std::snprintf(detail, sizeof detail, " %ux%u %ubpp line %u at 0x%08x+0x%x", bodyHalf(tag, 0), bodyHalf(tag, 1),
                      bodyHalf(tag, 2), bodyHalf(tag, 3), bodyWord(tag, 2), bodyWord(tag, 3));
        break;
    case ATAG_CMDLINE: return text + " \"" + commandLineOf(tag) + "\"";
    default: break;
    }
    return text + detail;
}

// One tag as the JSON report holds it.
Json tagJson(const ReadTag& tag) {
    Json j = {{"tag", tagName(tag.tag)}, {"size_words", tag.size}};
    switch (tag.tag) {
    case ATAG_CORE:
        if (tag.size == 5) {
            j["flags"] = bodyWord(tag, 0);
            j["pagesize"] = bodyWord(tag, 1);
            j["rootdev"] = bodyWord(tag, 2);
        }
        break;
    case ATAG_MEM:
        j["start"] = bodyWord(tag, 1);
        j["size"] = bodyWord(tag, 0);
        break;
    case ATAG_INITRD2:
        j["start"] = bodyWord(tag, 0);
        j["size"] = bodyWord(tag, 1);
        break;
    case ATAG_VIDEOLFB:
        j["width"] = bodyHalf(tag, 0);
        j["height"] = bodyHalf(tag, 1);
        j["depth"] = bodyHalf(tag, 2);
        j["line_length"] = bodyHalf(tag, 3);
        j["base"] = bodyWord(tag, 2);
        j["size"] = bodyWord(tag, 3);
        break;
    case ATAG_CMDLINE: j["command_line"] = commandLineOf(tag); break;
    default: break;
    }
    return j;
}

}  // namespace

std::string handOverText(const HandOverMap& map) {
    std::ostringstream out;
    out << "PageLink list (" << map.links.size() << " entries):\n";
    out << "       src          dst          size        kind\n";
    for (const PageLink& link : map.links) {
        char row[96];
        bool zero = link.src == PAGE_LINK_ZERO;
        std::snprintf(row, sizeof row, "  %-12s %s   0x%08x  %s\n", zero ? "-" : hex(link.src).c_str(),
                      hex(map.fold(link.dst)).c_str(), link.size, zero ? "zero" : "copy");
        out << row;
    }
    if (!map.linkError.empty()) out << "  " << map.linkError << "\n";
    out << "memory map of the hand-over" << (map.folds ? " (destinations folded into 0xa0000000 + 16 MB)" : "")
        << ":\n";
    auto row = [&](const std::string& what, std::uint32_t begin, std::uint32_t end) {
        char text[96];
        std::snprintf(text, sizeof text, "  %s-%s  %s\n", hex(begin).c_str(), hex(end).c_str(), what.c_str());
        out << text;
    };
    for (std::size_t i = 0; i < map.segments.size(); ++i) {
        const Segment& s = map.segments[i];
        row("kernel segment " + std::to_string(i) + " (file 0x" + [&] {
                char t[16];
                std::snprintf(t, sizeof t, "%x", s.fileSize);
                return std::string(t);
            }() + " bytes)",
            map.fold(s.paddr), map.fold(s.paddr) + s.memSize);
    }
    if (map.ksyms.end != map.ksyms.begin) row("kernel symbols (ksyms)", map.ksyms.begin, map.ksyms.end);
    if (map.image.end != map.image.begin) row("file-system image", map.image.begin, map.image.end);
    row(map.protocol == "linux" ? "boot information page (call record and tag list)" : "boot information page",
        map.bootInfoPage, map.bootInfoPage + map.pageSize);
    row("second-stage loader page", map.loaderPage, map.loaderPage + map.pageSize);
    row("loader stack", map.stackTop - map.pageSize, map.stackTop);
    out << "kernel entry " << hex(map.entry);
    if (map.folds) out << " (entered at " << hex(map.fold(map.entry)) << ")";
    out << "\n";
    if (map.protocol == "linux") {
        char registers[96];
        std::snprintf(registers, sizeof registers, "r0 %u, r1 %u (machine number), r2 %s (tag list)",
                      map.linuxRegisters[0], map.linuxRegisters[1], hex(map.linuxRegisters[2]).c_str());
        out << "protocol linux" << (map.protocolReason.empty() ? "" : " (" + map.protocolReason + ")") << ": " << registers
            << "\ntag list:\n";
        for (const ReadTag& tag : map.tags) out << "  " << tagText(tag) << "\n";
        if (!map.tagError.empty()) out << "  " << map.tagError << "\n";
        return out.str();
    }
    out << "argv:";
    for (const std::string& a : map.argv) out << " \"" << a << "\"";
    out << "\n";
    return out.str();
}

std::string endStateText(sim::Handheld& device, const sim::HandOverResult& result, const HandOverMap& map) {
    std::ostringstream out;
    for (int i = 0; i < 16; ++i) {
        char cell[32];
        std::snprintf(cell, sizeof cell, "%s%-3s %08x", i % 4 ? "  " : "", ("r" + std::to_string(i)).c_str(), result.r[i]);
        out << cell << (i % 4 == 3 ? "\n" : "");
    }
    out << "cpsr " << cpsrText(result.cpsr) << "\n";
    if (result.reason == sim::HaltReason::UnmappedAccess || result.reason == sim::HaltReason::ProtectedAccess)
        out << "fault address " << hex(result.faultAddress) << (result.faultWrite ? " (write)" : " (read or fetch)") << "\n";
    std::string instruction = instructionAt(device, result);
    std::string where = regionOf(result.pc, map);
    out << "pc " << hex(result.pc);
    if (!instruction.empty()) out << ": " << instruction;
    if (!where.empty()) out << "  (in the " << where << ")";
    if (std::string symbol = symbolOf(result.pc, map); !symbol.empty()) out << " at " << symbol;
    out << "\n";
    if (std::string symbol = symbolOf(result.r[14], map); !symbol.empty())
        out << "lr " << hex(result.r[14]) << " at " << symbol << "\n";
    if (where == "loader page" && result.reason == sim::HaltReason::UnmappedAccess && result.faultWrite)
        out << "the second-stage loader could not copy the list: a destination is not RAM\n";
    return out.str();
}

std::string failureJson(bool started, int exitStatus, const std::string& failure, const std::string& cause,
                        const std::vector<std::string>& error) {
    Json run = {{"end", started ? "boot-failed" : "not-started"}, {"exit_status", exitStatus}, {"failure", failure}};
    if (!cause.empty()) run["cause"] = cause;
    if (!error.empty()) run["error"] = error;
    Json report;
    report["run"] = std::move(run);
    return jsonText(report);
}

std::string symbolOf(std::uint32_t address, const HandOverMap& map) {
    // Only inside the kernel: a symbol without a size would otherwise claim any
    // address above it.
    if (regionOf(address, map) != "kernel") return "";
    return map.symbols.nameOf(address, [&map](std::uint32_t a) { return map.fold(a); });
}

Json registersJson(const sim::HandOverResult& result) {
    Json registers;
    for (int i = 0; i < 16; ++i) registers["r" + std::to_string(i)] = result.r[i];
    registers["cpsr"] = result.cpsr;
    registers["cp15_control"] = result.control;
    return registers;
}

std::string reportJson(sim::Handheld& device, const sim::HandOverResult& result, const HandOverMap& map,
                       const std::string& status, int exitStatus) {
    Json report;
    report["platform"] = map.platform;
    report["cpu"] = map.cpu;
    report["main_id"] = device.settings().mainId;
    Json links = Json::array();
    for (const PageLink& l : map.links) {
        bool zero = l.src == PAGE_LINK_ZERO;
        links.push_back({{"source", zero ? Json(nullptr) : Json(l.src)},
                         {"destination", map.fold(l.dst)},
                         {"size", l.size},
                         {"kind", zero ? "zero" : "copy"}});
    }
    report["page_links"] = std::move(links);
    Json segments = Json::array();
    for (const Segment& s : map.segments)
        segments.push_back({{"paddr", map.fold(s.paddr)}, {"file_size", s.fileSize}, {"mem_size", s.memSize}});
    report["segments"] = std::move(segments);
    auto area = [](const Area& a) { return a.begin == a.end ? Json(nullptr) : Json{{"start", a.begin}, {"end", a.end}}; };
    report["ksyms"] = area(map.ksyms);
    report["image"] = area(map.image);
    report["inflated_bytes"] = map.inflatedBytes;
    // Where the kernel runs, as the destinations are given; the file's own beside it.
    report["entry"] = map.fold(map.entry);
    report["file_entry"] = map.entry;
    report["boot_information_page"] = map.bootInfoPage;
    report["loader_page"] = map.loaderPage;
    report["loader_stack_top"] = map.stackTop;
    report["protocol"] = map.protocol;
    if (map.protocol == "linux") {
        Json tags = Json::array();
        for (const ReadTag& tag : map.tags) tags.push_back(tagJson(tag));
        report["linux"] = {{"reason", map.protocolReason},
                           {"r0", map.linuxRegisters[0]},
                           {"machine_number", map.linuxRegisters[1]},
                           {"tag_list", map.linuxRegisters[2]},
                           {"tags", std::move(tags)},
                           {"tag_error", map.tagError.empty() ? Json(nullptr) : Json(map.tagError)}};
    }
    report["argv"] = map.argv;
    if (map.bootInfo) {
        const BootInfo& b = *map.bootInfo;
        report["boot_info"] = {{"length", b.length},
                               {"magic", b.magic},
                               {"fb_address", b.fbAddress},
                               {"fb_line_bytes", b.fbLineBytes},
                               {"fb_width", b.fbWidth},
                               {"fb_height", b.fbHeight},
                               {"fb_type", b.fbType},
                               {"console_kind", b.consoleKind},
                               {"platform_cpu", b.platform.cpu},
                               {"platform_machine", b.platform.machine},
                               {"timezone", b.timezone}};
    } else {
        report["boot_info"] = nullptr;
    }
    Json run = {{"end", reasonName(result.reason)},
                {"description", result.describe()},
                {"status", status},
                {"exit_status", exitStatus},
                {"pc", result.pc},
                {"where", regionOf(result.pc, map)},
                {"pc_symbol", symbolOf(result.pc, map)},
                {"lr", result.r[14]},
                {"lr_symbol", symbolOf(result.r[14], map)},
                {"emulator", result.emulator},
                {"instructions", result.emulator == "qemu" ? Json(nullptr) : Json(result.instructions)},
                {"instructions_exact", result.instructionsExact},
                {"seconds", result.seconds}};
    if (faulted(result.reason)) {
        run["fault_address"] = result.faultAddress;
        run["fault_write"] = result.faultWrite;
        run["exception"] = result.exception;
        run["instruction"] = instructionAt(device, result);
    }
    report["run"] = std::move(run);
    report["registers"] = registersJson(result);
    return jsonText(report);
}

}  // namespace quorvel::app

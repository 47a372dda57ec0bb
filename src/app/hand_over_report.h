// What was handed over, gathered after a boot: the copy list as it lies in memory,
// the kernel's pieces as the loader logged them, the boot information page; and the
// texts and the JSON report made from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/json_text.h"
#include "app/kernel_symbols.h"
#include "arch/arm/linux_tags.h"
#include "boot/boot_info.h"
#include "loader/page_link.h"
#include "sim/emulator.h"
#include "sim/handheld.h"

namespace quorvel::app {

struct Area {
    std::uint32_t begin = 0, end = 0;  // physical, end exclusive; empty when begin == end
};

struct Segment {
    std::uint32_t paddr, fileSize, memSize;
};

struct HandOverMap {
    std::string platform;  // as the log named it
    std::string cpu;
    bool folds = false;  // the PXA-2x0 loader folds destinations into 0xA0000000 + 16 MB
    std::vector<PageLink> links;  // as the second-stage loader will walk them
    std::string linkError;        // why the walk stopped early
    std::vector<Segment> segments;
    Area ksyms, image;
    std::uint32_t entry = 0;
    std::uint32_t bootInfoPage = 0, loaderPage = 0, stackTop = 0, pageSize = 4096;
    std::vector<std::string> argv;
    std::optional<BootInfo> bootInfo;
    // What the gzip front inflated in all for the kernel and the image: their sizes
    // when each was inflated once.
    std::uint64_t inflatedBytes = 0;
    KernelSymbols symbols;  // the kernel's own, from its ksyms area
    // How the kernel was entered, as the log said and why; for Linux's protocol the
    // registers the call record gives it and the tag list read back from memory.
    std::string protocol = "native";
    std::string protocolReason;
    std::uint32_t linuxRegisters[3] = {};
    std::vector<ReadTag> tags;
    std::string tagError;
    std::uint32_t fold(std::uint32_t address) const { return folds ? 0xA0000000u | (address & 0x00FFFFFFu) : address; }
};

// `log` is the boot's log as far as the jump.
HandOverMap describeHandOver(sim::Handheld& device, const sim::HandOverResult& result, const std::string& log);
// Only what the log and the jump's arguments tell, without reading memory: the
// platform, the kernel's segments, ksyms and image areas, the protocol.
HandOverMap describeLoggedPieces(const sim::Handheld& device, const sim::HandOverResult& result, const std::string& log);

// The copy list and the memory map, for --dry-run.
std::string handOverText(const HandOverMap& map);

// Where the run ended: registers, CPSR, the fault and its instruction, and whether
// the loader page or the kernel was running.
std::string endStateText(sim::Handheld& device, const sim::HandOverResult& result, const HandOverMap& map);

// The report of --json.
std::string reportJson(sim::Handheld& device, const sim::HandOverResult& result, const HandOverMap& map,
                       const std::string& status, int exitStatus);

// The report of --json for a boot that never reached the jump: `started` false when
// the boot was not started (a question answered no), `failure` the failure box's
// text, `cause` the front end's one line, `error` the log's lines that led to it.
std::string failureJson(bool started, int exitStatus, const std::string& failure, const std::string& cause = "",
                        const std::vector<std::string>& error = {});

// "kernel_main+0x1c" for a run-time address, "" when the kernel has no symbol there.
std::string symbolOf(std::uint32_t address, const HandOverMap& map);

// The registers as registers.json holds them.
Json registersJson(const sim::HandOverResult& result);

// "loader page", "kernel" or "" for where `pc` lies.
std::string regionOf(std::uint32_t pc, const HandOverMap& map);

}  // namespace quorvel::app

// A whole boot of a large gzip kernel on the simulated handheld, against zcat of the
// same file in the same run: up to the kernel's entry (the boot loader's work), and
// on to the end of the sample kernel's own checks; how much the gzip front inflated
// in all (seeks and size() inflate again) per byte of kernel, for the large and the
// small sample kernel, and per byte of a large gzip md image booted with the plain
// small kernel; the emulated instructions per second; the peak resident memory of a
// boot against the simulated RAM; and the pool pages set aside because Windows CE
// handed them out where the kernel goes, over boots of every platform. Lines starting
// "row|" are the figures for bench/run's table.
//
// Usage: boot_bench [ROUNDS [KERNEL.gz [PLATFORM]]]
// With a kernel of your own, its boot up to the entry and its inflate figure are
// measured (on PLATFORM, default "HP Jornada 720 (US/UK)"), on 128 MB of RAM.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include <zlib.h>

#include "app/platform_screen.h"
#include "boot/boot_menu.h"
#include "boot/platform_id.h"
#include "file/gzip_file_manager.h"
#include "support/boot_harness.h"
#include "support/test_data.h"
#include "sim/utf.h"
#include "support/device.h"

using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The peak resident set since the last reset, in bytes (Linux: VmHWM, reset by
// writing 5 to clear_refs).
void resetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
std::uint64_t peakMemory() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
    return 0;
}

unsigned logged(const std::string& log, const char* pattern) {
    std::smatch match;
    return std::regex_search(log, match, std::regex(pattern)) ? static_cast<unsigned>(std::stoul(match[1])) : 0;
}

// The sample kernel with a 20000-byte md image on every selectable platform, on
// scattered memory of 3, 32 and 128 MB with a seed each (as the end-to-end test
// boots them): pool pages set aside against pool pages.
bool poolPagesSetAside() {
    constexpr std::uint32_t MB = 1u << 20;
    const std::string kernel = testing_support::readHostFile(QUORVEL_SAMPLE_KERNEL_GZ);
    const std::string image = testing_support::randomData(20000, 7);
    unsigned setAside = 0, pages = 0, boots = 0;
    std::uint32_t seed = 11;
    for (const quorvel::PlatformName& row : quorvel::platformNameTable) {
        if (row.id->cpu == 0 || row.id->machine == 0) continue;
        for (std::uint32_t ram : {3 * MB, 32 * MB, 128 * MB}) {
            sim::DeviceSettings settings = quorvel::app::handheldFor(*row.id, ram);
            settings.seed = seed;
            seed += 7;
            testing_support::TestDevice device(settings);
            device.writeFile("Storage Card/tamsel.gz", kernel);
            device.writeFile("Storage Card/miniroot.fs", image);
            testing_support::BootRun run = testing_support::bootOnDevice(device, [&](quorvel::BootMenu& menu) {
                testing_support::selectKernel(menu, row.name, u"\\Storage Card\\", u"tamsel.gz");
                menu.rootFileSystem = quorvel::ROOT_MD;
            });
            if (!run.kernelOk()) {
                std::fprintf(stderr, "boot failed:\n%s\n%s\n", run.log.c_str(), run.uart.c_str());
                return false;
            }
            setAside += logged(run.log, "(\\d+) pool pages set aside");
            pages += logged(run.log, "mapped (\\d+) page\\.");
            ++boots;
        }
    }
    std::printf("pool pages set aside / pool pages:           %.4f (%u / %u over %u boots)\n",
                pages ? static_cast<double>(setAside) / pages : 0.0, setAside, pages, boots);
    std::printf("row|pool pages set aside where the kernel goes (%u boots)|%u|pool pages %u|%.4f\n", boots, setAside, pages,
                pages ? static_cast<double>(setAside) / pages : 0.0);
    return true;
}

// The gzip-compressed kernel's inflated size, by zlib.
std::uint64_t inflatedSize(const std::string& path) {
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file) return 0;
    static char buffer[1 << 16];
    std::uint64_t total = 0;
    int n = 0;
    while ((n = gzread(file, buffer, sizeof buffer)) > 0) total += static_cast<unsigned>(n);
    gzclose(file);
    return n < 0 ? 0 : total;
}

const quorvel::PlatformId* platformNamed(const std::u16string& name) {
    for (const quorvel::PlatformName& row : quorvel::platformNameTable)
        if (name == row.name && row.id->cpu != 0) return row.id;
    return nullptr;
}

struct BootFigures {
    double boot = 1e9, zcat = 1e9;  // the best round of each
    std::uint64_t inflated = 0;
    std::uint64_t instructions = 0;
    double rate = 0;                // emulated instructions per second of processor time
    std::uint64_t peak = 0;         // resident memory the boot added
    std::string failure;
};

constexpr std::uint32_t RAM = 128u << 20;

// Boots of the gzip kernel on the platform, each timed, then zcat of the same file.
BootFigures measureBoots(const std::string& gz, const std::u16string& platform, sim::StopAt stopAt, int rounds) {
    BootFigures f;
    const std::string kernel = testing_support::readHostFile(gz);
    const quorvel::PlatformId* id = platformNamed(platform);
    if (!id) {
        f.failure = "no such platform";
        return f;
    }
    for (int round = 0; round < rounds; ++round) {
        resetPeakMemory();
        const std::uint64_t before = peakMemory();
        testing_support::TestDevice device(quorvel::app::handheldFor(*id, RAM));
        device->cpu().emulation.stopAt = stopAt;
        device.writeFile("Storage Card/kernel.gz", kernel);
        Clock::time_point start = Clock::now();
        testing_support::BootRun run = testing_support::bootOnDevice(device, [&](quorvel::BootMenu& menu) {
            testing_support::selectKernel(menu, platform, u"\\Storage Card\\", u"kernel.gz");
        });
        const double boot = seconds(Clock::now() - start);
        // What the boot added to what the bench held already (the kernel file read in).
        const std::uint64_t now = peakMemory();
        f.peak = std::max(f.peak, now > before ? now - before : 0);
        const bool ended = stopAt == sim::StopAt::Entry ? run.handOver && run.handOver->reason == sim::HaltReason::Stopped
                                                         : run.kernelOk();
        if (!ended) {
            f.failure = run.log + "\n" + run.uart;
            return f;
        }
        f.boot = std::min(f.boot, boot);
        f.inflated = run.inflatedBytes;
        f.instructions = run.handOver->instructions;
        if (run.handOver->seconds > 0)
            f.rate = std::max(f.rate, static_cast<double>(f.instructions) / run.handOver->seconds);

        start = Clock::now();
        std::string command = "zcat '" + gz + "' > /dev/null";
        if (std::system(command.c_str()) != 0) {
            f.failure = "zcat failed";
            return f;
        }
        f.zcat = std::min(f.zcat, seconds(Clock::now() - start));
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const double mb = 1.0 / (1 << 20);
    if (argc > 2) {
        // A kernel of the caller's: the boot loader's work up to its entry.
        const std::string gz = argv[2];
        const std::u16string platform = argc > 3 ? sim::fromUtf8(argv[3]) : u"HP Jornada 720 (US/UK)";
        const std::uint64_t size = inflatedSize(gz);
        if (size == 0) {
            std::fprintf(stderr, "%s: not a readable gzip file\n", gz.c_str());
            return 1;
        }
        BootFigures f = measureBoots(gz, platform, sim::StopAt::Entry, rounds);
        if (!f.failure.empty()) {
            std::fprintf(stderr, "boot failed:\n%s\n", f.failure.c_str());
            return 1;
        }
        std::printf("kernel: %llu bytes, %s\n", static_cast<unsigned long long>(size), gz.c_str());
        std::printf("row|boot to the kernel's entry (%.1f MB kernel)|%.3f s|zcat of its file %.3f s|%.2f\n",
                    static_cast<double>(size) * mb, f.boot, f.zcat, f.boot / f.zcat);
        std::printf("row|inflated in all for the kernel|%.2f MB|kernel size %.2f MB|%.2f\n",
                    static_cast<double>(f.inflated) * mb, static_cast<double>(size) * mb,
                    static_cast<double>(f.inflated) / static_cast<double>(size));
        std::printf("row|emulated instructions per second up to the entry|%.0f M|-|-\n", f.rate / 1e6);
        return 0;
    }

    const std::string gz = QUORVEL_SAMPLE_KERNEL_LARGE_GZ;
    const std::uint64_t kernelSize = std::filesystem::file_size(QUORVEL_SAMPLE_KERNEL_LARGE);
    std::printf("kernel: %llu bytes, %llu gzip-compressed\n", static_cast<unsigned long long>(kernelSize),
                static_cast<unsigned long long>(std::filesystem::file_size(gz)));
    const std::u16string jornada = u"HP Jornada 720 (US/UK)";
    BootFigures entry = measureBoots(gz, jornada, sim::StopAt::Entry, rounds);
    BootFigures whole = measureBoots(gz, jornada, sim::StopAt::Never, rounds);
    for (const BootFigures* f : {&entry, &whole}) {
        if (!f->failure.empty()) {
            std::fprintf(stderr, "boot failed:\n%s\n", f->failure.c_str());
            return 1;
        }
    }
    BootFigures small = measureBoots(QUORVEL_SAMPLE_KERNEL_GZ, jornada, sim::StopAt::Never, 1);
    if (!small.failure.empty()) {
        std::fprintf(stderr, "small kernel's boot failed:\n%s\n", small.failure.c_str());
        return 1;
    }
    const std::uint64_t smallSize = std::filesystem::file_size(QUORVEL_SAMPLE_KERNEL);

    // The image: the large kernel's data, gzip-compressed, behind the plain small kernel,
    // so that all the front inflates is the image's.
    const std::string imageData = testing_support::readHostFile(QUORVEL_SAMPLE_KERNEL_LARGE);
    const std::string imageGz = testing_support::readHostFile(gz);
    std::uint64_t imageInflated = 0;
    {
        sim::DeviceSettings settings;
        settings.ram = {{0xC0000000u, RAM}};
        testing_support::TestDevice device(settings);
        device.writeFile("Storage Card/tamsel", testing_support::readHostFile(QUORVEL_SAMPLE_KERNEL));
        device.writeFile("Storage Card/miniroot.fs", imageGz);
        testing_support::BootRun run = testing_support::bootOnDevice(device, [&](quorvel::BootMenu& menu) {
            testing_support::selectKernel(menu, jornada, u"\\Storage Card\\", u"tamsel");
            menu.rootFileSystem = quorvel::ROOT_MD;
        });
        if (!run.kernelOk()) {
            std::fprintf(stderr, "image boot failed:\n%s\n%s\n", run.log.c_str(), run.uart.c_str());
            return 1;
        }
        imageInflated = run.inflatedBytes;
    }

    std::printf("boot to the kernel's entry:                   %.3f s\n", entry.boot);
    std::printf("whole boot (load, hand-over, kernel checks):  %.3f s\n", whole.boot);
    std::printf("zcat of the same file:                        %.3f s\n", whole.zcat);
    std::printf("boot to the entry / zcat:                     %.2f\n", entry.boot / entry.zcat);
    std::printf("whole boot / zcat:                            %.2f\n", whole.boot / whole.zcat);
    std::printf("inflated in all / kernel size:                %.2f (%llu bytes)\n",
                static_cast<double>(whole.inflated) / static_cast<double>(kernelSize),
                static_cast<unsigned long long>(whole.inflated));
    std::printf("small kernel: inflated in all / kernel size:  %.2f (%llu of %llu bytes)\n",
                static_cast<double>(small.inflated) / static_cast<double>(smallSize),
                static_cast<unsigned long long>(small.inflated), static_cast<unsigned long long>(smallSize));
    std::printf("emulated instructions per second:             %.0f (%llu instructions)\n", whole.rate,
                static_cast<unsigned long long>(whole.instructions));
    std::printf("md image: inflated in all / image size:       %.2f (%llu of %zu bytes)\n",
                static_cast<double>(imageInflated) / static_cast<double>(imageData.size()),
                static_cast<unsigned long long>(imageInflated), imageData.size());
    std::printf("peak resident memory of a boot / RAM:         %.2f (%.1f MB of %u MB)\n",
                static_cast<double>(whole.peak) / RAM, static_cast<double>(whole.peak) * mb, RAM >> 20);

    std::printf("row|in-process detail: boot of the %.0f MB sample kernel to its entry, no start-up|%.3f s|zcat process %.3f s|%.2f\n",
                static_cast<double>(kernelSize) * mb, entry.boot, entry.zcat, entry.boot / entry.zcat);
    std::printf("row|in-process detail: whole boot of it, its checks included|%.3f s|zcat process %.3f s|%.2f\n",
                whole.boot, whole.zcat, whole.boot / whole.zcat);
    std::printf("row|inflated in all for the gzip kernel|%.1f MB|kernel size %.1f MB|%.2f\n",
                static_cast<double>(whole.inflated) * mb, static_cast<double>(kernelSize) * mb,
                static_cast<double>(whole.inflated) / static_cast<double>(kernelSize));
    std::printf("row|inflated in all for the small gzip kernel|%.1f KB|kernel size %.1f KB|%.2f\n",
                static_cast<double>(small.inflated) / 1024, static_cast<double>(smallSize) / 1024,
                static_cast<double>(small.inflated) / static_cast<double>(smallSize));
    std::printf("row|inflated in all for a gzip md image|%.1f MB|image size %.1f MB|%.2f\n",
                static_cast<double>(imageInflated) * mb, static_cast<double>(imageData.size()) * mb,
                static_cast<double>(imageInflated) / static_cast<double>(imageData.size()));
    std::printf("row|in-process detail: instructions a second of the sample kernel's boot, native rounds included|%.0f M|-|-\n", whole.rate / 1e6);
    std::printf("row|in-process detail: growth of the resident peak in a boot|%.1f MB|simulated RAM %u MB|%.2f\n",
                static_cast<double>(whole.peak) * mb, RAM >> 20, static_cast<double>(whole.peak) / RAM);
    return poolPagesSetAside() ? 0 : 1;
}

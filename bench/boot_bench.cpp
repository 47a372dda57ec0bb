// A whole boot of a large gzip kernel on the simulated handheld, against zcat of the
// same file in the same run; how much the gzip front inflated in all (seeks and
// size() inflate again) per byte of kernel, and per byte of a large gzip md image
// booted with the plain small kernel; the emulated instructions per second; the peak
// resident memory of a boot against the simulated RAM; and the pool pages set aside
// because Windows CE handed them out where the kernel goes, over boots of every
// platform. Lines starting "row|" are the figures for bench/run's table.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "app/platform_screen.h"
#include "boot/boot_menu.h"
#include "boot/platform_id.h"
#include "file/gzip_file_manager.h"
#include "support/boot_harness.h"
#include "support/test_data.h"
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
        const bool pxa = (row.id->cpu & 0xFFF00000u) == 0x0C200000u;
        for (std::uint32_t ram : {3 * MB, 32 * MB, 128 * MB}) {
            sim::DeviceSettings settings;
            settings.cpu = pxa ? sim::CpuFamily::PXA2x0 : sim::CpuFamily::SA11x0;
            settings.mainId = sim::mainIdFor(row.id->cpu);
            settings.seed = seed;
            seed += 7;
            quorvel::app::placeScreenFor(*row.id, settings, false);
            const std::uint32_t bank = pxa ? 64 * MB : 128 * MB;
            for (std::uint32_t at = 0; at < ram; at += bank)
                settings.ram.push_back({sim::dramBase(settings.cpu) + at, std::min(bank, ram - at)});
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

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const std::string gz = QUORVEL_SAMPLE_KERNEL_LARGE_GZ;
    const std::uint64_t kernelSize = std::filesystem::file_size(QUORVEL_SAMPLE_KERNEL_LARGE);
    const std::string kernel = testing_support::readHostFile(gz);
    std::printf("kernel: %llu bytes, %zu gzip-compressed\n", static_cast<unsigned long long>(kernelSize), kernel.size());

    constexpr std::uint32_t RAM = 128u << 20;
    double bestBoot = 1e9, bestZcat = 1e9;
    std::uint64_t inflated = 0;
    double bestRate = 0;
    std::uint64_t emulated = 0;
    std::uint64_t peak = 0;
    for (int round = 0; round < rounds; ++round) {
        sim::DeviceSettings settings;
        settings.ram = {{0xC0000000u, RAM}};
        resetPeakMemory();
        const std::uint64_t before = peakMemory();
        testing_support::TestDevice device(settings);
        device.writeFile("Storage Card/tamsel.gz", kernel);
        Clock::time_point start = Clock::now();
        testing_support::BootRun run = testing_support::bootOnDevice(device, [](quorvel::BootMenu& menu) {
            testing_support::selectKernel(menu, u"HP Jornada 720 (US/UK)", u"\\Storage Card\\", u"tamsel.gz");
        });
        double boot = seconds(Clock::now() - start);
        inflated = run.inflatedBytes;
        // What the boot added to what the bench held already (the kernel file read in).
        const std::uint64_t now = peakMemory();
        peak = std::max(peak, now > before ? now - before : 0);
        if (!run.kernelOk()) {
            std::fprintf(stderr, "boot failed:\n%s\n%s\n", run.log.c_str(), run.uart.c_str());
            return 1;
        }
        bestBoot = std::min(bestBoot, boot);
        emulated = run.handOver->instructions;
        if (run.handOver->seconds > 0) bestRate = std::max(bestRate, static_cast<double>(emulated) / run.handOver->seconds);

        start = Clock::now();
        std::string command = "zcat '" + gz + "' > /dev/null";
        if (std::system(command.c_str()) != 0) return 1;
        bestZcat = std::min(bestZcat, seconds(Clock::now() - start));
    }
    // The image: the large kernel's data, gzip-compressed, behind the plain small kernel,
    // so that all the front inflates is the image's.
    const std::string imageData = testing_support::readHostFile(QUORVEL_SAMPLE_KERNEL_LARGE);
    const std::string imageGz = testing_support::readHostFile(gz);
    std::uint64_t imageInflated = 0;
    {
        sim::DeviceSettings settings;
        settings.ram = {{0xC0000000u, 128u << 20}};
        testing_support::TestDevice device(settings);
        device.writeFile("Storage Card/tamsel", testing_support::readHostFile(QUORVEL_SAMPLE_KERNEL));
        device.writeFile("Storage Card/miniroot.fs", imageGz);
        testing_support::BootRun run = testing_support::bootOnDevice(device, [](quorvel::BootMenu& menu) {
            testing_support::selectKernel(menu, u"HP Jornada 720 (US/UK)", u"\\Storage Card\\", u"tamsel");
            menu.rootFileSystem = quorvel::ROOT_MD;
        });
        if (!run.kernelOk()) {
            std::fprintf(stderr, "image boot failed:\n%s\n%s\n", run.log.c_str(), run.uart.c_str());
            return 1;
        }
        imageInflated = run.inflatedBytes;
    }

    std::printf("whole boot (load, hand-over, kernel checks): %.3f s\n", bestBoot);
    std::printf("zcat of the same file:                        %.3f s\n", bestZcat);
    std::printf("boot / zcat:                                  %.2f\n", bestBoot / bestZcat);
    std::printf("inflated in all / kernel size:                %.2f (%llu bytes)\n",
                static_cast<double>(inflated) / static_cast<double>(kernelSize),
                static_cast<unsigned long long>(inflated));
    std::printf("emulated instructions per second:             %.0f (%llu instructions)\n", bestRate,
                static_cast<unsigned long long>(emulated));
    std::printf("md image: inflated in all / image size:      %.2f (%llu of %zu bytes)\n",
                static_cast<double>(imageInflated) / static_cast<double>(imageData.size()),
                static_cast<unsigned long long>(imageInflated), imageData.size());
    std::printf("peak resident memory of a boot / RAM:         %.2f (%.1f MB of %u MB)\n",
                static_cast<double>(peak) / RAM, static_cast<double>(peak) / (1 << 20), RAM >> 20);

    const double mb = 1.0 / (1 << 20);
    std::printf("row|whole boot of the %.0f MB gzip kernel|%.3f s|zcat of its file %.3f s|%.2f\n",
                static_cast<double>(kernelSize) * mb, bestBoot, bestZcat, bestBoot / bestZcat);
    std::printf("row|inflated in all for the gzip kernel|%.1f MB|kernel size %.1f MB|%.2f\n",
                static_cast<double>(inflated) * mb, static_cast<double>(kernelSize) * mb,
                static_cast<double>(inflated) / static_cast<double>(kernelSize));
    std::printf("row|inflated in all for a gzip md image|%.1f MB|image size %.1f MB|%.2f\n",
                static_cast<double>(imageInflated) * mb, static_cast<double>(imageData.size()) * mb,
                static_cast<double>(imageInflated) / static_cast<double>(imageData.size()));
    std::printf("row|emulated instructions per second (processor time)|%.0f M|-|-\n", bestRate / 1e6);
    std::printf("row|peak resident memory of a boot|%.1f MB|simulated RAM %u MB|%.2f\n", static_cast<double>(peak) * mb,
                RAM >> 20, static_cast<double>(peak) / RAM);
    return poolPagesSetAside() ? 0 : 1;
}

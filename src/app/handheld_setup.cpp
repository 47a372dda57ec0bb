#include "app/handheld_setup.h"

#include <ostream>

#include "app/demo_device.h"
#include "app/platform_screen.h"
#include "app/wide_text.h"
#include "hardware/cpu_models.h"
#include "sim/file_system.h"
#include "sim/handheld.h"

namespace quorvel::app {

namespace {

void chooseCpu(const Arguments& a, const PlatformId& platform, sim::DeviceSettings& settings) {
    std::string cpu = a.cpu.value_or("");
    if (cpu.empty()) {
        std::uint32_t model = platform.cpu & 0xFFFFC000u;  // the cpu word without its submodel
        cpu = model == CPU_WORD_SA1100 ? "sa1100" : model == CPU_WORD_PXA250 ? "pxa250" : model == CPU_WORD_PXA270 ? "pxa270" : "sa1110";
    }
    if (cpu == "sa1100") {
        settings.cpu = sim::CpuFamily::SA11x0;
        settings.mainId = sim::MAIN_ID_SA1100;
    } else if (cpu == "sa1110") {
        settings.cpu = sim::CpuFamily::SA11x0;
        settings.mainId = sim::MAIN_ID_SA1110;
    } else {
        settings.cpu = sim::CpuFamily::PXA2x0;
        settings.mainId = cpu == "pxa250" ? sim::MAIN_ID_PXA250 : sim::MAIN_ID_PXA270;
        settings.processorType = 0;  // not a StrongARM
    }
}

}  // namespace

std::string firstCard(const Arguments& a) { return a.cards.empty() ? "Storage Card" : a.cards.front(); }

int deviceRoot(const Arguments& a, std::optional<RunFolder>& demo, std::filesystem::path& root, std::ostream& err,
               bool needCard) {
    if (a.device) {
        root = *a.device;
        std::error_code ec;
        if (!std::filesystem::is_directory(root, ec)) {
            err << "quorvel: no such device folder: " << root.string() << "\n";
            return 2;
        }
        std::string card = firstCard(a);
        auto folder = sim::resolveDevicePath(root, wide("\\" + card), false);
        if (needCard && (!folder || !std::filesystem::is_directory(*folder, ec))) {
            err << "quorvel: " << root.string() << " is not a device folder: it has no \"" << card
                << "\" folder, the storage card that holds quorvel.cnf and the kernels\n"
                << "quorvel: make one with: mkdir -p '" << (root / card).string() << "'\n";
            return 2;
        }
        return 0;
    }
    demo.emplace();
    if (demo->path().empty() || !prepareDemoDevice(demo->path())) {
        err << "quorvel: can't prepare the demo device in " << std::filesystem::temp_directory_path().string() << "\n";
        return 1;
    }
    root = demo->path();
    return 0;
}

sim::DeviceSettings baseSettings(const Arguments& a, const std::filesystem::path& root) {
    sim::DeviceSettings settings;
    settings.root = root;
    if (!a.cards.empty()) {
        settings.storageCards.clear();
        for (const std::string& card : a.cards) settings.storageCards.push_back(wide(card));
    }
    return settings;
}

void fitHandheld(const Arguments& a, const PlatformId& platform, sim::DeviceSettings& settings) {
    chooseCpu(a, platform, settings);
    if (a.ramMegabytes) settings.ram = {{sim::dramBase(settings.cpu), *a.ramMegabytes << 20}};
    if (a.screenWidth) {
        settings.screenWidth = *a.screenWidth;
        settings.screenHeight = *a.screenHeight;
        settings.bitsPerPixel = *a.screenBits;
    }
    placeScreenFor(platform, settings, a.screenWidth.has_value());
    if (a.com1) settings.com1Output = *a.com1;
    for (const auto& [name, image] : a.disks) settings.disks[wide(name)] = image;
}

}  // namespace quorvel::app

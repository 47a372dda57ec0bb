// The whole-boot harness.
#include "support/boot_harness.h"

#include "ui/boot_steps.h"

#include <fstream>
#include <sstream>

#include "boot/boot_context.h"
#include "boot/platform_id.h"
#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "platform/coredll.h"
#include "support/log_capture.h"

namespace testing_support {

bool BootRun::kernelOk() const {
    if (!handOver || handOver->reason != sim::HaltReason::Halted) return false;
    std::size_t end = uart.find_last_not_of("\r\n");
    if (end == std::string::npos) return false;
    std::size_t start = uart.find_last_of('\n', end);
    start = start == std::string::npos ? 0 : start + 1;
    return uart.substr(start, end + 1 - start) == "OK";
}

std::string BootRun::kernelLine(const std::string& prefix) const {
    std::istringstream lines(uart);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(prefix, 0) == 0) return line;
    }
    return "";
}

std::string BootRun::bootLog() const {
    std::string text = log + uart;
    std::erase(text, '\r');
    return text;
}

namespace {
std::uint32_t hexAfter(const std::string& text, std::size_t from, const std::string& marker) {
    std::size_t at = text.find(marker, from);
    if (from == std::string::npos || at == std::string::npos) return 0;
    return static_cast<std::uint32_t>(std::stoul(text.substr(at + marker.size(), 8), nullptr, 16));
}
}  // namespace

std::uint32_t BootRun::imageAddress() const {
    std::string text = bootLog();
    return hexAfter(text, text.find("[file system image]"), "->load 0x");
}

std::uint32_t BootRun::symbolsEnd() const {
    std::string text = bootLog();
    std::size_t ksyms = text.find("ksyms\n");
    if (ksyms == std::string::npos) return 0;
    std::size_t last = text.rfind("->load", text.find("[progress] 9", ksyms));
    return last == std::string::npos || last < ksyms ? 0 : hexAfter(text, last, "=0x");
}

std::optional<std::u16string> BootRun::bootFailure() const {
    for (const sim::MessageBoxRecord& box : boxes)
        if (box.caption == u"BOOT FAILED") return box.text;
    return std::nullopt;
}

void selectKernel(quorvel::BootMenu& menu, const std::u16string& platformName, const std::u16string& directory,
                  const std::u16string& kernel) {
    for (const quorvel::PlatformName& row : quorvel::platformNameTable) {
        if (platformName == row.name) menu.platform = *row.id;
    }
    ce::wcsncpy(menu.kernelDirectory, directory.c_str(), quorvel::PATH_SIZE - 1);
    menu.kernelDirectorySet = ce::TRUE;
    ce::wcsncpy(menu.kernelName, kernel.c_str(), quorvel::PATH_SIZE - 1);
    menu.kernelNameSet = ce::TRUE;
    menu.pauseBeforeBoot = ce::FALSE;
}

BootRun bootOnDevice(TestDevice& device, const std::function<void(quorvel::BootMenu&)>& configure) {
    BootRun run;
    {
        LogCapture log;
        quorvel::BootMenu& menu = quorvel::theBootMenu();
        configure(menu);
        quorvel::theBootContext();
        // The Boot command's own steps, with the hand-over caught by the emulator.
        static std::optional<sim::HandOverResult>* result = nullptr;
        result = &run.handOver;
        quorvel::ui::setBootRunner(
            [](quorvel::BootMenu& m) { *result = sim::runBoot([&m] { m.startBoot(); }); });
        quorvel::ui::startBootSteps(menu);
        quorvel::ui::setBootRunner(nullptr);
        run.log = log.utf8();
        if (auto* front = dynamic_cast<quorvel::GzipFileManager*>(quorvel::theBootContext().fileManagerSlot))
            run.inflatedBytes = front->inflatedBytes();
        quorvel::releaseBootContext();
    }
    quorvel::releaseConsole();
    quorvel::releaseBootMenu();
    run.uart = device->uart() ? device->uart()->sent() : "";
    run.boxes = device->messageBoxes().shown();
    return run;
}

std::string sampleKernelPath() { return QUORVEL_SAMPLE_KERNEL; }
std::string sampleKernelGzPath() { return QUORVEL_SAMPLE_KERNEL_GZ; }

}  // namespace testing_support

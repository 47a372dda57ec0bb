// A whole boot from the window: options changed on the three pages by taps and
// typing, Boot tapped, the safety question answered on the screen, and the sample
// kernel's own report read from the UART.
#include "ui_fixture.h"

#include <cstdio>
#include <fstream>

#include "base/little_endian.h"
#include "sim/utf.h"
#include "support/boot_harness.h"

namespace ui_test {
namespace {

using quorvel::theBootMenu;

class WholeBootTest : public UiTest {
protected:
    void SetUp() override {
        std::filesystem::copy_file(testing_support::sampleKernelGzPath(), device_.card() / "tamsel.gz");
        testing_support::selectKernel(theBootMenu(), u"HP Jornada 720 (US/UK)", u"\\Storage Card\\", u"tamsel.gz");
    }
    std::string uart() { return device_->uart() ? device_->uart()->sent() : std::string(); }

    // The kernel's picture, read from physical memory where the boot information
    // (as the kernel reported it) put the screen.
    void expectKernelPicture() {
        unsigned address = 0;
        int line = 0, width = 0, height = 0, type = 0;
        std::size_t at = uart().find("bootinfo framebuffer ");
        ASSERT_NE(at, std::string::npos) << uart();
        ASSERT_EQ(std::sscanf(uart().c_str() + at, "bootinfo framebuffer 0x%x linebytes %d width %d height %d type %d",
                              &address, &line, &width, &height, &type),
                  5);
        ASSERT_EQ(type, 5);
        EXPECT_NE(uart().find("drew border and colour bars at"), std::string::npos);
        auto pixel = [&](int x, int y) {
            sim::PhysicalAddress p(address + static_cast<unsigned>(y * line + x * 2));
            const std::uint8_t* bytes = device_->memory().host(p);
            return quorvel::readLe16(bytes);
        };
        EXPECT_EQ(pixel(0, 0), 0xFFE0);
        EXPECT_EQ(pixel(width - 1, height - 1), 0xFFE0);
        EXPECT_EQ(pixel(width / 2, 10), 0x4208);
        const std::uint16_t bars[] = {0x0000, 0x001F, 0x07E0, 0x07FF, 0xF800, 0xF81F, 0xFFE0, 0xFFFF};
        for (int b = 0; b < 8; ++b) {
            SCOPED_TRACE(b);
            EXPECT_EQ(pixel(4 + (width - 8) * b / 8 + (width - 8) / 16, height / 2), bars[b]);
        }
    }
};

TEST_F(WholeBootTest, BootButtonBootsWithWhatWasTyped) {
    theBootMenu().safetyMessage = ce::TRUE;
    std::vector<int> barSteps;
    int code = run({[&] { chooseTab(1); },
                    [&] {
                        ASSERT_TRUE(ce::IsWindowVisible(mainWindow().optionPage()->handle()));
                        tapOn(item(mainWindow().optionPage(), 206));
                    },
                    [&] { windows().type(u"quiet=1"); },
                    [&] { chooseTab(2); },
                    [&] {
                        tapOn(item(mainWindow().consolePage(), 300));
                        tapOn(item(mainWindow().consolePage(), 307));
                    },
                    [&] {
                        EXPECT_EQ(theBootMenu().debugBits, 0x81u);
                        tapOn(mainWindow().bootButton()->handle());
                    },
                    [&] {
                        ASSERT_TRUE(find(u"Yes"));
                        tapOn(find(u"Yes"));
                    }});
    EXPECT_EQ(code, 0);
    ASSERT_TRUE(handOver()) << uart();
    EXPECT_NE(uart().find("\nOK"), std::string::npos) << uart();
    const auto& boxes = device_->messageBoxes().shown();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].caption, u"WARNING");
    EXPECT_EQ(boxes[0].type, 0x34u);
    expectKernelPicture();
    // The saved options hold what was typed.
    quorvel::BootMenu& saved = theBootMenu();
    EXPECT_EQ(std::u16string(saved.extraKernelOptions), u"quiet=1");
    EXPECT_EQ(std::u16string(saved.kernelName), u"tamsel.gz");
    quorvel::releaseBootMenu();
}

TEST_F(WholeBootTest, AutoBootStartsWithoutTheQuestionAndFillsTheBar) {
    theBootMenu().autoBootSeconds = 5;
    theBootMenu().safetyMessage = ce::TRUE;
    int code = run({[&] { windows().advanceClock(5000); }});
    EXPECT_EQ(code, 0);
    ASSERT_TRUE(handOver()) << uart();
    EXPECT_NE(uart().find("\nOK"), std::string::npos) << uart();
    for (const auto& box : device_->messageBoxes().shown()) EXPECT_NE(box.caption, u"WARNING");
    // Eleven steps fill the range exactly; a twelfth would start the bar over.
    EXPECT_EQ(barAtHandOver(), 11);
}

}  // namespace
}  // namespace ui_test

// A whole boot from the window: options changed on the three pages by taps and
// typing, Boot tapped, the safety question answered on the screen, and the sample
// kernel's own report read from the UART.
#include "ui_fixture.h"

#include <fstream>

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

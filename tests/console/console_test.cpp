// The LCD console and the current-console accessors.
#include <string>

#include "boot/boot_menu.h"
#include "console/console.h"
#include "console/serial_console.h"
#include "console_fixture.h"

using namespace quorvel;

namespace {

TEST_F(ConsoleTest, PrintsFormattedTextToTheLog) {
    Console* lcd = lcdConsole();
    EXPECT_EQ(lcd->consoleKind, CONSOLE_LCD);
    EXPECT_TRUE(lcd->setup());
    lcd->print(u"page#%d not found\n", 5);
    lcd->print(u"%s [0x%08x] %S\n", u"wide", 0xC0A53000u, "narrow");
    EXPECT_EQ(log.entries(), (std::vector<std::u16string>{u"page#5 not found\n", u"wide [0xc0a53000] narrow\n"}));
}

TEST_F(ConsoleTest, LongTextIsCutToTheBuffer) {
    std::u16string longText(1000, u'y');
    lcdConsole()->print(u"%s", longText.c_str());
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0], std::u16string(CONSOLE_TEXT_SIZE - 1, u'y'));
}

TEST_F(ConsoleTest, TheCurrentConsoleIsTheLcdConsoleUntilOneIsSet) {
    Console* lcd = lcdConsole();
    EXPECT_EQ(lcdConsole(), lcd);
    EXPECT_EQ(theConsole(), lcd);

    SerialConsole serial(19200);
    setConsole(&serial);
    EXPECT_EQ(theConsole(), &serial);
    setConsole(lcd);
    EXPECT_EQ(theConsole(), lcd);

    releaseConsole();
    Console* fresh = theConsole();  // made again on demand
    EXPECT_EQ(fresh->consoleKind, CONSOLE_LCD);
    EXPECT_EQ(lcdConsole(), fresh);
}

TEST_F(ConsoleTest, TextIsDroppedWithoutAConsolePage) {
    theBootMenu().consoleTab = nullptr;
    lcdConsole()->print(u"nobody sees this\n");
    theBootMenu().consoleTab = &log;
    lcdConsole()->print(u"seen\n");
    EXPECT_EQ(log.text(), u"seen\n");
}

}  // namespace

// COM1: the banner, the settings, and text sent one byte per write.
#include <string>
#include <vector>

#include "boot/boot_menu.h"
#include "console/serial_console.h"
#include "console_fixture.h"
#include "platform/coredll.h"

using namespace quorvel;

namespace {

constexpr std::uint32_t SPEED = 115200;
const std::string BANNER("\r\n--------QUORVEL--------\r\n\0", 28);

class SerialConsoleTest : public ConsoleTest {
protected:
    SerialConsoleTest() {
        theBootMenu().serialSpeed = SPEED;
        device->com1().parity = 2;
        device->com1().stopBits = 1;
    }
    // Every write after the banner.
    std::vector<std::string> textWrites() {
        const std::vector<std::string>& writes = device->com1().writes;
        return {writes.begin() + (writes.empty() ? 0 : 1), writes.end()};
    }
};

TEST_F(SerialConsoleTest, OpeningSetsTheSpeedAndSendsTheBannerOnce) {
    ce::HANDLE port = openSerialPort(SPEED);
    ASSERT_NE(port, ce::INVALID_HANDLE_VALUE);
    EXPECT_EQ(openSerialPort(SPEED), port);
    EXPECT_EQ(device->com1().baudRate, 115200u);
    EXPECT_EQ(device->com1().writes, std::vector<std::string>{BANNER});
}

// At exit the port is closed with the consoles; a later open is a fresh one.
TEST_F(SerialConsoleTest, ReleasingTheConsolesClosesCom1) {
    ASSERT_NE(openSerialPort(SPEED), ce::INVALID_HANDLE_VALUE);
    releaseConsole();
    EXPECT_FALSE(device->com1().open);
    ASSERT_NE(openSerialPort(SPEED), ce::INVALID_HANDLE_VALUE);
    EXPECT_TRUE(device->com1().open);
    EXPECT_EQ(device->com1().writes, (std::vector<std::string>{BANNER, BANNER}));
}

TEST_F(SerialConsoleTest, APortThatCannotBeSetUpIsClosedAgain) {
    for (const char* service : {"CreateFileW", "GetCommState", "SetCommState"}) {
        SCOPED_TRACE(service);
        device->faults().clear();
        device->faults().failAlways(service);
        EXPECT_EQ(openSerialPort(SPEED), ce::INVALID_HANDLE_VALUE);
        EXPECT_FALSE(device->com1().open);
        EXPECT_TRUE(device->com1().writes.empty());
    }
    device->faults().clear();
    EXPECT_NE(openSerialPort(SPEED), ce::INVALID_HANDLE_VALUE);
}

TEST_F(SerialConsoleTest, SetupReportsThePortSettingsToTheLog) {
    SerialConsole serial(SPEED);
    EXPECT_EQ(serial.consoleKind, CONSOLE_SERIAL);
    ASSERT_TRUE(serial.setup());
    EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"BaudRate 115200, ByteSize 0x8, Parity 0x2, StopBits 0x1\n"});
    EXPECT_EQ(device->com1().writes, std::vector<std::string>{BANNER});
}

TEST_F(SerialConsoleTest, SetupFailsToTheLogWhenCom1IsTaken) {
    ce::HANDLE other = ce::CreateFileW(u"COM1:", ce::GENERIC_READ | ce::GENERIC_WRITE, 0, nullptr, ce::OPEN_EXISTING,
                                       0, nullptr);
    ASSERT_NE(other, ce::INVALID_HANDLE_VALUE);
    SerialConsole serial(SPEED);
    EXPECT_FALSE(serial.setup());
    EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"couldn't open COM1\n"});
    ce::CloseHandle(other);
}

TEST_F(SerialConsoleTest, SendsOneBytePerWriteWithCarriageReturnsOfTheirOwn) {
    SerialConsole serial(SPEED);
    ASSERT_TRUE(serial.setup());
    serial.print(u"a\nb");
    serial.print(u"%d%S\n", 7, "x");
    EXPECT_EQ(textWrites(), (std::vector<std::string>{"a", "\r", "\n", "b", "7", "x", "\r", "\n"}));
}

struct LengthCase {
    const char* label;
    std::u16string text;
    bool sent;
};

TEST_F(SerialConsoleTest, TextNeedingTheWholeBufferIsNotSent) {
    const LengthCase cases[] = {
        {"255 bytes", std::u16string(255, u'x'), true},
        {"256 bytes", std::u16string(256, u'x'), false},
        {"longer than the text buffer", std::u16string(400, u'x'), false},
        {"255 bytes from 128 characters", std::u16string(127, u'\u00e9') + u"x", true},
        {"256 bytes from 128 characters", std::u16string(128, u'\u00e9'), false},
        {"nothing", u"", false},
    };
    SerialConsole serial(SPEED);
    ASSERT_TRUE(serial.setup());
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.label);
        device->com1().writes.clear();
        serial.print(u"%s", c.text.c_str());
        std::string sent;
        for (const std::string& write : device->com1().writes) {
            EXPECT_EQ(write.size(), 1u);
            sent += write;
        }
        if (c.sent) {
            EXPECT_EQ(sent.size(), 255u);
        } else {
            EXPECT_TRUE(sent.empty());
        }
    }
}

TEST_F(SerialConsoleTest, AFailedConversionDropsTheText) {
    SerialConsole serial(SPEED);
    ASSERT_TRUE(serial.setup());
    device->faults().failAlways("WideCharToMultiByte");
    serial.print(u"lost\n");
    EXPECT_EQ(device->com1().writes, std::vector<std::string>{BANNER});
}

}  // namespace

// The console: every diagnostic line of the system is printed through one, with a
// wide printf-style format. The LCD console appends to the log view; the serial and
// UART consoles derive from it.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "platform/types.h"

namespace quorvel {

constexpr std::int16_t CONSOLE_LCD = 1;
constexpr std::int16_t CONSOLE_SERIAL = 2;

// Characters one print may format; longer text is cut.
constexpr int CONSOLE_TEXT_SIZE = 258;

class Console {
public:
    Console() = default;
    virtual ~Console() = default;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    virtual void print(const ce::WCHAR* format, ...);
    virtual ce::BOOL setup();

    std::int16_t consoleKind = CONSOLE_LCD;

protected:
    // Formats into `text`, cut to the buffer.
    void format(const ce::WCHAR* format, va_list args);
    ce::WCHAR text[CONSOLE_TEXT_SIZE] = {};
};

Console* lcdConsole();
Console* theConsole();
void setConsole(Console* console);
// At exit: destroys the LCD console and closes COM1.
void releaseConsole();

// Where every print is also kept: the boot menu's log. Null: nowhere.
using LogSink = void (*)(const ce::WCHAR* text);
void setLogSink(LogSink sink);

// COM1, opened once at `baudRate` with the banner; INVALID_HANDLE_VALUE when it
// cannot be. It stays open until releaseConsole.
ce::HANDLE openSerialPort(std::uint32_t baudRate);

void bitDump(std::uint32_t value, int low, int high, const ce::WCHAR* name, bool showBits);
void bitFlag(std::uint32_t value, std::uint32_t mask, const char* name);
int debugMessage(const ce::WCHAR* format, ...);

}  // namespace quorvel

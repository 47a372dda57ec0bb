// The LCD console, which appends to the log view, and the current-console accessors.
#include "console/console.h"

#include "console/serial_console.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {
Console* lcd = nullptr;
Console* current = nullptr;
LogSink logSink = nullptr;
}  // namespace

void Console::format(const ce::WCHAR* format, va_list args) {
    // Bounded: a message longer than the buffer is cut, never written past it.
    ce::wvnsprintfW(text, CONSOLE_TEXT_SIZE, format, args);
}

void Console::print(const ce::WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    this->format(format, args);
    va_end(args);
    if (logSink) logSink(text);
}

ce::BOOL Console::setup() { return ce::TRUE; }

Console* lcdConsole() {
    if (!lcd) lcd = new Console();
    return lcd;
}

Console* theConsole() { return current ? current : lcdConsole(); }

void setConsole(Console* console) { current = console; }

void setLogSink(LogSink sink) { logSink = sink; }

void releaseConsole() {
    delete lcd;
    lcd = nullptr;
    current = nullptr;
    releaseSerialPort();
}

}  // namespace quorvel

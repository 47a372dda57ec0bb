// The serial console and the shared COM1 handle.
#include "console/serial_console.h"

#include "platform/coredll.h"

namespace quorvel {

namespace {

ce::HANDLE sharedPort = ce::INVALID_HANDLE_VALUE;

// The banner goes out with its terminating NUL.
constexpr char BANNER[] = "\r\n--------QUORVEL--------\r\n";
static_assert(sizeof BANNER == 28);

}  // namespace

ce::HANDLE openSerialPort(std::uint32_t baudRate) {
    if (sharedPort != ce::INVALID_HANDLE_VALUE) return sharedPort;
    ce::HANDLE port = ce::CreateFileW(u"COM1:", ce::GENERIC_READ | ce::GENERIC_WRITE, 0, nullptr, ce::OPEN_EXISTING,
                                      0, nullptr);
    if (port == ce::INVALID_HANDLE_VALUE) return ce::INVALID_HANDLE_VALUE;
    ce::DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!ce::GetCommState(port, &dcb)) {
        ce::CloseHandle(port);
        return ce::INVALID_HANDLE_VALUE;
    }
    dcb.BaudRate = baudRate;
    if (!ce::SetCommState(port, &dcb)) {
        ce::CloseHandle(port);
        return ce::INVALID_HANDLE_VALUE;
    }
    ce::DWORD written = 0;
    ce::WriteFile(port, BANNER, sizeof BANNER, &written, nullptr);
    sharedPort = port;
    return sharedPort;
}

void releaseSerialPort() {
    if (sharedPort != ce::INVALID_HANDLE_VALUE) ce::CloseHandle(sharedPort);
    sharedPort = ce::INVALID_HANDLE_VALUE;
}

SerialConsole::SerialConsole(std::uint32_t baudRateIn) : baudRate(baudRateIn) { consoleKind = CONSOLE_SERIAL; }

ce::BOOL SerialConsole::setup() {
    // The port may have been closed and reopened since this console last used it.
    if (comPort == ce::INVALID_HANDLE_VALUE || comPort != sharedPort) comPort = openSerialPort(baudRate);
    if (comPort == ce::INVALID_HANDLE_VALUE) {
        Console::print(u"couldn't open COM1\n");
        return ce::FALSE;
    }
    ce::DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ce::GetCommState(comPort, &dcb);
    Console::print(u"BaudRate %d, ByteSize %#x, Parity %#x, StopBits %#x\n", dcb.BaudRate, dcb.ByteSize, dcb.Parity,
                   dcb.StopBits);
    return ce::TRUE;
}

bool SerialConsole::toAscii() {
    int length = static_cast<int>(ce::wcslen(text));
    int n = ce::WideCharToMultiByte(ce::CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n < 0 || n + 1 > SERIAL_TEXT_SIZE) return false;
    if (ce::WideCharToMultiByte(ce::CP_ACP, 0, text, length, ascii, n, nullptr, nullptr) == 0) return false;
    ascii[n] = '\0';
    return true;
}

void SerialConsole::print(const ce::WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    this->format(format, args);
    va_end(args);
    if (!toAscii()) return;
    ce::DWORD written = 0;
    for (const char* p = ascii; *p; ++p) {
        if (*p == '\n') ce::WriteFile(comPort, "\r", 1, &written, nullptr);
        ce::WriteFile(comPort, p, 1, &written, nullptr);
    }
}

}  // namespace quorvel

// The serial console: text converted to 8-bit characters and sent to COM1 through
// the serial driver, one byte per write. Base of the UART consoles.
#pragma once

#include "console/console.h"

namespace quorvel {

// Bytes of the 8-bit form of one print, terminator included.
constexpr int SERIAL_TEXT_SIZE = 256;

// Closes the COM1 handle openSerialPort shares; for releaseConsole at exit.
void releaseSerialPort();

class SerialConsole : public Console {
public:
    // COM1 is opened at `baudRate` if no one has opened it yet.
    explicit SerialConsole(std::uint32_t baudRate);

    void print(const ce::WCHAR* format, ...) override;
    ce::BOOL setup() override;

    std::uint32_t baudRate;

protected:
    // The text buffer in 8-bit characters, NUL-terminated; false when it does not
    // fit or cannot be converted.
    bool toAscii();

    ce::HANDLE comPort = ce::INVALID_HANDLE_VALUE;
    char ascii[SERIAL_TEXT_SIZE] = {};
};

}  // namespace quorvel

// Register values as bit pictures through the current console, and formatted lines
// to the platform's debug output.
#include <cstdarg>

#include "console/console.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {
constexpr int DEBUG_TEXT_SIZE = 2048;
}  // namespace

void bitDump(std::uint32_t value, int low, int high, const ce::WCHAR* name, bool showBits) {
    Console& console = *theConsole();
    if (high == 0) high = 31;
    for (int i = 31; i >= 0; --i) {
        bool set = (value >> i) & 1;
        bool inField = low <= i && i <= high;
        console.print(u"%c", inField ? (set ? u'|' : u'.') : (set ? u'+' : u'-'));
    }
    if (name) console.print(u"[%s]", name);
    console.print(u" [0x%08x]", value);
    if (showBits) {
        for (int i = 31; i >= 0; --i) {
            if (low <= i && i <= high && ((value >> i) & 1)) console.print(u" %d", i);
        }
    }
    console.print(u" %d\n", value);
}

void bitFlag(std::uint32_t value, std::uint32_t mask, const char* name) {
    theConsole()->print(u"%S[%c] ", name, (value & mask) ? u'x' : u'_');
}

int debugMessage(const ce::WCHAR* format, ...) {
    ce::WCHAR buffer[DEBUG_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    int count = ce::wvnsprintfW(buffer, DEBUG_TEXT_SIZE, format, args);
    va_end(args);
    if (count > 0) ce::OutputDebugStringW(buffer);
    return count;
}

}  // namespace quorvel

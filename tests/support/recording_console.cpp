// A console that records what is printed.
#include "support/recording_console.h"

#include <algorithm>
#include <cstdarg>

#include "platform/coredll.h"
#include "sim/utf.h"

namespace testing_support {

void RecordingConsole::print(const ce::WCHAR* format, ...) {
    ce::WCHAR buffer[4096];
    va_list args;
    va_start(args, format);
    ce::wvnsprintfW(buffer, static_cast<int>(std::size(buffer)), format, args);
    va_end(args);
    prints_.emplace_back(buffer);
}

std::string RecordingConsole::text() const {
    std::u16string all;
    for (const auto& each : prints_) all += each;
    return sim::toUtf8(all);
}

bool RecordingConsole::printed(const std::u16string& text) const {
    return std::find(prints_.begin(), prints_.end(), text) != prints_.end();
}

}  // namespace testing_support

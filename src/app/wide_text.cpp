#include "app/wide_text.h"

#include <algorithm>

#include "platform/coredll.h"
#include "sim/utf.h"

namespace quorvel::app {

std::string text(const ce::WCHAR* w) { return sim::toUtf8(std::u16string_view(w, ce::wcslen(w))); }

std::u16string wide(const std::string& text) { return sim::fromUtf8(text); }

void copyOption(ce::WCHAR* to, std::size_t size, const std::string& text) {
    std::u16string w = wide(text);
    std::size_t n = std::min(w.size(), size - 1);
    std::copy(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(n), to);
    to[n] = 0;
}

}  // namespace quorvel::app

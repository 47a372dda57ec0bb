// Text conversion and the wide-string runtime. The host's ANSI code page is UTF-8,
// so names that leave the system as 8-bit text stay readable on Linux.
#include <cstring>
#include <string>

#include "platform/coredll.h"
#include "sim/handheld.h"
#include "sim/utf.h"

namespace ce {

namespace {
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int wideCount, LPSTR out, int outSize, LPCSTR, BOOL* usedDefault) {
    if (usedDefault) *usedDefault = FALSE;
    if (!wide || wideCount == 0 || wideCount < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (sim::Handheld::exists() && sim::Handheld::current().faults().check("WideCharToMultiByte")) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t count = wideCount == -1 ? wcslen(wide) + 1 : static_cast<std::size_t>(wideCount);
    std::string bytes = sim::toUtf8(std::u16string_view(wide, count));
    if (outSize == 0) return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<std::size_t>(outSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, bytes.data(), bytes.size());
    return static_cast<int>(bytes.size());
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR text, int count, LPWSTR out, int outSize) {
    if (!text || count == 0 || count < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t length = count == -1 ? std::strlen(text) + 1 : static_cast<std::size_t>(count);
    std::u16string wide = sim::fromUtf8(std::string_view(text, length));
    if (outSize == 0) return static_cast<int>(wide.size());
    if (wide.size() > static_cast<std::size_t>(outSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, wide.data(), wide.size() * sizeof(WCHAR));
    return static_cast<int>(wide.size());
}

std::size_t wcslen(LPCWSTR text) {
    std::size_t n = 0;
    while (text[n]) ++n;
    return n;
}

int wcscmp(LPCWSTR a, LPCWSTR b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<int>(*a) - static_cast<int>(*b);
}

LPWSTR wcsstr(LPCWSTR text, LPCWSTR pattern) {
    std::u16string_view haystack(text, wcslen(text));
    std::size_t at = haystack.find(std::u16string_view(pattern, wcslen(pattern)));
    return at == std::u16string_view::npos ? nullptr : const_cast<LPWSTR>(text + at);
}

LPWSTR wcschr(LPCWSTR text, WCHAR c) {
    for (;; ++text) {
        if (*text == c) return const_cast<LPWSTR>(text);
        if (!*text) return nullptr;
    }
}

LPWSTR wcsncpy(LPWSTR out, LPCWSTR text, std::size_t count) {
    std::size_t i = 0;
    for (; i < count && text[i]; ++i) out[i] = text[i];
    for (; i < count; ++i) out[i] = 0;
    return out;
}

}  // namespace ce

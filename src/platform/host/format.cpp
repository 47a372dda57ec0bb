// wsprintfW and its kin, with the Windows meaning of the formats: "%s" is wide text,
// "%S" 8-bit text, "%c" a wide character, "%C" an 8-bit one; "h" and "l" select
// 8-bit or wide explicitly; "#" prefixes hex with 0x.
#include <cstdarg>
#include <cstring>
#include <string>

#include "platform/coredll.h"
#include "sim/utf.h"

namespace ce {

namespace {

void pad(std::u16string& out, std::size_t count, char16_t c) { out.append(count, c); }

std::u16string formatAll(LPCWSTR format, va_list args) {
    std::u16string out;
    for (const WCHAR* p = format; *p; ++p) {
        if (*p != u'%') {
            out.push_back(*p);
            continue;
        }
        ++p;
        if (*p == u'%') {
            out.push_back(u'%');
            continue;
        }
        bool left = false, zero = false, alternate = false;
        for (;; ++p) {
            if (*p == u'-') left = true;
            else if (*p == u'0') zero = true;
            else if (*p == u'#') alternate = true;
            else break;
        }
        std::size_t width = 0;
        if (*p == u'*') {
            int w = va_arg(args, int);
            if (w < 0) {
                left = true;
                w = -w;
            }
            width = static_cast<std::size_t>(w);
            ++p;
        }
        while (*p >= u'0' && *p <= u'9') width = width * 10 + (*p++ - u'0');
        long precision = -1;
        if (*p == u'.') {
            ++p;
            precision = 0;
            while (*p >= u'0' && *p <= u'9') precision = precision * 10 + (*p++ - u'0');
        }
        enum { Default, Narrow, Wide } size = Default;
        if (*p == u'h') {
            size = Narrow;
            ++p;
        } else if (*p == u'l' || *p == u'w') {
            size = Wide;
            ++p;
        }
        std::u16string field;
        std::u16string prefix;
        bool numeric = false;
        switch (*p) {
        case u'c':
        case u'C': {
            int value = va_arg(args, int);
            bool narrow = size == Narrow || (size == Default && *p == u'C');
            field.push_back(narrow ? static_cast<char16_t>(static_cast<unsigned char>(value)) : static_cast<char16_t>(value));
            break;
        }
        case u's':
        case u'S': {
            bool narrow = size == Narrow || (size == Default && *p == u'S');
            if (narrow) {
                const char* text = va_arg(args, const char*);
                field = text ? sim::fromUtf8(text) : u"(null)";
            } else {
                const WCHAR* text = va_arg(args, const WCHAR*);
                field = text ? std::u16string(text) : u"(null)";
            }
            if (precision >= 0 && field.size() > static_cast<std::size_t>(precision)) field.resize(precision);
            break;
        }
        case u'd':
        case u'i':
        case u'u':
        case u'x':
        case u'X': {
            numeric = true;
            std::uint32_t value = va_arg(args, std::uint32_t);
            bool negative = false;
            if ((*p == u'd' || *p == u'i') && static_cast<std::int32_t>(value) < 0) {
                negative = true;
                value = 0u - value;
            }
            unsigned base = (*p == u'x' || *p == u'X') ? 16 : 10;
            const char* digits = *p == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";
            std::u16string number;
            do {
                number.insert(number.begin(), static_cast<char16_t>(digits[value % base]));
                value /= base;
            } while (value);
            if (precision >= 0 && number.size() < static_cast<std::size_t>(precision))
                number.insert(0, precision - number.size(), u'0');
            if (negative) prefix = u"-";
            if (alternate && base == 16) prefix = *p == u'X' ? u"0X" : u"0x";
            field = number;
            break;
        }
        case 0: return out;
        default: field.push_back(*p); break;
        }
        std::size_t length = prefix.size() + field.size();
        if (length >= width) {
            out += prefix + field;
        } else if (left) {
            out += prefix + field;
            pad(out, width - length, u' ');
        } else if (zero && numeric) {
            out += prefix;
            pad(out, width - length, u'0');
            out += field;
        } else {
            pad(out, width - length, u' ');
            out += prefix + field;
        }
    }
    return out;
}

}  // namespace

int wvsprintfW(LPWSTR out, LPCWSTR format, va_list args) {
    std::u16string text = formatAll(format, args);
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    return static_cast<int>(text.size());
}

int wvnsprintfW(LPWSTR out, int size, LPCWSTR format, va_list args) {
    if (size <= 0) return 0;
    std::u16string text = formatAll(format, args);
    std::size_t count = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(out, text.data(), count * sizeof(WCHAR));
    out[count] = 0;
    return static_cast<int>(count);
}

int wsprintfW(LPWSTR out, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int count = wvsprintfW(out, format, args);
    va_end(args);
    return count;
}

}  // namespace ce

// UTF-8 <-> UTF-16 of the host side: well-formed text round-trips, and every
// ill-formed UTF-8 form becomes U+FFFD instead of a code point it does not encode.
#include <gtest/gtest.h>

#include <string>

#include "sim/utf.h"

namespace {

struct Utf8Case {
    const char* name;
    std::string bytes;
    std::u16string expected;
};

TEST(Utf, MalformedUtf8BecomesReplacementCharacters) {
    const Utf8Case cases[] = {
        {"ascii", "abc", u"abc"},
        {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00E9\u20AC\U0001F600"},
        {"highest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"overlong NUL", "\xC0\x80", u"\uFFFD\uFFFD"},
        {"overlong slash in three bytes", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"overlong in four bytes", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"high surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"low surrogate", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"F5 lead", "\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"lone continuation", "a\x80z", u"a\uFFFDz"},
        {"truncated sequence is one replacement", "\xE2\x82z", u"\uFFFDz"},
        {"truncated at the end", "a\xF0\x9F\x98", u"a\uFFFD"},
        {"FE and FF", "\xFE\xFF", u"\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sim::fromUtf8(c.bytes), c.expected);
    }
}

TEST(Utf, Utf16RoundTripsAndUnpairedSurrogatesAreReplaced) {
    const std::u16string text = u"Storage Card \u00E9\u20AC\U0001F600";
    EXPECT_EQ(sim::fromUtf8(sim::toUtf8(text)), text);
    const std::u16string lone{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    EXPECT_EQ(sim::toUtf8(lone), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

}  // namespace

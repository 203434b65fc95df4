#include "text.h"

#include <gtest/gtest.h>

#include <string>

namespace wdxprobe {
namespace {

struct QuoteCase {
    std::string text;
    std::string json;
    std::string display;
};

void PrintTo(const QuoteCase& c, std::ostream* os) { *os << c.json; }

class Quoting : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(Quoting, EscapesForJsonAndTerminal) {
    const QuoteCase& c = GetParam();
    EXPECT_EQ(JsonString(c.text), c.json);
    EXPECT_EQ(QuoteForDisplay(c.text), c.display);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Quoting,
    ::testing::Values(QuoteCase{"", R"("")", R"("")"},
                      QuoteCase{"plain text", R"("plain text")", R"("plain text")"},
                      QuoteCase{"say \"hi\"", R"("say \"hi\"")", R"("say \"hi\"")"},
                      QuoteCase{"C:\\dir", R"("C:\\dir")", R"("C:\\dir")"},
                      QuoteCase{"a\nb\rc\td", R"("a\nb\rc\td")", R"("a\nb\rc\td")"},
                      QuoteCase{std::string("\x01\x1F\x7F", 3), R"("\u0001\u001F)" "\x7F\"",
                                R"("\x01\x1F\x7F")"},
                      QuoteCase{std::string("nul\0end", 7), R"("nul\u0000end")", R"("nul\x00end")"},
                      // UTF-8 passes through; a byte that is no UTF-8 becomes U+FFFD.
                      QuoteCase{"Gr\xC3\xBC\xC3\x9F" "e", "\"Gr\xC3\xBC\xC3\x9F" "e\"", "\"Gr\xC3\xBC\xC3\x9F" "e\""},
                      QuoteCase{"bad\xFF", "\"bad\xEF\xBF\xBD\"", "\"bad\xEF\xBF\xBD\""}));

TEST(Text, Utf16RoundTripsWithSurrogatePairs) {
    const std::u16string wide = u"Gr\u00FC\u00DFe \u263A \U0001D11E";
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x98\xBA \xF0\x9D\x84\x9E";
    EXPECT_EQ(Utf16ToUtf8(wide), utf8);
    EXPECT_EQ(Utf8ToUtf16(utf8), wide);
}

TEST(Text, BrokenSequencesBecomeReplacementCharacters) {
    // Unpaired surrogates, high or low.
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}),
              "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    // Overlong, surrogate, above U+10FFFF, truncated: each bad byte is one U+FFFD.
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("ok\xE2\x98"), u"ok\uFFFD\uFFFD");
    EXPECT_EQ(SanitizeUtf8("ok\xE2\x98\xBA\xE2\x98"), "ok\xE2\x98\xBA\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Text, DisplayWidthCountsCodePoints) {
    EXPECT_EQ(DisplayWidth("Gr\xC3\xBC\xC3\x9F" "e"), 5u);
    EXPECT_EQ(DisplayWidth("\xF0\x9D\x84\x9E"), 1u);
}

}  // namespace
}  // namespace wdxprobe

#include "frame/wdx.h"
#include "value.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wdxprobe {
namespace {

// A raw answer whose buffer starts with `bytes` and is filled up to `maxlen` with 0xCD, as
// the probe fills it before the call.
RawValue Raw(int code, std::vector<std::uint8_t> bytes, std::size_t maxlen = 16, bool wide = true) {
    RawValue raw;
    raw.code = code;
    raw.maxlen = maxlen;
    raw.wide = wide;
    bytes.resize(std::max<std::size_t>(maxlen, 8), 0xCD);
    raw.bytes = std::move(bytes);
    return raw;
}

std::vector<std::uint8_t> Ascii(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

std::vector<std::uint8_t> Utf16(const std::u16string& text) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

struct FormatCase {
    std::string what;
    RawValue raw;
    std::string type;  // KindId
    std::string text;  // ValueText
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.what; }

class Formatting : public ::testing::TestWithParam<FormatCase> {};

TEST_P(Formatting, DecodesAndShows) {
    const FormatCase& c = GetParam();
    const Value value = DecodeValue(c.raw);
    EXPECT_EQ(KindId(value), c.type) << c.what;
    EXPECT_EQ(ValueText(value), c.text) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Formatting,
    ::testing::Values(
        FormatCase{"int32", Raw(ft_numeric_32, {0xF9, 0xFF, 0xFF, 0xFF}), "int32", "-7"},
        FormatCase{"int32 reads 4 bytes only", Raw(ft_numeric_32, {1, 0, 0, 0, 9, 9, 9, 9}), "int32", "1"},
        FormatCase{"int64", Raw(ft_numeric_64, {0x00, 0xF2, 0x05, 0x2A, 0x01, 0, 0, 0}), "int64", "5000000000"},
        FormatCase{"int64 negative", Raw(ft_numeric_64, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80}), "int64",
                   "-9151314442816847873"},
        FormatCase{"int64 with a 1-byte buffer", Raw(ft_numeric_64, {5, 0, 0, 0, 0, 0, 0, 0}, 1), "int64", "5"},
        FormatCase{"true", Raw(ft_boolean, {0xFF, 0xFF, 0xFF, 0xFF}), "boolean", "true"},
        FormatCase{"true is any non-zero", Raw(ft_boolean, {0, 1, 0, 0}), "boolean", "true"},
        FormatCase{"false", Raw(ft_boolean, {0, 0, 0, 0}), "boolean", "false"},
        FormatCase{"8-bit", Raw(ft_string, Ascii("JFIF, Exif")), "string", R"("JFIF, Exif")"},
        FormatCase{"8-bit escaped", Raw(ft_string, Ascii("a\"b\tc")), "string", R"("a\"b\tc")"},
        FormatCase{"8-bit empty", Raw(ft_string, Ascii("")), "string", R"("")"},
        FormatCase{"UTF-16", Raw(ft_stringw, Utf16(u"\u00FC \U0001D11E")), "stringw",
                   "\"\xC3\xBC \xF0\x9D\x84\x9E\""},
        FormatCase{"full-text chunk", Raw(ft_fulltext, Ascii("some words")), "fulltext", R"("some words")"},
        FormatCase{"delayed, UTF-16 placeholder", Raw(ft_delayed, Utf16(u"Decoding..."), 64), "delayed",
                   "(delayed: Decoding...)"},
        FormatCase{"delayed, 8-bit placeholder", Raw(ft_delayed, Ascii("Decoding..."), 16, false), "delayed",
                   "(delayed: Decoding...)"},
        FormatCase{"no such field", Raw(ft_nosuchfield, {}), "nosuchfield", "(no such field)"},
        FormatCase{"file error", Raw(ft_fileerror, {}), "fileerror", "(file error)"},
        FormatCase{"empty", Raw(ft_fieldempty, {}), "empty", "(empty)"},
        FormatCase{"other code", Raw(42, {}), "unexpected", "(unexpected result 42)"}));

TEST(Value, TextIsReadOnlyBelowTheBufferSize) {
    // No terminator within maxlen: the text stops there and says so.
    const Value narrow = DecodeValue(Raw(ft_string, {'a', 'b', 'c', 'd', 0}, 3));
    EXPECT_EQ(narrow.text, "abc");
    EXPECT_TRUE(narrow.unterminated);
    // An odd size holds maxlen div 2 code units.
    const Value wide = DecodeValue(Raw(ft_stringw, Utf16(u"xyz"), 5));
    EXPECT_EQ(wide.text, "xy");
    EXPECT_TRUE(wide.unterminated);
    const Value fits = DecodeValue(Raw(ft_stringw, Utf16(u"x"), 4));
    EXPECT_EQ(fits.text, "x");
    EXPECT_FALSE(fits.unterminated);
}

TEST(Value, TypeNames) {
    EXPECT_EQ(TypeId(ft_stringw), "stringw");
    EXPECT_EQ(TypeLabel(ft_stringw), "string (UTF-16)");
    EXPECT_EQ(TypeLabel(ft_string), "string (8-bit)");
    EXPECT_EQ(TypeLabel(7), "type 7");
    Value skipped;
    EXPECT_EQ(ValueText(skipped), "(full text: use --fulltext)");
}

}  // namespace
}  // namespace wdxprobe

// Text helpers of the probe: UTF-8 / UTF-16 conversion, quoting for the terminal and for JSON.
// Everything the probe prints is UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wdxprobe {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16; every byte that does not start a well-formed sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// The text itself when it is well-formed UTF-8, else with every bad byte replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view text);

// Number of code points, the width used to line up columns of names.
std::size_t DisplayWidth(std::string_view utf8);

// `text` in double quotes with \" \\ \n \r \t and \xHH for the other control characters,
// so that a value always stays on one line.
std::string QuoteForDisplay(std::string_view utf8);

// `text` as a JSON string literal, quotes included (RFC 8259 section 7).
std::string JsonString(std::string_view utf8);

// ASCII letters folded to upper case; other bytes unchanged.
std::string AsciiUpper(std::string_view text);

}  // namespace wdxprobe

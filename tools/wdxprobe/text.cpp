#include "text.h"

#include <cstdint>

namespace wdxprobe {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes the sequence at `pos` (Unicode 15, table 3-7 of well-formed sequences) and moves
// `pos` past it; a byte that starts no well-formed sequence yields U+FFFD and moves one byte.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    char32_t c = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        ++pos;
        return kReplacement;
    }
    if (text.size() - pos < length) {
        ++pos;
        return kReplacement;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const std::uint8_t next = byte(pos + i);
        const std::uint8_t min = i == 1 ? low : 0x80;
        const std::uint8_t max = i == 1 ? high : 0xBF;
        if (next < min || next > max) {
            ++pos;
            return kReplacement;
        }
        c = (c << 6) | (next & 0x3Fu);
    }
    pos += length;
    return c;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            const char32_t c = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00);
            AppendUtf8(out, c);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char32_t c = DecodeUtf8(text, pos);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string SanitizeUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        const char32_t c = DecodeUtf8(text, pos);
        if (c == kReplacement && pos - start == 1 && static_cast<std::uint8_t>(text[start]) >= 0x80) {
            AppendUtf8(out, kReplacement);
        } else {
            out.append(text.substr(start, pos - start));
        }
    }
    return out;
}

std::size_t DisplayWidth(std::string_view utf8) {
    std::size_t width = 0;
    for (const char c : utf8) {
        if ((static_cast<std::uint8_t>(c) & 0xC0) != 0x80) ++width;
    }
    return width;
}

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Escapes shared by both quoting styles; `json` picks \u00HH or \xHH for the rest.
std::string Quote(std::string_view text, bool json) {
    const std::string utf8 = SanitizeUtf8(text);
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<std::uint8_t>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20 || (!json && byte == 0x7F)) {
                    out += json ? "\\u00" : "\\x";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0x0F];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace

std::string QuoteForDisplay(std::string_view utf8) { return Quote(utf8, false); }

std::string JsonString(std::string_view utf8) { return Quote(utf8, true); }

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

}  // namespace wdxprobe

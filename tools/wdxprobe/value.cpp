#include "value.h"
#include "frame/wdx.h"
#include "os.h"
#include "text.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace wdxprobe {
namespace {

template <typename T>
T ReadLittle(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(T) && i < bytes.size(); ++i) value |= std::uint64_t{bytes[i]} << (8 * i);
    return static_cast<T>(value);
}

// The zero-terminated 8-bit text in the first `maxlen` bytes.
std::string NarrowText(const RawValue& raw, bool& unterminated) {
    const std::size_t limit = std::min(raw.maxlen, raw.bytes.size());
    const auto begin = raw.bytes.begin();
    const auto end = std::find(begin, begin + static_cast<std::ptrdiff_t>(limit), std::uint8_t{0});
    unterminated = end == begin + static_cast<std::ptrdiff_t>(limit);
    return PluginTextToUtf8(std::string(begin, end));
}

// The zero-terminated UTF-16 text in the first `maxlen` bytes.
std::string WideText(const RawValue& raw, bool& unterminated) {
    const std::size_t units = std::min(raw.maxlen, raw.bytes.size()) / 2;
    std::u16string text;
    unterminated = true;
    for (std::size_t i = 0; i < units; ++i) {
        const auto unit = static_cast<char16_t>(raw.bytes[2 * i] | (raw.bytes[2 * i + 1] << 8));
        if (unit == 0) {
            unterminated = false;
            break;
        }
        text += unit;
    }
    return Utf16ToUtf8(text);
}

}  // namespace

Value DecodeValue(const RawValue& raw) {
    Value value;
    value.code = raw.code;
    value.overrun = raw.overrun;
    switch (raw.code) {
        case ft_numeric_32:
            value.kind = ValueKind::Int32;
            value.number = ReadLittle<std::int32_t>(raw.bytes);
            break;
        case ft_numeric_64:
            value.kind = ValueKind::Int64;
            value.number = ReadLittle<std::int64_t>(raw.bytes);
            break;
        case ft_boolean:
            value.kind = ValueKind::Boolean;
            value.number = ReadLittle<std::int32_t>(raw.bytes) != 0 ? 1 : 0;
            break;
        case ft_string:
            value.kind = ValueKind::String;
            value.text = NarrowText(raw, value.unterminated);
            break;
        case ft_fulltext:
            value.kind = ValueKind::FullText;
            value.text = NarrowText(raw, value.unterminated);
            break;
        case ft_stringw:
            value.kind = ValueKind::WideString;
            value.text = WideText(raw, value.unterminated);
            break;
        case ft_delayed:
            value.kind = ValueKind::Delayed;
            value.text = raw.wide ? WideText(raw, value.unterminated) : NarrowText(raw, value.unterminated);
            break;
        case ft_nosuchfield: value.kind = ValueKind::NoSuchField; break;
        case ft_fileerror: value.kind = ValueKind::FileError; break;
        case ft_fieldempty: value.kind = ValueKind::Empty; break;
        default: value.kind = ValueKind::Unexpected; break;
    }
    return value;
}

bool IsTypeCode(int code) {
    return code == ft_numeric_32 || code == ft_numeric_64 || code == ft_boolean || code == ft_string ||
           code == ft_fulltext || code == ft_stringw;
}

std::string TypeId(int type) {
    switch (type) {
        case ft_numeric_32: return "int32";
        case ft_numeric_64: return "int64";
        case ft_boolean: return "boolean";
        case ft_string: return "string";
        case ft_fulltext: return "fulltext";
        case ft_stringw: return "stringw";
        default: return "type" + std::to_string(type);
    }
}

std::string KindId(const Value& value) {
    switch (value.kind) {
        case ValueKind::Delayed: return "delayed";
        case ValueKind::NoSuchField: return "nosuchfield";
        case ValueKind::FileError: return "fileerror";
        case ValueKind::Empty: return "empty";
        case ValueKind::Unexpected: return "unexpected";
        case ValueKind::NotFetched: return TypeId(value.code);
        default: return TypeId(value.code);
    }
}

std::string TypeLabel(int type) {
    switch (type) {
        case ft_numeric_32: return "int32";
        case ft_numeric_64: return "int64";
        case ft_boolean: return "boolean";
        case ft_string: return "string (8-bit)";
        case ft_fulltext: return "full text";
        case ft_stringw: return "string (UTF-16)";
        default: return "type " + std::to_string(type);
    }
}

std::string ValueText(const Value& value) {
    switch (value.kind) {
        case ValueKind::Int32:
        case ValueKind::Int64: return std::to_string(value.number);
        case ValueKind::Boolean: return value.number != 0 ? "true" : "false";
        case ValueKind::String:
        case ValueKind::WideString:
        case ValueKind::FullText: return QuoteForDisplay(value.text);
        case ValueKind::Delayed: return "(delayed: " + SanitizeUtf8(value.text) + ")";
        case ValueKind::NoSuchField: return "(no such field)";
        case ValueKind::FileError: return "(file error)";
        case ValueKind::Empty: return "(empty)";
        case ValueKind::Unexpected: return "(unexpected result " + std::to_string(value.code) + ")";
        case ValueKind::NotFetched: return "(full text: use --fulltext)";
    }
    return {};
}

}  // namespace wdxprobe

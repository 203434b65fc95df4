// A field value as the plugin answered it: the raw answer (result code and buffer), its
// decoded form, and its text for the terminal. Type and result codes are those of frame/wdx.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wdxprobe {

// What one value call left behind.
struct RawValue {
    int code = 0;
    std::vector<std::uint8_t> bytes;  // the buffer: `maxlen` bytes, at least 8 (numbers are written whole)
    std::size_t maxlen = 0;           // the size passed to the plugin; text is read only below it
    bool wide = false;                // asked through ContentGetValueW: a placeholder is UTF-16
    bool overrun = false;             // the plugin wrote past what it may write
};

enum class ValueKind {
    Int32,
    Int64,
    Boolean,
    String,      // 8-bit text
    WideString,  // UTF-16 text
    FullText,    // 8-bit chunks of searchable text
    Delayed,     // result 0: `text` is the placeholder
    NoSuchField, // -1
    FileError,   // -2
    Empty,       // -3
    Unexpected,  // any other code
    NotFetched,  // the probe did not ask (a full-text field without --fulltext)
};

// One full-text chunk: the unit index it was asked with (bytes delivered before it) and its text.
struct Chunk {
    std::uint64_t offset = 0;
    std::string text;  // UTF-8
};

struct Value {
    ValueKind kind = ValueKind::NotFetched;
    int code = 0;
    std::int64_t number = 0;  // Int32, Int64; Boolean: 1 or 0
    std::string text;         // UTF-8: strings, full text (joined), placeholder
    std::vector<Chunk> chunks;  // full text as delivered
    std::string note;         // why a full-text fetch stopped early, or empty
    bool unterminated = false;  // no zero terminator inside the buffer
    bool overrun = false;
};

// Decodes an answer; 8-bit text is converted with PluginTextToUtf8 (os.h).
Value DecodeValue(const RawValue& raw);

// Whether a result code is a field type that carries a value (1, 2, 6, 8, 9, 11).
bool IsTypeCode(int code);

// Short stable names of field types ("int32", "stringw") and result kinds ("empty"), for JSON.
std::string TypeId(int type);
std::string KindId(const Value& value);

// Names of field types for people: "int32", "string (UTF-16)", "type 7" for unknown codes.
std::string TypeLabel(int type);

// The value as one line of text: 42, true, "text", (empty), (delayed: Extracting...).
std::string ValueText(const Value& value);

}  // namespace wdxprobe

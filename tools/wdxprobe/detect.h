// The detect string a plugin offers so that the host asks it only for files it can handle,
// parsed once and evaluated per file. Understood syntax:
//   [n]=b  [n]!=b     byte at offset n (decimal) equals / differs from b (decimal 0-255)
//   [n]="text"        the bytes from offset n on equal the quoted text (also !=)
//   EXT="JPG"         the file name's extension, letter case ignored (also EXT!=)
//   SIZE>100          the file size compared with = != < > <= >=
//   FORCE             always true
//   !  &  |  ( )      not, and, or (in that order of binding), grouping
// A byte test that reaches past the end of the file is false, with = and != alike. Anything
// else (other keywords such as MULTIMEDIA, hexadecimal numbers, unquoted texts) cannot be
// evaluated: Parse reports it rather than guessing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace wdxprobe {

// What the detect string can ask about one file.
struct FileFacts {
    std::string name;  // the file name or path, UTF-8; its extension is what EXT compares
    std::uint64_t size = 0;
    // Fills `out` from `offset` on and answers how many bytes it could read (fewer at the end).
    std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> out)> read;
};

// FileFacts over bytes held in memory.
FileFacts MemoryFacts(std::string name, std::vector<std::uint8_t> bytes);

// The extension EXT compares: the text after the last '.' of the last path component, or "".
std::string FileExtension(std::string_view name);

class DetectExpression {
public:
    // Parses `text`; when it cannot be evaluated, Error() says why and Matches must not be used.
    static DetectExpression Parse(std::string_view text);

    bool Valid() const { return error_.empty(); }
    const std::string& Error() const { return error_; }

    bool Matches(const FileFacts& file) const;

    enum class Op { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual };

private:
    enum class Kind { Or, And, Not, Force, Ext, Size, Bytes };
    struct Node {
        Kind kind = Kind::Force;
        Op op = Op::Equal;
        int left = -1;   // child nodes of Or, And (both) and Not (left)
        int right = -1;
        std::uint64_t number = 0;     // SIZE value, byte offset
        std::string text;             // EXT text (upper case), byte test bytes
    };

    class Parser;
    bool Evaluate(int node, const FileFacts& file) const;

    std::vector<Node> nodes_;
    int root_ = -1;
    std::string error_;
};

}  // namespace wdxprobe

#include "detect.h"
#include "text.h"

#include <algorithm>
#include <utility>

namespace wdxprobe {

FileFacts MemoryFacts(std::string name, std::vector<std::uint8_t> bytes) {
    FileFacts facts;
    facts.name = std::move(name);
    facts.size = bytes.size();
    facts.read = [data = std::move(bytes)](std::uint64_t offset, std::span<std::uint8_t> out) -> std::size_t {
        if (offset >= data.size()) return 0;
        const std::size_t start = static_cast<std::size_t>(offset);
        const std::size_t count = std::min(out.size(), data.size() - start);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(start), count, out.begin());
        return count;
    };
    return facts;
}

std::string FileExtension(std::string_view name) {
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    return std::string(name.substr(dot + 1));
}

// Recursive descent over the grammar
//   or      := and ('|' and)*
//   and     := unary ('&' unary)*
//   unary   := '!' unary | primary
//   primary := '(' or ')' | FORCE | EXT eqop "text" | SIZE op number | '[' number ']' eqop (number | "text")
// The first problem met ends the parse with a message naming its position.
class DetectExpression::Parser {
public:
    Parser(std::string_view text, DetectExpression& out) : text_(text), out_(out) {}

    void Run() {
        const int root = ParseOr();
        if (failed_) return;
        SkipSpace();
        if (pos_ < text_.size()) {
            Fail("unexpected " + Describe() );
            return;
        }
        out_.root_ = root;
    }

private:
    // Deep enough for any real detect string, shallow enough for the stack.
    static constexpr int kMaxDepth = 100;

    void Fail(const std::string& message) {
        if (failed_) return;
        failed_ = true;
        out_.error_ = message + " at offset " + std::to_string(pos_);
    }

    void SkipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    }

    bool Accept(std::string_view token) {
        SkipSpace();
        if (text_.substr(pos_).starts_with(token)) {
            pos_ += token.size();
            return true;
        }
        return false;
    }

    // What stands at the current position, for messages.
    std::string Describe() {
        SkipSpace();
        if (pos_ >= text_.size()) return "end of text";
        std::size_t end = pos_ + 1;
        if (IsLetter(text_[pos_])) {
            while (end < text_.size() && IsLetter(text_[end])) ++end;
        }
        return "'" + std::string(text_.substr(pos_, end - pos_)) + "'";
    }

    static bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    int Add(Node node) {
        out_.nodes_.push_back(std::move(node));
        return static_cast<int>(out_.nodes_.size() - 1);
    }

    int Binary(Kind kind, int left, int right) {
        Node node;
        node.kind = kind;
        node.left = left;
        node.right = right;
        return Add(std::move(node));
    }

    int ParseOr() {
        int left = ParseAnd();
        while (!failed_ && Accept("|")) left = Binary(Kind::Or, left, ParseAnd());
        return left;
    }

    int ParseAnd() {
        int left = ParseUnary();
        while (!failed_ && Accept("&")) left = Binary(Kind::And, left, ParseUnary());
        return left;
    }

    int ParseUnary() {
        if (++depth_ > kMaxDepth) {
            Fail("nested too deeply");
            return -1;
        }
        int result = -1;
        SkipSpace();
        if (text_.substr(pos_).starts_with("!") && !text_.substr(pos_).starts_with("!=")) {
            ++pos_;
            result = Binary(Kind::Not, ParseUnary(), -1);
        } else {
            result = ParsePrimary();
        }
        --depth_;
        return result;
    }

    int ParsePrimary() {
        if (failed_) return -1;
        if (Accept("(")) {
            const int inner = ParseOr();
            if (!failed_ && !Accept(")")) Fail("expected ')' but found " + Describe());
            return inner;
        }
        if (Accept("[")) return ParseByteTest();
        SkipSpace();
        std::size_t end = pos_;
        while (end < text_.size() && IsLetter(text_[end])) ++end;
        const std::string word = AsciiUpper(text_.substr(pos_, end - pos_));
        if (word.empty()) {
            Fail("unexpected " + Describe());
            return -1;
        }
        if (word == "FORCE") {
            pos_ = end;
            return Add(Node{});
        }
        if (word == "EXT") {
            pos_ = end;
            Node node;
            node.kind = Kind::Ext;
            node.op = ParseOp(false);
            node.text = AsciiUpper(ParseQuoted());
            return Add(std::move(node));
        }
        if (word == "SIZE") {
            pos_ = end;
            Node node;
            node.kind = Kind::Size;
            node.op = ParseOp(true);
            node.number = ParseNumber();
            return Add(std::move(node));
        }
        Fail("'" + std::string(text_.substr(pos_, end - pos_)) + "' is not supported");
        return -1;
    }

    int ParseByteTest() {
        Node node;
        node.kind = Kind::Bytes;
        node.number = ParseNumber();
        if (!failed_ && !Accept("]")) Fail("expected ']' but found " + Describe());
        node.op = ParseOp(false);
        SkipSpace();
        if (failed_) return -1;
        if (pos_ < text_.size() && text_[pos_] == '"') {
            node.text = ParseQuoted();
            if (!failed_ && node.text.empty()) Fail("empty text in a byte test");
        } else {
            const std::size_t start = pos_;
            const std::uint64_t value = ParseNumber();
            if (!failed_ && value > 255) {
                pos_ = start;
                Fail("byte value " + std::to_string(value) + " is above 255");
            }
            node.text.assign(1, static_cast<char>(static_cast<std::uint8_t>(value)));
        }
        return Add(std::move(node));
    }

    // The comparison operator; `ordered` allows < > <= >= besides = and !=.
    Op ParseOp(bool ordered) {
        if (failed_) return Op::Equal;
        if (Accept("!=")) return Op::NotEqual;
        if (Accept("=")) return Op::Equal;
        if (ordered) {
            if (Accept("<=")) return Op::LessEqual;
            if (Accept(">=")) return Op::GreaterEqual;
            if (Accept("<")) return Op::Less;
            if (Accept(">")) return Op::Greater;
            Fail("expected a comparison but found " + Describe());
        } else {
            Fail("expected '=' or '!=' but found " + Describe());
        }
        return Op::Equal;
    }

    std::uint64_t ParseNumber() {
        if (failed_) return 0;
        SkipSpace();
        if (pos_ >= text_.size() || !IsDigit(text_[pos_])) {
            Fail("expected a decimal number but found " + Describe());
            return 0;
        }
        std::uint64_t value = 0;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) {
            const auto digit = static_cast<std::uint64_t>(text_[pos_] - '0');
            if (value > (UINT64_MAX - digit) / 10) {
                Fail("number too large");
                return 0;
            }
            value = value * 10 + digit;
            ++pos_;
        }
        if (pos_ < text_.size() && (IsLetter(text_[pos_]))) Fail("unexpected " + Describe() + " in a number");
        return value;
    }

    std::string ParseQuoted() {
        if (failed_) return {};
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] != '"') {
            Fail("expected a quoted text but found " + Describe());
            return {};
        }
        const std::size_t close = text_.find('"', pos_ + 1);
        if (close == std::string_view::npos) {
            Fail("unterminated quoted text");
            return {};
        }
        std::string value(text_.substr(pos_ + 1, close - pos_ - 1));
        pos_ = close + 1;
        return value;
    }

    std::string_view text_;
    DetectExpression& out_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    bool failed_ = false;
};

DetectExpression DetectExpression::Parse(std::string_view text) {
    DetectExpression expression;
    Parser(text, expression).Run();
    if (!expression.Valid()) expression.nodes_.clear();
    return expression;
}

bool DetectExpression::Matches(const FileFacts& file) const {
    return Valid() && root_ >= 0 && Evaluate(root_, file);
}

namespace {

template <typename T>
bool Compare(DetectExpression::Op op, const T& a, const T& b) {
    using Op = DetectExpression::Op;
    switch (op) {
        case Op::Equal: return a == b;
        case Op::NotEqual: return a != b;
        case Op::Less: return a < b;
        case Op::Greater: return a > b;
        case Op::LessEqual: return a <= b;
        case Op::GreaterEqual: return a >= b;
    }
    return false;
}

}  // namespace

bool DetectExpression::Evaluate(int index, const FileFacts& file) const {
    const Node& node = nodes_[static_cast<std::size_t>(index)];
    switch (node.kind) {
        case Kind::Or: return Evaluate(node.left, file) || Evaluate(node.right, file);
        case Kind::And: return Evaluate(node.left, file) && Evaluate(node.right, file);
        case Kind::Not: return !Evaluate(node.left, file);
        case Kind::Force: return true;
        case Kind::Ext: return Compare(node.op, AsciiUpper(FileExtension(file.name)), node.text);
        case Kind::Size: return Compare(node.op, file.size, node.number);
        case Kind::Bytes: {
            if (!file.read || node.number >= file.size || file.size - node.number < node.text.size()) return false;
            std::vector<std::uint8_t> bytes(node.text.size());
            if (file.read(node.number, bytes) != bytes.size()) return false;
            const bool equal = std::equal(bytes.begin(), bytes.end(), node.text.begin(),
                                          [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
            return node.op == Op::Equal ? equal : !equal;
        }
    }
    return false;
}

}  // namespace wdxprobe

#include "detect.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wdxprobe {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// An ICC profile header: "acsp" at offsets 36-39 of 128 bytes.
Bytes IccHeader() {
    Bytes bytes(128, 0);
    bytes[36] = 'a';
    bytes[37] = 'c';
    bytes[38] = 's';
    bytes[39] = 'p';
    return bytes;
}

Bytes IccHeaderCutAt(std::size_t size) {
    Bytes bytes = IccHeader();
    bytes.resize(size);
    return bytes;
}

const std::string kOrvane = R"(([36]="a"&[37]="c"&[38]="s"&[39]="p")|([0]=255&[1]=216&[2]=255))";

struct MatchCase {
    std::string detect;
    std::string name;
    Bytes bytes;
    bool accepted;
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.detect << " on " << c.name; }

class DetectMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(DetectMatch, Evaluates) {
    const MatchCase& c = GetParam();
    const DetectExpression expression = DetectExpression::Parse(c.detect);
    ASSERT_TRUE(expression.Valid()) << expression.Error();
    EXPECT_EQ(expression.Matches(MemoryFacts(c.name, c.bytes)), c.accepted) << c.detect << " on " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DetectMatch,
    ::testing::Values(
        // The plugin's own detect string: ICC profiles and JPEG streams, whatever the name.
        MatchCase{kOrvane, "profile.bin", IccHeader(), true},
        MatchCase{kOrvane, "photo", {0xFF, 0xD8, 0xFF, 0xE0}, true},
        MatchCase{kOrvane, "photo.jpg", {0xFF, 0xD8, 0xFE}, false},
        MatchCase{kOrvane, "cut.jpg", {0xFF, 0xD8}, false},           // [2] is past the end
        MatchCase{kOrvane, "cut.icc", IccHeaderCutAt(39), false},
        MatchCase{kOrvane, "empty.jpg", {}, false},
        MatchCase{kOrvane, "image.png", {0x89, 'P', 'N', 'G'}, false},
        // Extension: letter case ignored, only the last one counts, path folders ignored.
        MatchCase{R"(EXT="JPG")", "a.jpg", {}, true},
        MatchCase{R"(EXT="JPG")", "dir.jpg/a.JPG", {}, true},
        MatchCase{R"(EXT="JPG")", "a.jpg.txt", {}, false},
        MatchCase{R"(EXT="JPG")", "jpg", {}, false},
        MatchCase{R"(EXT="")", "README", {}, true},
        MatchCase{R"(EXT!="JPG")", "a.png", {}, true},
        MatchCase{R"(EXT!="JPG")", "a.Jpg", {}, false},
        // Size comparisons at their boundaries.
        MatchCase{"SIZE>3", "f", Text("abcd"), true},
        MatchCase{"SIZE>4", "f", Text("abcd"), false},
        MatchCase{"SIZE<5", "f", Text("abcd"), true},
        MatchCase{"SIZE<=4", "f", Text("abcd"), true},
        MatchCase{"SIZE>=5", "f", Text("abcd"), false},
        MatchCase{"SIZE=4", "f", Text("abcd"), true},
        MatchCase{"SIZE!=4", "f", Text("abcd"), false},
        // Byte tests: decimal values, quoted texts, !=, and nothing past the end.
        MatchCase{R"([1]="BC")", "f", Text("ABCD"), true},
        MatchCase{R"([1]="BCDE")", "f", Text("ABCD"), false},
        MatchCase{R"([0]="a")", "f", Text("ABCD"), false},
        MatchCase{"[0]!=65", "f", Text("ABCD"), false},
        MatchCase{"[0]!=66", "f", Text("ABCD"), true},
        MatchCase{"[9]!=66", "f", Text("ABCD"), false},
        MatchCase{"[3]=68", "f", Text("ABCD"), true},
        MatchCase{"[18446744073709551615]=0", "f", Text("ABCD"), false},
        // Operators: ! binds tightest, then &, then |; spaces are allowed between tokens.
        MatchCase{"FORCE", "f", {}, true},
        MatchCase{"!FORCE", "f", {}, false},
        MatchCase{R"(!(EXT="A"))", "f.b", {}, true},
        MatchCase{R"(EXT="A"|EXT="B"&SIZE>0)", "f.a", {}, true},
        MatchCase{R"((EXT="A"|EXT="B")&SIZE>0)", "f.a", {}, false},
        MatchCase{R"(!EXT="A"&!EXT="B")", "f.c", {}, true},
        MatchCase{R"( ( EXT = "A" ) | [0] = 65 )", "f.x", Text("A"), true}));

struct ErrorCase {
    std::string detect;
    std::string message;  // a part of the error
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.detect.substr(0, 40); }

class DetectError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(DetectError, CannotEvaluate) {
    const ErrorCase& c = GetParam();
    const DetectExpression expression = DetectExpression::Parse(c.detect);
    ASSERT_FALSE(expression.Valid()) << c.detect;
    EXPECT_NE(expression.Error().find(c.message), std::string::npos) << expression.Error();
    EXPECT_FALSE(expression.Matches(MemoryFacts("f.a", Text("A"))));
}

INSTANTIATE_TEST_SUITE_P(
    Table, DetectError,
    ::testing::Values(ErrorCase{R"(EXT="MP3"|MULTIMEDIA)", "'MULTIMEDIA' is not supported at offset 10"},
                      ErrorCase{"", "unexpected end of text"},
                      ErrorCase{"[0]=256", "byte value 256 is above 255"},
                      ErrorCase{"[0]=0xFF", "in a number"},
                      ErrorCase{"[0]<5", "expected '=' or '!='"},
                      ErrorCase{"EXT=JPG", "expected a quoted text"},
                      ErrorCase{R"(EXT<"A")", "expected '=' or '!='"},
                      ErrorCase{R"(EXT="JPG)", "unterminated quoted text"},
                      ErrorCase{R"((EXT="A")", "expected ')'"},
                      ErrorCase{R"(EXT="A"))", "unexpected ')' at offset 7"},
                      ErrorCase{R"(EXT="A"&)", "unexpected end of text"},
                      ErrorCase{"SIZE>", "expected a decimal number"},
                      ErrorCase{"SIZE>99999999999999999999", "number too large"},
                      ErrorCase{R"([0]="")", "empty text"},
                      ErrorCase{std::string(5000, '(') + "FORCE" + std::string(5000, ')'), "nested too deeply"},
                      ErrorCase{std::string(5000, '!') + "FORCE", "nested too deeply"}));

TEST(Detect, OrvaneDetectStringIs63Characters) {
    EXPECT_EQ(kOrvane.size(), 63u);
    EXPECT_TRUE(DetectExpression::Parse(kOrvane).Valid());
}

TEST(Detect, ReadsOnlyTheBytesItTests) {
    // A byte test far into a large file asks for those bytes alone.
    FileFacts facts;
    facts.name = "big.bin";
    facts.size = 1ull << 40;
    std::vector<std::uint64_t> asked;
    facts.read = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        asked.push_back(offset);
        for (auto& byte : out) byte = 'x';
        return out.size();
    };
    EXPECT_TRUE(DetectExpression::Parse(R"([1000000000000]="xx")").Matches(facts));
    EXPECT_EQ(asked, std::vector<std::uint64_t>{1000000000000ull});
}

}  // namespace
}  // namespace wdxprobe

#include "where.h"
#include "frame/wdx.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wdxprobe {
namespace {

Value Number(std::int64_t number, ValueKind kind = ValueKind::Int32) {
    Value value;
    value.kind = kind;
    value.number = number;
    return value;
}

Value Text(std::string text, ValueKind kind = ValueKind::WideString) {
    Value value;
    value.kind = kind;
    value.text = std::move(text);
    return value;
}

Value Answer(ValueKind kind, int code) {
    Value value;
    value.kind = kind;
    value.code = code;
    return value;
}

struct MeetCase {
    const char* condition;
    Value value;
    bool meets;
};

void PrintTo(const MeetCase& c, std::ostream* os) { *os << c.condition << " on " << ValueText(c.value); }

class Meeting : public testing::TestWithParam<MeetCase> {};

TEST_P(Meeting, Condition) {
    const MeetCase& c = GetParam();
    std::string error;
    const auto condition = ParseCondition(c.condition, error);
    ASSERT_TRUE(condition) << error;
    EXPECT_EQ(Meets(*condition, c.value), c.meets);
}

const Value kEmpty = Answer(ValueKind::Empty, ft_fieldempty);
const Value kFileError = Answer(ValueKind::FileError, ft_fileerror);
const Value kDelayed = Text("Decoding...", ValueKind::Delayed);

INSTANTIATE_TEST_SUITE_P(Table, Meeting, testing::Values(
    // Texts: exact, substring, regular expression, letter case.
    MeetCase{"Integrity=OK", Text("OK"), true},
    MeetCase{"Integrity=OK", Text("OK "), false},
    MeetCase{"Integrity!=OK", Text("Corrupted (42% read)"), true},
    MeetCase{"Integrity != OK", Text("OK"), false},
    MeetCase{"Integrity~rupt", Text("Corrupted (42% read)"), true},
    MeetCase{"Integrity!~rupt", Text("Corrupted (42% read)"), false},
    MeetCase{"Integrity~/^Corrupted \\(\\d+% read\\)$/", Text("Corrupted (42% read)"), true},
    MeetCase{"Integrity~/^corrupted/", Text("Corrupted (42% read)"), false},
    MeetCase{"Integrity~/^corrupted/i", Text("Corrupted (42% read)"), true},
    MeetCase{"Integrity!~/^OK$/", Text("OK"), false},
    MeetCase{"Integrity~/", Text("a/b"), true},  // a lone slash is a text
    MeetCase{"Name~ß", Text("grüße.jpg", ValueKind::String), true},
    // The empty value: -3 and the empty text alike.
    MeetCase{"Integrity=", kEmpty, true},
    MeetCase{"Integrity=", Text(""), true},
    MeetCase{"Integrity!=", kEmpty, false},
    MeetCase{"Integrity!=OK", kEmpty, true},
    MeetCase{"Integrity~", kEmpty, true},
    // No value at all: only the negations hold.
    MeetCase{"Integrity=", kFileError, false},
    MeetCase{"Integrity!=", kFileError, true},
    MeetCase{"Integrity!=OK", kFileError, true},
    MeetCase{"Integrity~", kFileError, false},
    MeetCase{"Integrity!~x", kDelayed, true},
    MeetCase{"Integrity=Decoding...", kDelayed, false},
    MeetCase{"Quality<50", kFileError, false},
    MeetCase{"Quality>=0", kEmpty, false},
    // Numbers: integers exactly, texts that are decimal numbers, Booleans as words.
    MeetCase{"Quality<50", Number(49), true},
    MeetCase{"Quality<50", Number(50), false},
    MeetCase{"Quality<=50", Number(50), true},
    MeetCase{"Quality>=50", Number(50), true},
    MeetCase{"Quality>50", Number(51), true},
    MeetCase{"Quality>-1", Number(-1), false},
    MeetCase{"Quality=75", Number(75), true},
    MeetCase{"Quality<49.5", Number(49), true},
    MeetCase{"Trailer>9007199254740992", Number(9007199254740993, ValueKind::Int64), true},
    MeetCase{"Trailer<9007199254740993", Number(9007199254740993, ValueKind::Int64), false},
    MeetCase{"Version>2.1", Text("2.25", ValueKind::String), true},
    MeetCase{"Version>2", Text("4.3.0.0", ValueKind::String), false},
    MeetCase{"Version>0", Text("1e5", ValueKind::String), false},
    MeetCase{"Version<1", Text("", ValueKind::String), false},
    MeetCase{"Debug=true", Number(1, ValueKind::Boolean), true},
    MeetCase{"Debug=false", Number(0, ValueKind::Boolean), true},
    MeetCase{"Debug>0", Number(1, ValueKind::Boolean), false}));

TEST(Where, WrongConditions) {
    for (const char* text : {"Integrity", "=OK", " != x", "Quality<", "Quality<fifty", "Quality>1e3", "Quality<inf",
                             "Name!x", "Name~/(/"}) {
        std::string error;
        EXPECT_FALSE(ParseCondition(text, error)) << text;
        EXPECT_NE(error, "") << text;
    }
}

TEST(Where, FieldNameAndValueTrimmed) {
    std::string error;
    const auto condition = ParseCondition("  ICC description ~  sRGB  ", error);
    ASSERT_TRUE(condition) << error;
    EXPECT_EQ(condition->field, "ICC description");
    EXPECT_EQ(condition->op, Condition::Op::Contains);
    EXPECT_EQ(condition->text, "sRGB");
}

TEST(Where, AllConditionsOnTheirFields) {
    std::string error;
    std::vector<Condition> conditions = {*ParseCondition("Quality>50", error), *ParseCondition("Colorspace=Gray", error)};
    conditions[0].position = 9;
    conditions[1].position = 4;
    FileReport file;
    file.values = {{4, Text("Gray", ValueKind::String)}, {9, Number(90)}};
    EXPECT_TRUE(MeetsAll(conditions, file));
    file.values[1].value = Number(40);
    EXPECT_FALSE(MeetsAll(conditions, file));
    file.values.pop_back();  // a field that was not fetched meets nothing
    EXPECT_FALSE(MeetsAll(conditions, file));
    EXPECT_TRUE(MeetsAll({}, file));
}

}  // namespace
}  // namespace wdxprobe

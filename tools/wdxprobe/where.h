// The --where conditions: FIELD OPERATOR VALUE, parsed once and tested against each file's
// value of FIELD. Operators:
//   =  !=     the value's text is / is not VALUE
//   ~  !~     it contains / does not contain VALUE; with VALUE as /RE/ or /RE/i, it matches /
//             does not match the ECMAScript regular expression RE (i: ignoring letter case)
//   <  >  <=  >=   the value is a number (or a text that is a decimal number, like 12 or -0.5) that
//             compares so with the number VALUE
// The text of a number is its decimal form, of a Boolean "true" or "false". The empty value
// (the plugin's -3, or an empty text) has the text "", so FIELD= finds files without a value.
// Answers that carry no value at all (-1, -2, a delayed placeholder, anything unexpected) have
// no text: only != and !~ hold for them, and no number comparison does.
#pragma once

#include "report.h"
#include "value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace wdxprobe {

struct Condition {
    enum class Op { Equal, NotEqual, Contains, NotContains, Matches, NotMatches, Less, Greater, LessEqual, GreaterEqual };

    std::string field;   // the name or index as written
    Op op = Op::Equal;
    std::string text;    // VALUE; for Matches/NotMatches the expression
    std::shared_ptr<const std::regex> regex;  // Matches, NotMatches
    double number = 0;                        // the number comparisons
    std::optional<std::int64_t> integer;      // VALUE when it is a whole number: compared exactly
    int position = -1;   // index into PluginReport::fields, once resolved
};

// Parses one condition; on failure nullopt, with the reason in `error`.
std::optional<Condition> ParseCondition(std::string_view text, std::string& error);

// Whether `value` meets `condition`.
bool Meets(const Condition& condition, const Value& value);

// Whether a file's values meet every condition (the values of their fields must be among
// `file.values`).
bool MeetsAll(const std::vector<Condition>& conditions, const FileReport& file);

}  // namespace wdxprobe

#include "where.h"

#include <algorithm>
#include <charconv>

namespace wdxprobe {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A decimal number: an optional minus sign, digits, optionally a point and more digits.
// Nothing else (no exponent, no "inf"), so that texts like "4.3.0.0" or "1e5" are no numbers.
bool IsDecimal(std::string_view text) {
    std::size_t i = text.starts_with('-') ? 1 : 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i > start;
    };
    if (!digits()) return false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (!digits()) return false;
    }
    return i == text.size();
}

std::optional<double> ParseDecimal(std::string_view text) {
    if (!IsDecimal(text)) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The text a value compares as, or nullopt for answers that carry no value.
std::optional<std::string> ComparableText(const Value& value) {
    switch (value.kind) {
        case ValueKind::Int32:
        case ValueKind::Int64: return std::to_string(value.number);
        case ValueKind::Boolean: return std::string(value.number != 0 ? "true" : "false");
        case ValueKind::String:
        case ValueKind::WideString:
        case ValueKind::FullText: return value.text;
        case ValueKind::Empty: return std::string();
        default: return std::nullopt;
    }
}

// The number comparisons: true when `value` is a number that relates to the condition's so.
bool CompareNumber(const Condition& condition, const Value& value) {
    using Op = Condition::Op;
    int order = 0;  // -1, 0, 1: value below, equal to, above the condition's number
    const bool integral = value.kind == ValueKind::Int32 || value.kind == ValueKind::Int64;
    if (integral && condition.integer) {
        order = value.number < *condition.integer ? -1 : value.number > *condition.integer ? 1 : 0;
    } else {
        std::optional<double> number;
        if (integral) {
            number = static_cast<double>(value.number);
        } else if (value.kind == ValueKind::String || value.kind == ValueKind::WideString) {
            number = ParseDecimal(value.text);
        }
        if (!number) return false;
        order = *number < condition.number ? -1 : *number > condition.number ? 1 : 0;
    }
    switch (condition.op) {
        case Op::Less: return order < 0;
        case Op::Greater: return order > 0;
        case Op::LessEqual: return order <= 0;
        case Op::GreaterEqual: return order >= 0;
        default: return false;
    }
}

}  // namespace

std::optional<Condition> ParseCondition(std::string_view text, std::string& error) {
    using Op = Condition::Op;
    const std::string quoted = "'" + std::string(text) + "'";
    const std::size_t at = text.find_first_of("=!~<>");
    if (at == std::string_view::npos) {
        error = "--where needs FIELD=VALUE, FIELD!=VALUE, FIELD~VALUE, FIELD<N or FIELD>N, not " + quoted;
        return std::nullopt;
    }
    Condition condition;
    condition.field = std::string(Trim(text.substr(0, at)));
    if (condition.field.empty()) {
        error = "--where " + quoted + " names no field before its operator";
        return std::nullopt;
    }
    struct Token {
        std::string_view text;
        Op op;
    };
    // Two-character operators first, so that "!=" is not read as "!" and "=".
    constexpr Token kTokens[] = {{"!=", Op::NotEqual}, {"!~", Op::NotContains}, {"<=", Op::LessEqual},
                                 {">=", Op::GreaterEqual}, {"=", Op::Equal}, {"~", Op::Contains},
                                 {"<", Op::Less}, {">", Op::Greater}};
    const std::string_view rest = text.substr(at);
    const auto token = std::find_if(std::begin(kTokens), std::end(kTokens),
                                    [&](const Token& t) { return rest.starts_with(t.text); });
    if (token == std::end(kTokens)) {
        error = "--where " + quoted + ": '!' must be followed by '=' or '~'";
        return std::nullopt;
    }
    condition.op = token->op;
    const std::string_view value = Trim(rest.substr(token->text.size()));
    condition.text = std::string(value);

    switch (condition.op) {
        case Op::Contains:
        case Op::NotContains: {
            const bool icase = value.size() >= 3 && value.front() == '/' && value.ends_with("/i");
            if (!icase && !(value.size() >= 2 && value.front() == '/' && value.back() == '/')) break;
            condition.op = condition.op == Op::Contains ? Op::Matches : Op::NotMatches;
            condition.text = std::string(value.substr(1, value.size() - (icase ? 3 : 2)));
            auto flags = std::regex::ECMAScript;
            if (icase) flags |= std::regex::icase;
            try {
                condition.regex = std::make_shared<const std::regex>(condition.text, flags);
            } catch (const std::regex_error& e) {
                error = "--where " + quoted + ": not a regular expression: " + e.what();
                return std::nullopt;
            }
            break;
        }
        case Op::Less:
        case Op::Greater:
        case Op::LessEqual:
        case Op::GreaterEqual: {
            const auto number = ParseDecimal(value);
            if (!number) {
                error = "--where " + quoted + " compares with a number, like 10 or -2.5";
                return std::nullopt;
            }
            condition.number = *number;
            condition.integer = ParseInteger(value);
            break;
        }
        default: break;
    }
    return condition;
}

bool Meets(const Condition& condition, const Value& value) {
    using Op = Condition::Op;
    const std::optional<std::string> text = ComparableText(value);
    switch (condition.op) {
        case Op::Equal: return text && *text == condition.text;
        case Op::NotEqual: return !(text && *text == condition.text);
        case Op::Contains: return text && text->find(condition.text) != std::string::npos;
        case Op::NotContains: return !(text && text->find(condition.text) != std::string::npos);
        case Op::Matches: return text && std::regex_search(*text, *condition.regex);
        case Op::NotMatches: return !(text && std::regex_search(*text, *condition.regex));
        default: return CompareNumber(condition, value);
    }
}

bool MeetsAll(const std::vector<Condition>& conditions, const FileReport& file) {
    return std::all_of(conditions.begin(), conditions.end(), [&](const Condition& condition) {
        const auto entry = std::find_if(file.values.begin(), file.values.end(),
                                        [&](const FieldValue& v) { return v.field == condition.position; });
        return entry != file.values.end() && Meets(condition, entry->value);
    });
}

}  // namespace wdxprobe

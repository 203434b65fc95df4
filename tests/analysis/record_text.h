// Every field of a file as the root answers a host, in one text: a test that compares it
// sees the whole record, not only the field it is about.
#pragma once

#include "analysis/root.h"
#include "frame/wdx.h"
#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

// "name=value" for each field with a value, in field order, joined by "; " (numbers in
// decimal, Booleans as true/false); fields without a value are left out. The full-text
// field, last, is not asked.
inline std::string RecordText(TOrvaneRoot& ARoot, const std::u16string& AFile) {
    std::string text;
    for (int field = 0; field + 1 < ARoot.FieldCount(); ++field) {
        alignas(8) std::array<char, 2048> buffer{};
        const int type = ARoot.GetFieldValue(AFile, field, 0, buffer.data(), static_cast<int>(buffer.size()), 0, true);
        std::string value;
        switch (type) {
            case ft_string: value = buffer.data(); break;
            case ft_stringw: value = platform::WideToAnsi(reinterpret_cast<const char16_t*>(buffer.data())); break;
            case ft_numeric_32: {
                std::int32_t n;
                std::memcpy(&n, buffer.data(), 4);
                value = std::to_string(n);
                break;
            }
            case ft_numeric_64: {
                std::int64_t n;
                std::memcpy(&n, buffer.data(), 8);
                value = std::to_string(n);
                break;
            }
            case ft_boolean: value = buffer[0] != 0 ? "true" : "false"; break;
            case ft_fieldempty: continue;
            default: value = "(answer " + std::to_string(type) + ")"; break;
        }
        if (!text.empty()) text += "; ";
        text += platform::WideToAnsi(ARoot.GetField(field).GetName()) + "=" + value;
    }
    return text;
}

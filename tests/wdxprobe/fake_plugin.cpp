// A WDX content plugin with canned fields of every type, for running wdxprobe end to end:
// numbers, Booleans, 8-bit and UTF-16 text, the three result codes, a slow field that
// answers with a placeholder when the host allows a delay, and a full-text field delivered
// in chunks at the byte offsets the host passes. Files named "vanishing..." are deleted by the
// first request for them. Built with FAKE_MINIMAL it exports only the three entry points a
// host cannot do without.
#include "frame/wdx.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace {

struct FakeField {
    const char* name;
    const char* units;
    int type;
};

enum Index { kCount, kBig, kYes, kNo, kLabel, kWide, kName, kSize, kNothing, kBroken, kSlow, kText, kFieldCount };

constexpr FakeField kFields[kFieldCount] = {
    {"Count", "", ft_numeric_32},      {"Big", "B|KiB", ft_numeric_64}, {"Yes", "", ft_boolean},
    {"No", "", ft_boolean},            {"Label", "", ft_string},        {"Wide", "", ft_stringw},
    {"Name", "", ft_stringw},          {"Size", "", ft_numeric_64},     {"Nothing", "", ft_string},
    {"Broken", "", ft_string},         {"Slow", "", ft_string},         {"Text", "", ft_fulltext},
};

constexpr std::string_view kDetectString = R"(EXT="FAKE"|([0]="FK"&[2]=33))";
constexpr std::string_view kLabelText = "say \"hi\"\tto C:\\";
constexpr std::u16string_view kWideText = u"Gr\u00FC\u00DFe \u263A \U0001D11E";
constexpr std::string_view kFullText =
    "The quick brown fox jumps over the lazy dog. Pack my box with five dozen liquor jugs. "
    "How vexingly quick daft zebras jump!";

std::uint32_t g_version_high = 0;  // until the host's record arrives, as in a real plugin

void CopyNarrow(std::string_view text, void* buffer, int maxlen) {
    if (maxlen < 1) return;
    const std::size_t count = std::min(text.size(), static_cast<std::size_t>(maxlen) - 1);
    auto* out = static_cast<char*>(buffer);
    std::memcpy(out, text.data(), count);
    out[count] = '\0';
}

void CopyWide(std::u16string_view text, void* buffer, int maxlen) {
    if (maxlen < 2) return;
    const std::size_t count = std::min(text.size(), static_cast<std::size_t>(maxlen / 2) - 1);
    auto* out = static_cast<unsigned char*>(buffer);
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = static_cast<unsigned char>(text[i] & 0xFF);
        out[2 * i + 1] = static_cast<unsigned char>(text[i] >> 8);
    }
    out[2 * count] = 0;
    out[2 * count + 1] = 0;
}

// The 8-bit form of a UTF-16 text for a host of interface 1.x: ASCII kept, each other
// character (a surrogate pair counts as one) shown as '?'.
std::string Downgrade(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) ++i;
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

int ReportedType(int type) { return type == ft_stringw && g_version_high < 2 ? ft_string : type; }

int PutWide(std::u16string_view text, void* value, int maxlen) {
    if (g_version_high < 2) {
        CopyNarrow(Downgrade(text), value, maxlen);
        return ft_string;
    }
    CopyWide(text, value, maxlen);
    return ft_stringw;
}

template <typename T>
int PutNumber(T number, int type, void* value) {
    std::memcpy(value, &number, sizeof(number));
    return type;
}

// `name` is the file name as received, `path` the same file for the file system.
int GetValue(std::u16string_view name, const std::filesystem::path& path, int field, int unit, void* value,
             int maxlen, int flags, bool wide) {
    // A file whose name starts with "vanishing" is deleted by the first request for it, as if
    // another program removed it while the host was asking.
    if (path.filename().u16string().starts_with(u"vanishing")) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    switch (field) {
        case kCount: return PutNumber<std::int32_t>(-7, ft_numeric_32, value);
        case kBig: return PutNumber<std::int64_t>(unit == 1 ? 4882812 : 5000000000, ft_numeric_64, value);
        case kYes: return PutNumber<std::int32_t>(-1, ft_boolean, value);
        case kNo: return PutNumber<std::int32_t>(0, ft_boolean, value);
        case kLabel: CopyNarrow(kLabelText, value, maxlen); return ft_string;
        case kWide: return PutWide(kWideText, value, maxlen);
        case kName: {
            const std::size_t slash = name.find_last_of(u"/\\");
            return PutWide(slash == std::u16string_view::npos ? name : name.substr(slash + 1), value, maxlen);
        }
        case kSize: {
            std::error_code ec;
            const std::uintmax_t size = std::filesystem::file_size(path, ec);
            if (ec) return ft_fileerror;
            return PutNumber(static_cast<std::int64_t>(size), ft_numeric_64, value);
        }
        case kNothing: return ft_fieldempty;
        case kBroken: return ft_fileerror;
        case kSlow:
            if ((flags & CONTENT_DELAYIFSLOW) != 0) {
                if (wide) {
                    CopyWide(u"Working...", value, maxlen);
                } else {
                    CopyNarrow("Working...", value, maxlen);
                }
                return ft_delayed;
            }
            CopyNarrow("done", value, maxlen);
            return ft_string;
        case kText:
            // The unit index is the number of bytes the host has received so far.
            if (unit < 0 || static_cast<std::size_t>(unit) >= kFullText.size()) return ft_fieldempty;
            CopyNarrow(kFullText.substr(static_cast<std::size_t>(unit)), value, maxlen);
            return ft_fulltext;
        default: return ft_nosuchfield;
    }
}

}  // namespace

WDX_EXPORT int WDX_CALL ContentGetSupportedField(int AFieldIndex, char* AFieldName, char* AUnits, int AMaxLen) {
    if (AFieldIndex < 0 || AFieldIndex >= kFieldCount) return 0;
    const FakeField& field = kFields[AFieldIndex];
    CopyNarrow(field.name, AFieldName, AMaxLen);
    CopyNarrow(field.units, AUnits, AMaxLen);
    return ReportedType(field.type);
}

WDX_EXPORT int WDX_CALL ContentGetValueW(const WdxChar* AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                         int AMaxLen, int AFlags) {
    const std::u16string name(AFileName);
    return GetValue(name, std::filesystem::path(name), AFieldIndex, AUnitIndex, AValue, AMaxLen, AFlags, true);
}

WDX_EXPORT int WDX_CALL ContentGetValue(const char* AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                        int AMaxLen, int AFlags) {
    // Test file names through this entry are ASCII, so widening byte by byte is exact.
    const std::string_view narrow(AFileName);
    const std::u16string name(narrow.begin(), narrow.end());
    return GetValue(name, std::filesystem::path(std::string(narrow)), AFieldIndex, AUnitIndex, AValue, AMaxLen,
                    AFlags, false);
}

#ifndef FAKE_MINIMAL
WDX_EXPORT void WDX_CALL ContentGetDetectString(char* ADetectString, int AMaxLen) {
    CopyNarrow(kDetectString, ADetectString, AMaxLen);
}

WDX_EXPORT void WDX_CALL ContentSetDefaultParams(const TkestWDXDefaultParams* AParams) {
    g_version_high = AParams->VersionHigh;
}
#endif

#include "frame/field.h"

#include "frame/buffer.h"
#include "frame/root.h"
#include "platform/platform.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

// The zero-terminated UTF-16 text at the start of a buffer of `maxLen` bytes.
std::u16string WideTextIn(const void* buffer, int maxLen) {
    std::u16string text;
    const auto* bytes = static_cast<const char*>(buffer);
    for (int i = 0; i + 1 < maxLen; i += 2) {
        char16_t unit;
        std::memcpy(&unit, bytes + i, sizeof unit);
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

// The zero-terminated 8-bit text at the start of a buffer of `maxLen` bytes.
std::string AnsiTextIn(const void* buffer, int maxLen) {
    const auto* bytes = static_cast<const char*>(buffer);
    const std::size_t limit = maxLen > 0 ? static_cast<std::size_t>(maxLen) : 0;
    return std::string(bytes, std::find(bytes, bytes + limit, '\0'));
}

template <class T>
void WriteNumber(T value, void* buffer) {
    std::memcpy(buffer, &value, sizeof value);
}

// The first code points of `text` whose 8-bit form fits in `maxBytes` bytes, never ending
// inside a surrogate pair. On code pages where one character takes one byte this is simply
// the first `maxBytes` code units.
std::size_t UnitsFitting(std::u16string_view text, std::size_t maxBytes) {
    std::size_t units = 0;
    std::size_t bytes = 0;
    while (units < text.size()) {
        std::size_t next = units + 1;
        if (text[units] >= 0xD800 && text[units] <= 0xDBFF && next < text.size() && text[next] >= 0xDC00 &&
            text[next] <= 0xDFFF)
            ++next;
        const std::size_t size = platform::WideToAnsi(text.substr(units, next - units)).size();
        if (bytes + size > maxBytes) break;
        bytes += size;
        units = next;
    }
    return units;
}

}  // namespace

bool TkestWDXField::IsSlow(const std::u16string&, int) { return false; }

std::u16string TkestWDXField::GetDelayedText(const std::u16string&, int) { return u"Extracting..."; }

bool TkestWDXField::IsEmpty(TkestWDXData&, int, int) { return false; }

int TkestWDXField::GetValue(const TkestWDXRequest&, TkestWDXData&) { return ft_fieldempty; }

std::u16string TkestWDXField::GetUnitName(int AIndex) const {
    return u"Unit" + platform::AnsiToWide(std::to_string(AIndex));
}

std::uint32_t TkestWDXField::GetHostVersion() const { return Root ? Root->HostVersion() : 0; }

int TkestWDXField::GetReportedType() const {
    const int type = GetFieldType();
    return type == ft_stringw && Root && GetHostVersion() < 2 ? ft_string : type;
}

int TkestWDXField::FetchValue(const TkestWDXRequest& ARequest, TkestWDXData& AInfo) {
    // A text the buffer cannot even terminate is no value.
    const int type = GetFieldType();
    const bool downgraded = type == ft_stringw && GetHostVersion() < 2;
    if ((type == ft_string || downgraded) && !HasRoomForAnsi(ARequest.MaxLen)) return ft_fieldempty;
    if (type == ft_stringw && !downgraded && !HasRoomForWide(ARequest.MaxLen)) return ft_fieldempty;

    const int result = GetValue(ARequest, AInfo);
    if (result != ft_stringw || GetHostVersion() >= 2) return result;
    const std::string text = platform::WideToAnsi(WideTextIn(ARequest.Value, ARequest.MaxLen));
    CopyAnsiToBuffer(text, ARequest.Value, ARequest.MaxLen);
    return ft_string;
}

template <class T, int TypeCode>
void TkestWDXTypedField<T, TypeCode>::Write(const T& value, const TkestWDXRequest& ARequest) {
    if constexpr (std::is_same_v<T, bool>)
        WriteNumber<std::int32_t>(value ? -1 : 0, ARequest.Value);
    else if constexpr (std::is_same_v<T, std::string>)
        CopyAnsiToBuffer(value, ARequest.Value, ARequest.MaxLen);
    else if constexpr (std::is_same_v<T, std::u16string>)
        CopyWideToBuffer(value, ARequest.Value, ARequest.MaxLen);
    else
        WriteNumber<T>(value, ARequest.Value);
}

template class TkestWDXTypedField<std::int32_t, ft_numeric_32>;
template class TkestWDXTypedField<std::int64_t, ft_numeric_64>;
template class TkestWDXTypedField<bool, ft_boolean>;
template class TkestWDXTypedField<std::string, ft_string>;
template class TkestWDXTypedField<std::u16string, ft_stringw>;

std::u16string ValueToText(int ACode, const void* AValue, int AMaxLen) {
    switch (ACode) {
        case ft_numeric_32: {
            std::int32_t value;
            std::memcpy(&value, AValue, sizeof value);
            return platform::AnsiToWide(std::to_string(value));
        }
        case ft_numeric_64: {
            std::int64_t value;
            std::memcpy(&value, AValue, sizeof value);
            return platform::AnsiToWide(std::to_string(value));
        }
        case ft_boolean: {
            std::int32_t value;
            std::memcpy(&value, AValue, sizeof value);
            return value != 0 ? u"True" : u"False";
        }
        case ft_string: return platform::AnsiToWide(AnsiTextIn(AValue, AMaxLen));
        case ft_stringw: return WideTextIn(AValue, AMaxLen);
        default: return {};
    }
}

std::u16string TkestWDXFullTextField::BuildText(const TkestWDXRequest& ARequest, TkestWDXData& AInfo) {
    std::u16string text;
    if (!Root) return text;
    // Each value is fetched whole, whatever the host's chunk size. The buffer rules cut a
    // text to the buffer (UTF-16 to half of it, 8-bit before a character that does not fit
    // whole; a UTF-16 value that older hosts get as 8-bit text both ways), so a text that
    // ends within one character of where either rule cuts may have been cut: it is fetched
    // again with twice the room. Numbers take at most 8 bytes.
    constexpr std::size_t kFirstScratch = 4096;
    constexpr std::size_t kLargestCharacter = 4;  // bytes of one UTF-8 character
    std::vector<char> scratch(kFirstScratch);
    for (int index = 0; index < Root->FieldCount(); ++index) {
        TkestWDXField& field = Root->GetField(index);
        if (field.GetReportedType() == ft_fulltext) continue;
        std::u16string value;
        for (;;) {
            std::fill(scratch.begin(), scratch.end(), '\0');
            const int size = static_cast<int>(scratch.size());
            const TkestWDXRequest request{ARequest.FileName, 0, scratch.data(), size, 0, ARequest.Wide};
            const int code = field.FetchValue(request, AInfo);
            value = ValueToText(code, scratch.data(), size);
            std::size_t used = 0;  // bytes of the buffer the text takes, by the stricter rule
            if (code == ft_string || code == ft_stringw) used = (value.size() + 1) * sizeof(char16_t);
            if (code == ft_string) used = std::max(used, AnsiTextIn(scratch.data(), size).size() + 1);
            const bool mayBeCut = used + kLargestCharacter >= scratch.size();
            if (!mayBeCut || scratch.size() > static_cast<std::size_t>(INT_MAX) / 2) break;
            scratch.resize(scratch.size() * 2);
        }
        if (value.empty()) continue;
        if (!text.empty()) text += u' ';
        text += value;
    }
    return text;
}

int TkestWDXFullTextField::GetValue(const TkestWDXRequest& ARequest, TkestWDXData& AInfo) {
    const auto thread = std::this_thread::get_id();
    if (ARequest.UnitIndex == -1 || ARequest.MaxLen < 2) {
        // A buffer without room for one character could never take the text: end it here.
        std::lock_guard guard(PendingLock);
        PendingText.erase(thread);
        return ft_fieldempty;
    }
    TPending pending;
    if (ARequest.UnitIndex == 0) {
        {
            // Dropped before the build, so that a start that fails leaves nothing behind.
            std::lock_guard guard(PendingLock);
            PendingText.erase(thread);
        }
        pending.FileName = ARequest.FileName;
        pending.Text = BuildText(ARequest, AInfo);
    } else {
        // Only the text of the file asked about: a start for another file that failed before
        // it reached this field left the text of the file before it here.
        std::lock_guard guard(PendingLock);
        if (auto found = PendingText.find(thread); found != PendingText.end()) {
            if (platform::SameFileName(found->second.FileName, ARequest.FileName)) pending = std::move(found->second);
            PendingText.erase(found);
        }
    }
    // The chunk is as much of the rest as fits in the buffer as 8-bit text.
    const std::u16string_view rest = std::u16string_view(pending.Text).substr(pending.Delivered);
    const std::size_t units = UnitsFitting(rest, static_cast<std::size_t>(ARequest.MaxLen) - 1);
    if (units == 0) return ft_fieldempty;
    CopyAnsiToBuffer(platform::WideToAnsi(rest.substr(0, units)), ARequest.Value, ARequest.MaxLen);
    pending.Delivered += units;
    if (pending.Delivered < pending.Text.size()) {
        std::lock_guard guard(PendingLock);
        PendingText[thread] = std::move(pending);
    }
    return ft_fulltext;
}

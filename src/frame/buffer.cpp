#include "frame/buffer.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

void CopyAnsiToBuffer(std::string_view text, void* buffer, int AMaxLen) {
    if (!HasRoomForAnsi(AMaxLen)) return;
    const std::size_t count = platform::AnsiPrefixLength(text, static_cast<std::size_t>(AMaxLen) - 1);
    auto* out = static_cast<char*>(buffer);
    std::memcpy(out, text.data(), count);
    out[count] = '\0';
}

void CopyWideToBuffer(std::u16string_view text, void* buffer, int AMaxLen) {
    if (!HasRoomForWide(AMaxLen)) return;
    std::size_t count = std::min(text.size(), static_cast<std::size_t>(AMaxLen / 2) - 1);
    if (count > 0 && count < text.size() && text[count - 1] >= 0xD800 && text[count - 1] <= 0xDBFF) --count;
    const char16_t zero = 0;
    auto* out = static_cast<char*>(buffer);
    std::memcpy(out, text.data(), count * sizeof(char16_t));
    std::memcpy(out + count * sizeof(char16_t), &zero, sizeof zero);
}

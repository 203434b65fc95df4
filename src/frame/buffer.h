// The two rules by which text is written into a host's buffer of `AMaxLen` bytes.
#pragma once

#include <string_view>

// Writes at most AMaxLen - 1 bytes of `text` and a zero byte; nothing when AMaxLen < 1.
// Bytes after the terminator are left as they were.
void CopyAnsiToBuffer(std::string_view text, void* buffer, int AMaxLen);

// Writes at most AMaxLen / 2 - 1 UTF-16 code units of `text` and a zero unit; nothing when
// AMaxLen < 2. A surrogate pair is never cut in half: a high surrogate that would end the
// copy is dropped.
void CopyWideToBuffer(std::u16string_view text, void* buffer, int AMaxLen);

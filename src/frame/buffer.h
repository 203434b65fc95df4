// The two rules by which text is written into a host's buffer of `AMaxLen` bytes.
#pragma once

#include <string_view>

// Whether a buffer of AMaxLen bytes holds at least the terminator of 8-bit text (one zero
// byte) or of UTF-16 text (one zero code unit). A text value for a buffer without that room
// is answered as no value.
constexpr bool HasRoomForAnsi(int AMaxLen) { return AMaxLen >= 1; }
constexpr bool HasRoomForWide(int AMaxLen) { return AMaxLen >= 2; }

// Writes at most AMaxLen - 1 bytes of `text` and a zero byte; nothing when AMaxLen < 1.
// A character is never cut in half: the copy ends before a multi-byte character that does
// not fit whole. Bytes after the terminator are left as they were.
void CopyAnsiToBuffer(std::string_view text, void* buffer, int AMaxLen);

// Writes at most AMaxLen / 2 - 1 UTF-16 code units of `text` and a zero unit; nothing when
// AMaxLen < 2. A surrogate pair is never cut in half: a high surrogate that would end the
// copy is dropped.
void CopyWideToBuffer(std::u16string_view text, void* buffer, int AMaxLen);

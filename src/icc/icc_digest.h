// MD5 digests under the ICC profile-identifier rule (ICC.1:2010 7.2.18): the first 128
// bytes are hashed with the profile flags (44-47), rendering intent (64-67) and profile ID
// (84-99) set to zero, then everything after them. The rule is applied to any data, the
// quantization tables of a JPEG stream included.
#pragma once

#include "platform/stream.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

// A 16-byte MD5 value in the order the hash delivers it; all zero means "no digest".
using TkestMD5Digest = std::array<std::uint8_t, 16>;

// True when every byte is zero, i.e. there is no digest to show.
bool IsEmptyDigest(const TkestMD5Digest& digest);

// Digest of `data` under the profile-identifier rule. Without `Force`, data shorter than
// 128 bytes gives the zero digest. With it, shorter data is hashed as a 128-byte header
// block made of the data padded with zeros (the three fields zeroed as always), and
// nothing after it; no byte beyond the data is read. The zero digest also when the
// platform's MD5 service is unavailable.
TkestMD5Digest IccMD5OfBuffer(std::span<const std::uint8_t> data, bool Force);

// Digest of the whole stream, position 0 to its size, under the same rule. A memory stream
// is hashed in place, its position unchanged; any other stream is read in chunks of
// 65,536 bytes through one work buffer and left at its end. A stream below 128 bytes gives
// the zero digest. Throws platform::IoError when the stream delivers fewer bytes than its
// size says.
TkestMD5Digest IccMD5OfStream(TStream& stream);

// Two upper-case hexadecimal digits a byte, high nibble first, in stored order, no
// separators: a digest gives 32 characters.
std::string DigestToHex(std::span<const std::uint8_t> bytes);

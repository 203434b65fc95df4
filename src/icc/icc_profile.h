// ICC colour profiles (ICC.1:2010 section 7): recognition, the header fields as text, the
// descriptive tag texts ("text", "desc", "mluc") and the profile digest.
#pragma once

#include "icc/icc_digest.h"
#include "platform/stream.h"

#include <cstdint>
#include <span>
#include <string>

// The ICC members of the per-file result record, filled by ParseIccProfile. The result
// record derives from this, so the names are the record's own. Header texts are 8-bit
// (system code page), tag texts UTF-16; an empty text or an all-zero digest means "none".
struct TkestIccInfo {
    std::string IccCmm;                          // preferred CMM type, header offset 4
    std::string IccVersion;                      // profile version, offsets 8-9
    std::string IccClass;                        // profile/device class, offset 12
    std::string IccColorSpace;                   // data colour space, offset 16
    std::string IccConnectionSpace;              // profile connection space, offset 20
    std::string IccPlatform;                     // primary platform, offset 40
    std::string IccManufacturer;                 // device manufacturer, offset 48
    std::u16string IccManufacturerDescription;   // tag "dmnd"
    std::string IccModel;                        // device model, offset 52
    std::u16string IccModelDescription;          // tag "dmdd"
    std::string IccCreator;                      // profile creator, offset 80
    std::u16string IccDescription;               // tag "desc"
    std::u16string IccCopyright;                 // tag "cprt"
    TkestMD5Digest IccDigest{};                  // IccMD5OfStream over the whole profile
};

// A four-character signature as the big-endian 32-bit number the profile stores.
constexpr std::uint32_t IccSig(const char (&text)[5]) {
    return (std::uint32_t{static_cast<std::uint8_t>(text[0])} << 24) |
           (std::uint32_t{static_cast<std::uint8_t>(text[1])} << 16) |
           (std::uint32_t{static_cast<std::uint8_t>(text[2])} << 8) | static_cast<std::uint8_t>(text[3]);
}

// One entry of the tag table (ICC.1 7.3): signature, offset of the tag's data from the
// start of the profile, and its size.
struct TkestIccTag {
    std::uint32_t Signature = 0;
    std::uint32_t Offset = 0;
    std::uint32_t Size = 0;
};

// True when `probe` (the bytes read from the start of a file) holds at least a whole
// 128-byte header and bytes 36-39 are "acsp".
bool IsIccProfileHeader(std::span<const std::uint8_t> probe);

// True when the stream is above 127 bytes and holds "acsp" at position 36. Reads there and
// leaves the stream after the four bytes; false on a short read or an error.
bool IsIccProfileStream(TStream& stream);

// Fills `info` from the profile that the stream holds from position 0: the nine header
// texts, the digest, then the texts of the "desc", "cprt", "dmnd" and "dmdd" tags (a later
// entry with the same signature replaces an earlier one). Never throws: bad data or a read
// error ends the parse, and what was filled before stays.
void ParseIccProfile(TStream& stream, TkestIccInfo& info);

// The header conversions. Each takes the field as the big-endian 32-bit number stored in
// the profile (for the version: the four bytes at offset 8).
// Four characters in stored order, leading and trailing codes 0-32 removed.
std::string IccSignatureToText(std::uint32_t signature);
// major.minor.bugfix with trailing zero parts dropped, the major always kept: 2.1, 4, 2.0.1.
std::string IccVersionToText(std::uint32_t version);
std::string IccClassToText(std::uint32_t signature);
std::string IccColorSpaceToText(std::uint32_t signature);
std::string IccPlatformToText(std::uint32_t signature);

// The text of one tag of type "text", "desc" or "mluc" (first record only); empty for
// any other type and for a tag whose data, counts or offsets reach past the end of the
// stream. Leading and trailing code units U+0000-U+0020 are removed. The stream position
// is the same on return as on entry.
std::u16string ReadIccTagText(TStream& stream, const TkestIccTag& tag);

// Swaps the two bytes of every code unit in place (big-endian text to little-endian).
void SwapUTF16Text(std::u16string& text);

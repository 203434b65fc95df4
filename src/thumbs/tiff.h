// TIFF reading primitives (TIFF 6.0 section 2) for the structures of Exif, MPF and maker
// notes: a bounded block that offsets count from, the 12-byte IFD entry, and the readers of
// an entry's value.
#pragma once

#include "jpeg/bytes.h"

#include <cstdint>
#include <vector>

// The bytes that follow a TIFF header's position; offsets in TIFF structures count from
// its first byte. Every read is checked with HasBytes first.
struct TkestTiffBlock {
    ByteView Bytes;
    bool BigEndian = false;

    bool HasBytes(std::uint64_t AOffset, std::uint64_t ACount) const { return Bytes.HasBytes(AOffset, ACount); }
    std::uint16_t U16(std::uint64_t AOffset) const { return BigEndian ? Bytes.U16BE(AOffset) : Bytes.U16LE(AOffset); }
    std::uint32_t U32(std::uint64_t AOffset) const { return BigEndian ? Bytes.U32BE(AOffset) : Bytes.U32LE(AOffset); }
    // Bytes from AOffset to the end of the block; 0 when AOffset lies outside.
    std::uint64_t Available(std::uint64_t AOffset) const {
        return AOffset < Bytes.Size() ? Bytes.Size() - AOffset : 0;
    }
};

// "II" followed by 42 little-endian, or "MM" followed by 42 big-endian (TIFF 6.0 section 2).
bool IsTiffHeader(ByteView AData);

// TIFF field types.
inline constexpr std::uint16_t ttByte = 1;
inline constexpr std::uint16_t ttAscii = 2;
inline constexpr std::uint16_t ttShort = 3;
inline constexpr std::uint16_t ttLong = 4;
inline constexpr std::uint16_t ttSByte = 6;
inline constexpr std::uint16_t ttUndefined = 7;
inline constexpr std::uint16_t ttSShort = 8;
inline constexpr std::uint16_t ttSLong = 9;
inline constexpr std::uint16_t ttIfd = 13;

// One 12-byte IFD entry: tag, type and count in the file's byte order, the 4-byte value
// field as stored.
struct TkestIfdEntry {
    std::uint16_t Tag = 0;
    std::uint16_t Type = 0;
    std::uint32_t Count = 0;
    std::uint8_t Value[4] = {};

    // The entry at AOffset of ABlock; false unless its 12 bytes are there.
    bool Read(const TkestTiffBlock& ABlock, std::uint64_t AOffset);

    // The value field as a 32-bit number in the given byte order.
    std::uint32_t ValueU32(bool ABigEndian) const;

    // A single integer: count 1 and type BYTE, SBYTE (first byte, unsigned), SHORT, SSHORT
    // (first two bytes), LONG, SLONG or IFD (four bytes).
    bool GetInteger(bool ABigEndian, std::int32_t& AValue) const;
    // SHORT or SSHORT values: in the value field up to 4 bytes, else at the offset it holds.
    bool GetShortArray(const TkestTiffBlock& ABlock, std::vector<std::int32_t>& AValues) const;
};

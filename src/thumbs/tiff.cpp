#include "thumbs/tiff.h"

bool IsTiffHeader(ByteView AData) {
    if (AData.Matches(0, "II")) return AData.U16LE(2) == 42;
    if (AData.Matches(0, "MM")) return AData.U16BE(2) == 42;
    return false;
}

bool TkestIfdEntry::Read(const TkestTiffBlock& ABlock, std::uint64_t AOffset) {
    if (!ABlock.HasBytes(AOffset, 12)) return false;
    Tag = ABlock.U16(AOffset);
    Type = ABlock.U16(AOffset + 2);
    Count = ABlock.U32(AOffset + 4);
    for (std::uint64_t i = 0; i < 4; ++i) Value[i] = ABlock.Bytes.U8(AOffset + 8 + i);
    return true;
}

std::uint32_t TkestIfdEntry::ValueU32(bool ABigEndian) const {
    const ByteView value(Value, 4);
    return ABigEndian ? value.U32BE(0) : value.U32LE(0);
}

bool TkestIfdEntry::GetInteger(bool ABigEndian, std::int32_t& AValue) const {
    if (Count != 1) return false;
    const ByteView value(Value, 4);
    switch (Type) {
        case ttByte:
        case ttSByte:
            AValue = value.U8(0);
            return true;
        case ttShort:
            AValue = ABigEndian ? value.U16BE(0) : value.U16LE(0);
            return true;
        case ttSShort:
            AValue = static_cast<std::int16_t>(ABigEndian ? value.U16BE(0) : value.U16LE(0));
            return true;
        case ttLong:
        case ttSLong:
        case ttIfd:
            AValue = static_cast<std::int32_t>(ValueU32(ABigEndian));
            return true;
        default:
            return false;
    }
}

bool TkestIfdEntry::GetShortArray(const TkestTiffBlock& ABlock, std::vector<std::int32_t>& AValues) const {
    if ((Type != ttShort && Type != ttSShort) || Count < 1) return false;
    const std::uint64_t bytes = std::uint64_t{Count} * 2;
    ByteView source(Value, 4);
    if (bytes > 4) {
        const std::uint32_t at = ValueU32(ABlock.BigEndian);
        if (!ABlock.HasBytes(at, bytes)) return false;
        source = ABlock.Bytes.Sub(at, bytes);
    }
    AValues.clear();
    AValues.reserve(Count);
    for (std::uint64_t i = 0; i < Count; ++i) {
        const std::uint16_t v = ABlock.BigEndian ? source.U16BE(2 * i) : source.U16LE(2 * i);
        AValues.push_back(Type == ttSShort ? std::int32_t{static_cast<std::int16_t>(v)} : std::int32_t{v});
    }
    return true;
}

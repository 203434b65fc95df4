// What the vendor handlers share: signatures compared byte by byte, and payload bytes
// collected from a fixed position on.
#pragma once

#include "thumbs/thumbs.h"

#include <string_view>

// Whether the bytes at AOffset are those of AText (zero bytes included).
inline bool MatchesText(ByteView AData, std::uint64_t AOffset, std::string_view AText) {
    if (!AData.HasBytes(AOffset, AText.size())) return false;
    for (std::size_t i = 0; i < AText.size(); ++i)
        if (AData.U8(AOffset + i) != static_cast<std::uint8_t>(AText[i])) return false;
    return true;
}

// Collects the payload of the current segment from position AFrom on, when there is any.
inline void AppendPayloadFrom(TkestJpegThumbs& AOwner, std::uint64_t AFrom, ByteView AData) {
    if (AFrom < AData.Size()) AOwner.AppendSegmentData(AFrom, AData.Sub(AFrom));
}

// A PNG stream (ISO/IEC 15948) measured without decoding its pixels: the size its IHDR
// chunk declares, and how much of the image its zlib data (RFC 1950, deflate RFC 1951)
// holds when the data is walked to its end.
#pragma once

#include "jpeg/bytes.h"

#include <cstdint>

struct TkestPngCheck {
    bool Valid = false;      // a signature and an IHDR chunk of 13 bytes
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    // 100 when the zlib data ends where it should with every filtered row; otherwise the
    // share of the rows' bytes present, at most 99, and Corrupted.
    std::int32_t Percent = 0;
    bool Corrupted = false;
    std::uint64_t Size = 0;  // bytes from the signature to the end of IEND, or of the last chunk present
    std::uint64_t Work = 0;  // bytes walked, for the previews' shared allowance
};

// AData starts with the PNG signature.
TkestPngCheck CheckPng(ByteView AData);

// Whether AData starts with the 8-byte PNG signature.
bool IsPngSignature(ByteView AData);

// The example tables of ITU-T T.81 Annex K and the zigzag sequence (T.81 Figure A.6).
// One copy for the parser (quality estimate) and the test fixture builder (DQT, DHT and
// Huffman-coded data).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace annex_k {

// T.81 Table K.1, natural (row-major) order.
inline constexpr std::array<std::uint8_t, 64> kLuminanceQuant = {
    16, 11, 10, 16, 24,  40,  51,  61,
    12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,
    14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,
    24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101,
    72, 92, 95, 98, 112, 100, 103, 99,
};

// T.81 Table K.2, natural order.
inline constexpr std::array<std::uint8_t, 64> kChrominanceQuant = {
    17, 18, 24, 47, 99, 99, 99, 99,
    18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99,
    47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
};

// T.81 Figure A.6: the natural position of each zigzag index.
inline constexpr std::array<std::uint8_t, 64> kNaturalOrder = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// The zigzag index of each natural position: kNaturalOrder inverted.
inline constexpr std::array<std::uint8_t, 64> kZigzagOrder = [] {
    std::array<std::uint8_t, 64> inverse{};
    for (std::size_t k = 0; k < 64; ++k) inverse[kNaturalOrder[k]] = static_cast<std::uint8_t>(k);
    return inverse;
}();

// A Huffman table as a DHT segment gives it (T.81 B.2.4.2): the number of codes of each
// length 1-16, then the symbols in order of increasing code length.
struct HuffmanSpec {
    std::array<std::uint8_t, 16> Counts;
    std::array<std::uint8_t, 256> SymbolStore;  // the first SymbolCount() entries are used

    constexpr std::size_t SymbolCount() const {
        std::size_t n = 0;
        for (std::uint8_t c : Counts) n += c;
        return n;
    }
    constexpr std::span<const std::uint8_t> Symbols() const {
        return std::span<const std::uint8_t>(SymbolStore).first(SymbolCount());
    }
};

extern const HuffmanSpec kDcLuminance;    // Table K.3
extern const HuffmanSpec kDcChrominance;  // Table K.4
extern const HuffmanSpec kAcLuminance;    // Table K.5
extern const HuffmanSpec kAcChrominance;  // Table K.6

}  // namespace annex_k

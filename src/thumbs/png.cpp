// PNG measurement: the chunk walk (ISO/IEC 15948 section 5.3), the size of the filtered
// image data IHDR implies (sections 7.2 and 8.2), and a walk of the deflate blocks that
// counts the bytes they decode to without keeping them. Every step reads through a bounded
// view; the walk is linear in the bits of the data, since a copy is counted, not made.
#include "thumbs/png.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr std::uint64_t kMaxChunk = 0x7FFFFFFF;  // section 5.3: lengths below 2^31

// Bits of the deflate stream, least significant first (RFC 1951 section 3.1.1).
class BitReader {
public:
    explicit BitReader(ByteView AData) : data_(AData) {}

    // False once the data ends; the bits asked for are then not all there.
    bool Bits(unsigned ACount, std::uint32_t& AValue) {
        AValue = 0;
        for (unsigned i = 0; i < ACount; ++i) {
            if (byte_ >= data_.Size()) return false;
            AValue |= std::uint32_t((data_.U8(byte_) >> bit_) & 1u) << i;
            if (++bit_ == 8) {
                bit_ = 0;
                ++byte_;
            }
        }
        return true;
    }
    void AlignToByte() {
        if (bit_ != 0) {
            bit_ = 0;
            ++byte_;
        }
    }
    // Skips ACount whole bytes; false when fewer are there.
    bool SkipBytes(std::uint64_t ACount) {
        if (!data_.HasBytes(byte_, ACount)) return false;
        byte_ += ACount;
        return true;
    }
    std::uint64_t BytePosition() const { return byte_; }
    ByteView Data() const { return data_; }

private:
    ByteView data_;
    std::uint64_t byte_ = 0;
    unsigned bit_ = 0;
};

// A canonical Huffman code (RFC 1951 section 3.2.2) as the count of codes per length and
// the symbols in code order; decoded one bit at a time.
struct Huffman {
    std::array<std::uint16_t, 16> Count{};
    std::array<std::uint16_t, 320> Symbol{};

    // False for lengths that over-subscribe the code.
    bool Build(const std::uint8_t* ALengths, unsigned ASymbols) {
        Count.fill(0);
        for (unsigned s = 0; s < ASymbols; ++s) ++Count[ALengths[s]];
        int left = 1;
        for (unsigned len = 1; len < 16; ++len) {
            left = left * 2 - Count[len];
            if (left < 0) return false;
        }
        std::array<std::uint16_t, 16> offsets{};
        for (unsigned len = 1; len < 15; ++len) offsets[len + 1] = static_cast<std::uint16_t>(offsets[len] + Count[len]);
        for (unsigned s = 0; s < ASymbols; ++s)
            if (ALengths[s] != 0) Symbol[offsets[ALengths[s]]++] = static_cast<std::uint16_t>(s);
        return true;
    }

    // False at the end of the data or on a code the table does not hold.
    bool Decode(BitReader& AReader, std::uint32_t& ASymbol) const {
        int code = 0, first = 0, index = 0;
        for (unsigned len = 1; len < 16; ++len) {
            std::uint32_t bit = 0;
            if (!AReader.Bits(1, bit)) return false;
            code |= static_cast<int>(bit);
            const int count = Count[len];
            if (code - count < first) {
                ASymbol = Symbol[static_cast<std::size_t>(index + (code - first))];
                return true;
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return false;
    }
};

// Length and distance bases and extra bits (RFC 1951 section 3.2.5).
constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                                         33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// What walking a deflate stream found: the bytes it decodes to, and whether its last block
// ended.
struct Inflated {
    std::uint64_t Produced = 0;
    bool Complete = false;
};

class DeflateWalk {
public:
    explicit DeflateWalk(ByteView AData) : reader_(AData) {}

    Inflated Run() {
        std::uint32_t last = 0;
        do {
            std::uint32_t type = 0;
            if (!reader_.Bits(1, last) || !reader_.Bits(2, type)) return result_;
            bool ok = false;
            switch (type) {
                case 0: ok = Stored(); break;
                case 1: ok = FixedCodes(); break;
                case 2: ok = DynamicCodes(); break;
                default: break;
            }
            if (!ok) return result_;
        } while (last == 0);
        result_.Complete = true;
        return result_;
    }

private:
    // Section 3.2.4: LEN and its one's complement NLEN, then LEN bytes.
    bool Stored() {
        reader_.AlignToByte();
        const std::uint64_t at = reader_.BytePosition();
        const ByteView data = reader_.Data();
        if (!data.HasBytes(at, 4)) return false;
        const std::uint32_t length = data.U16LE(at);
        if ((length ^ data.U16LE(at + 2)) != 0xFFFF) return false;
        reader_.SkipBytes(4);
        const std::uint64_t present = data.Size() - (at + 4);
        if (present < length) {
            result_.Produced += present;
            return false;
        }
        reader_.SkipBytes(length);
        result_.Produced += length;
        return true;
    }

    // Section 3.2.6.
    bool FixedCodes() {
        std::array<std::uint8_t, 320> lengths{};
        for (unsigned s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        for (unsigned s = 0; s < 30; ++s) lengths[288 + s] = 5;
        Huffman literals, distances;
        literals.Build(lengths.data(), 288);
        distances.Build(lengths.data() + 288, 30);
        return Codes(literals, distances);
    }

    // Section 3.2.7: the code lengths of the two codes, themselves Huffman coded.
    bool DynamicCodes() {
        static constexpr std::array<std::uint8_t, 19> kOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                                                11, 4,  12, 3, 13, 2, 14, 1, 15};
        std::uint32_t hlit = 0, hdist = 0, hclen = 0;
        if (!reader_.Bits(5, hlit) || !reader_.Bits(5, hdist) || !reader_.Bits(4, hclen)) return false;
        const unsigned literalCount = hlit + 257, distanceCount = hdist + 1;
        if (literalCount > 286 || distanceCount > 30) return false;
        std::array<std::uint8_t, 320> lengths{};
        for (unsigned i = 0; i < hclen + 4; ++i) {
            std::uint32_t value = 0;
            if (!reader_.Bits(3, value)) return false;
            lengths[kOrder[i]] = static_cast<std::uint8_t>(value);
        }
        Huffman lengthCode;
        if (!lengthCode.Build(lengths.data(), 19)) return false;
        lengths.fill(0);
        for (unsigned n = 0; n < literalCount + distanceCount;) {
            std::uint32_t symbol = 0;
            if (!lengthCode.Decode(reader_, symbol)) return false;
            if (symbol < 16) {
                lengths[n++] = static_cast<std::uint8_t>(symbol);
                continue;
            }
            std::uint8_t value = 0;
            std::uint32_t repeat = 0;
            if (symbol == 16) {
                if (n == 0 || !reader_.Bits(2, repeat)) return false;
                value = lengths[n - 1];
                repeat += 3;
            } else if (symbol == 17) {
                if (!reader_.Bits(3, repeat)) return false;
                repeat += 3;
            } else {
                if (!reader_.Bits(7, repeat)) return false;
                repeat += 11;
            }
            if (n + repeat > literalCount + distanceCount) return false;
            while (repeat-- > 0) lengths[n++] = value;
        }
        if (lengths[256] == 0) return false;  // no end-of-block code
        Huffman literals, distances;
        if (!literals.Build(lengths.data(), literalCount) || !distances.Build(lengths.data() + literalCount, distanceCount))
            return false;
        return Codes(literals, distances);
    }

    // Section 3.2.5: literals, end of block, and copies whose distance must reach back no
    // further than the bytes decoded so far and the 32 KiB window.
    bool Codes(const Huffman& ALiterals, const Huffman& ADistances) {
        for (;;) {
            std::uint32_t symbol = 0;
            if (!ALiterals.Decode(reader_, symbol)) return false;
            if (symbol < 256) {
                ++result_.Produced;
                continue;
            }
            if (symbol == 256) return true;
            symbol -= 257;
            if (symbol >= kLengthBase.size()) return false;
            std::uint32_t extra = 0;
            if (!reader_.Bits(kLengthExtra[symbol], extra)) return false;
            const std::uint32_t length = kLengthBase[symbol] + extra;
            std::uint32_t code = 0;
            if (!ADistances.Decode(reader_, code) || code >= kDistanceBase.size()) return false;
            if (!reader_.Bits(kDistanceExtra[code], extra)) return false;
            const std::uint32_t distance = kDistanceBase[code] + extra;
            if (distance > result_.Produced || distance > 32768) return false;
            result_.Produced += length;
        }
    }

    BitReader reader_;
    Inflated result_;
};

// Bytes of the filtered image data (section 7.2): each row of a pass begins with a filter
// byte; an interlaced image (Adam7, section 8.2) is seven reduced images in turn.
std::uint64_t FilteredSize(std::uint32_t AWidth, std::uint32_t AHeight, std::uint64_t ABitsPerPixel, bool AInterlaced) {
    auto image = [&](std::uint64_t w, std::uint64_t h) -> std::uint64_t {
        if (w == 0 || h == 0) return 0;
        return h * (1 + (w * ABitsPerPixel + 7) / 8);
    };
    if (!AInterlaced) return image(AWidth, AHeight);
    struct Pass {
        std::uint32_t X0, Y0, DX, DY;
    };
    static constexpr std::array<Pass, 7> kPasses = {{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}};
    std::uint64_t total = 0;
    for (const Pass& p : kPasses) {
        const std::uint64_t w = AWidth > p.X0 ? (std::uint64_t{AWidth} - p.X0 + p.DX - 1) / p.DX : 0;
        const std::uint64_t h = AHeight > p.Y0 ? (std::uint64_t{AHeight} - p.Y0 + p.DY - 1) / p.DY : 0;
        total += image(w, h);
    }
    return total;
}

// Samples per pixel of a colour type (section 11.2.2 Table 11.1); 0 for none defined.
unsigned Channels(std::uint8_t AColourType) {
    switch (AColourType) {
        case 0: return 1;
        case 2: return 3;
        case 3: return 1;
        case 4: return 2;
        case 6: return 4;
        default: return 0;
    }
}

}  // namespace

bool IsPngSignature(ByteView AData) { return AData.Matches(0, "\x89PNG\r\n\x1A\n"); }

TkestPngCheck CheckPng(ByteView AData) {
    TkestPngCheck check;
    if (!IsPngSignature(AData) || !AData.HasBytes(8, 8 + 13) || AData.U32BE(8) != 13 || !AData.Matches(12, "IHDR"))
        return check;
    const std::uint32_t width = AData.U32BE(16), height = AData.U32BE(20);
    if (width == 0 || height == 0 || width > kMaxChunk || height > kMaxChunk) return check;
    check.Valid = true;
    check.Width = static_cast<std::int32_t>(width);
    check.Height = static_cast<std::int32_t>(height);
    const std::uint64_t bitsPerPixel = std::uint64_t{Channels(AData.U8(25))} * AData.U8(24);
    const std::uint64_t expected = FilteredSize(width, height, bitsPerPixel, AData.U8(28) == 1);

    // The chunks in order; IDAT data is gathered for the walk, up to IEND or the last
    // chunk whose bytes are all present.
    std::vector<std::uint8_t> zlib;
    bool ended = false;
    std::uint64_t at = 8;
    while (AData.HasBytes(at, 8)) {
        const std::uint64_t length = AData.U32BE(at);
        if (length > kMaxChunk) break;
        const ByteView body = AData.Sub(at + 8, length);
        if (AData.Matches(at + 4, "IDAT")) zlib.insert(zlib.end(), body.Span().begin(), body.Span().end());
        if (!AData.HasBytes(at + 8, length + 4)) {
            at = AData.Size();
            break;
        }
        at += 8 + length + 4;
        if (AData.Matches(at - length - 8, "IEND")) {
            ended = true;
            break;
        }
    }
    check.Size = at;
    check.Work = at;

    // RFC 1950 section 2.2: CMF (method 8, window up to 32 KiB), FLG with no preset
    // dictionary, the pair a multiple of 31.
    const ByteView stream(zlib);
    Inflated inflated;
    const bool header = stream.HasBytes(0, 2) && (stream.U8(0) & 0x0F) == 8 && (stream.U8(0) >> 4) <= 7 &&
                        (stream.U8(1) & 0x20) == 0 && stream.U16BE(0) % 31 == 0;
    if (header) inflated = DeflateWalk(stream.Sub(2)).Run();
    if (header && inflated.Complete && ended && expected > 0 && inflated.Produced == expected) {
        check.Percent = 100;
        return check;
    }
    check.Corrupted = true;
    const std::uint64_t present = std::min(inflated.Produced, expected);
    check.Percent = expected == 0 ? 0 : static_cast<std::int32_t>(std::min<std::uint64_t>(present * 100 / expected, 99));
    return check;
}

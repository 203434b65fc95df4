// The entropy-coded data of Huffman-coded DCT scans (T.81 F.2 sequential, G.2 progressive),
// decoded far enough to check its structure: every code, magnitude field, run and restart
// marker. Arithmetic-coded scans (arithmetic.h) share the MCU grid, the counters and the
// restart handling; only their bytes go to the QM-coder instead of the bit window. Nothing
// is dequantized or transformed; progressive frames keep, per block, which AC coefficients
// are non-zero (coefficients.h), which is all that later scans depend on.
//
// How bits are fetched. The results (the result code, Position, the unit counters,
// RestartDamage) are those of a reader that takes one byte from the stream at the moment the
// first of its bits is needed, reads 0xFF 0x00 as a data byte 0xFF (T.81 F.1.2.3) and stops
// at any other 0xFF xx as a marker. That reader is the exact path below. The fast path works
// like libjpeg-turbo's decode_mcu_fast: a 64-bit window filled eight bytes at a time from the
// memory already at hand (the read buffer, or a memory stream), zero bits appended where the
// data stops (a marker, the end of the buffer). MCUs are decoded on the fast path, a run at a
// time with the window in registers (FastRun); an MCU that needed any of the appended bits,
// or met anything unusual (an invalid code, a magnitude of more than 16 bits), is restored
// and decoded again on the exact path, which alone refills the read buffer and meets
// markers. Bytes loaded ahead are given back (ToExact) whenever the exact path or the walk
// takes over, so the stream is never read further than the exact reader would have read it.
// The block decoders are written once, for either reader.
#include "jpeg/coefficients.h"
#include "jpeg/parser.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <span>

namespace {

constexpr int kBail = -1;  // the fast path gives the MCU to the exact path
constexpr int kStop = -2;  // a marker ends the scan (StopMarker)
constexpr int kDnl = 0xDC;
constexpr int kEoi = 0xD9;

constexpr bool IsRestartCode(int m) { return m >= 0xD0 && m <= 0xD7; }
// Marker codes that delimit the stream or begin a segment (T.81 Table B.1, 0xC0-0xFE; RSTn
// aside): the data of a scan ends at them. TEM and the reserved codes below 0xC0 belong to
// no segment; a restart search passes them as libjpeg's resynchronisation does.
constexpr bool EndsScanData(int m) { return m >= 0xC0 && m <= 0xFE && !IsRestartCode(m); }

inline std::uint64_t LoadBE64(const std::uint8_t* p) {
    std::uint8_t b[8];
    std::memcpy(b, p, 8);
    return (std::uint64_t{b[0]} << 56) | (std::uint64_t{b[1]} << 48) | (std::uint64_t{b[2]} << 40) |
           (std::uint64_t{b[3]} << 32) | (std::uint64_t{b[4]} << 24) | (std::uint64_t{b[5]} << 16) |
           (std::uint64_t{b[6]} << 8) | std::uint64_t{b[7]};
}

// Whether any of the eight bytes is 0xFF: (b & 0x7F) + 1 reaches bit 7 only for 0x7F and
// 0xFF, and no byte carries into the next.
inline bool HasFFByte(std::uint64_t w) {
    return (((w & 0x7F7F7F7F7F7F7F7Full) + 0x0101010101010101ull) & w & 0x8080808080808080ull) != 0;
}

// Bits k..Se of a block mask (0 <= k, Se <= 63).
inline std::uint64_t BandMask(int k, int se) {
    if (k > se) return 0;
    const std::uint64_t upTo = se == 63 ? ~std::uint64_t{0} : (std::uint64_t{1} << (se + 1)) - 1;
    return upTo & ~((std::uint64_t{1} << k) - 1);
}

// Bits set. Written out: without a POPCNT instruction in the target's baseline, std::popcount
// becomes a library call.
inline int PopCount(std::uint64_t x) {
    x -= (x >> 1) & 0x5555555555555555ull;
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int>((x * 0x0101010101010101ull) >> 56);
}

// Where each set bit of a byte stands: kSelectInByte[b][n] is the index of the (n+1)-th
// set bit of b.
constexpr auto kSelectInByte = [] {
    std::array<std::array<std::uint8_t, 8>, 256> table{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0, n = 0; i < 8; ++i)
            if (b >> i & 1) table[static_cast<std::size_t>(b)][static_cast<std::size_t>(n++)] = static_cast<std::uint8_t>(i);
    return table;
}();

// The index of the (n+1)-th set bit of x (0 <= n <= 63), or 64 when x has fewer. Branch-free
// but for the end: byte counts, their running sums, the byte the bit is in, then the byte.
inline int SelectBit(std::uint64_t x, int n) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    std::uint64_t c = x - ((x >> 1) & 0x5555555555555555ull);
    c = (c & 0x3333333333333333ull) + ((c >> 2) & 0x3333333333333333ull);
    c = (c + (c >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    const std::uint64_t sums = c * kOnes;  // byte i: set bits in bytes 0..i (at most 64)
    // Bit 7 of byte i stays set exactly when sums_i <= n; no byte borrows from the next.
    const std::uint64_t atMost = ((static_cast<std::uint64_t>(n) * kOnes) | kHigh) - sums;
    const int bytes = static_cast<int>((((atMost & kHigh) >> 7) * kOnes) >> 56);  // the lowest ones
    if (bytes >= 8) return 64;
    const int before = bytes > 0 ? static_cast<int>(sums >> (8 * bytes - 8) & 0xFF) : 0;
    const auto byte = static_cast<std::size_t>(x >> (8 * bytes) & 0xFF);
    return 8 * bytes + kSelectInByte[byte][static_cast<std::size_t>(n - before)];
}

std::int32_t Saturate32(std::int64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(v); }

// The entries of TkestHuffmanTable::Fast, by the next kFastBits bits of the data: bits 0-5
// the bits to consume, 6-11 how far they advance the zigzag index, kEnds when they end the
// block (EOB), kPair when they hold two coefficients (AC tables). One coefficient of an AC
// table: its code and magnitude, advance run + 1; EOB: its code, advance 0, kEnds; two: a
// coefficient and then a coefficient or EOB whose bits fit together. ZRL and symbols T.81
// does not define get no entry. DC tables: the code and magnitude of the difference.
constexpr int kFastBits = TkestHuffmanTable::kFastBits;
constexpr std::uint32_t kFastSize = 1u << kFastBits, kFastMask = kFastSize - 1;
constexpr std::uint32_t kEnds = 0x1000, kPair = 0x2000;
// Sequential scans of fewer blocks (most previews) are decoded symbol by symbol: building
// the whole-coefficient tables costs there about what they save.
constexpr std::uint64_t kWholeTablesFrom = 1024;

std::uint32_t FastEntry(std::uint32_t bits, std::uint32_t advance, bool ends, bool pair) {
    return bits | advance << 6 | (ends ? kEnds : 0) | (pair ? kPair : 0);
}

// The entries of one code of an AC table that hold a coefficient: Count entries from First,
// each consuming Bits bits.
struct FastGroup {
    std::uint32_t First, Count, Bits;
};

// Turns single coefficients into pairs wherever the bits after one hold a whole second one.
// An entry's pair depends on the entry and on the bits after its own, the low kFastBits -
// Bits bits of its index; a code's entries repeat with that period (one for each magnitude
// value), so the first period is worked out and copied over the rest.
void AddPairs(std::array<std::uint16_t, kFastSize>& fast, std::span<const FastGroup> AGroups) {
    const std::array<std::uint16_t, kFastSize> single = fast;
    for (const FastGroup& g : AGroups) {
        const std::uint32_t first = single[g.First];
        if ((first & kEnds) || g.Bits + 2 > kFastBits) continue;
        const std::uint32_t advance1 = first >> 6 & 63, period = 1u << (kFastBits - g.Bits);
        for (std::uint32_t j = 0; j < period; ++j) {
            // The second's bits must all be among the known ones after the first's.
            const std::uint32_t second = single[(j << g.Bits) & kFastMask];
            const std::uint32_t bits2 = second & 63, advance2 = second >> 6 & 63;
            if (second == 0 || g.Bits + bits2 > kFastBits) continue;
            fast[g.First + j] =
                static_cast<std::uint16_t>(FastEntry(g.Bits + bits2, advance1 + advance2, (second & kEnds) != 0, true));
        }
        for (std::uint32_t e = period; e < g.Count; e += period)
            std::copy_n(fast.begin() + g.First, period, fast.begin() + g.First + e);
    }
}

// T.81 C and F.2.2.3: canonical codes, shortest first; per length the first and last code
// and where its symbols begin; an 8-bit lookup for the short codes. A table whose codes of
// some length would not fit in that many bits is refused (libjpeg refuses it likewise):
// building its lookup would write past the table's end, and no stream can use it as coded.
bool BuildLookup(TkestHuffmanTable& t) {
    t.Lookup.fill(0);
    t.LastCode.fill(-1);
    t.FirstCode.fill(0);
    t.FirstIndex.fill(0);
    std::uint32_t code = 0;
    std::int32_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        const auto n = static_cast<std::uint32_t>(t.Counts[static_cast<std::size_t>(length - 1)]);
        if (code + n > (std::uint32_t{1} << length)) {
            t.Oversubscribed = true;
            return false;
        }
        const auto l = static_cast<std::size_t>(length);
        if (n > 0) {
            t.FirstCode[l] = static_cast<std::int32_t>(code);
            t.LastCode[l] = static_cast<std::int32_t>(code + n - 1);
            t.FirstIndex[l] = k;
        }
        for (std::uint32_t j = 0; j < n && length <= 8; ++j) {
            const auto symbol = static_cast<std::uint32_t>(t.Symbols[static_cast<std::size_t>(k) + j]) & 0xFF;
            const std::uint32_t span = 1u << (8 - length);
            for (std::uint32_t e = 0; e < span; ++e)
                t.Lookup[(code + j) * span + e] = static_cast<std::uint16_t>(static_cast<std::uint32_t>(length) << 8 | symbol);
        }
        code = (code + n) << 1;
        k += static_cast<std::int32_t>(n);
    }
    t.LookupBuilt = true;
    t.FastBuilt = false;
    return true;
}

// The whole-coefficient table of a built lookup, for the fast path of sequential scans;
// progressive scans decode symbol by symbol and never need it.
void BuildFast(TkestHuffmanTable& t, bool AAc) {
    if (!t.Fast) t.Fast = std::make_unique<std::array<std::uint16_t, kFastSize>>();
    auto& fast = *t.Fast;
    fast.fill(0);
    std::array<FastGroup, 256> groups;
    std::size_t groupCount = 0;
    for (std::size_t l = 1; l <= static_cast<std::size_t>(kFastBits); ++l) {
        const auto length = static_cast<std::uint32_t>(l);
        for (std::int32_t c = t.FirstCode[l]; c <= t.LastCode[l]; ++c) {
            const auto code = static_cast<std::uint32_t>(c);
            const auto symbol =
                static_cast<std::uint32_t>(t.Symbols[static_cast<std::size_t>(t.FirstIndex[l] + c - t.FirstCode[l])]) & 0xFF;
            // A coefficient whose code and magnitude bits fit (AC: run/size; DC: the
            // size alone).
            const std::uint32_t size = AAc ? symbol & 15 : symbol, run = AAc ? symbol >> 4 : 0;
            const std::uint32_t total = length + size;
            const bool eob = AAc && symbol == 0x00;
            if (total > kFastBits || !(size > 0 || eob || !AAc)) continue;
            const std::uint32_t first = code << (kFastBits - length);
            const std::uint32_t count = 1u << (kFastBits - length);  // every magnitude value
            std::fill_n(fast.begin() + first, count,
                        static_cast<std::uint16_t>(FastEntry(total, eob ? 0 : run + 1, eob, false)));
            if (AAc && groupCount < groups.size()) groups[groupCount++] = {first, count, total};
        }
    }
    if (AAc) AddPairs(fast, std::span(groups).first(groupCount));
    t.FastBuilt = true;
}

enum class Kind { Sequential, DcFirst, DcRefine, AcFirst, AcRefine };

// The tables and the blocks of one scan component.
struct Component {
    TkestHuffmanTable* Dc = nullptr;
    TkestHuffmanTable* Ac = nullptr;
    TkestMCUs* Map = nullptr;
    int Blocks = 0;  // in one MCU
};

// The fast path's bit window, a value kept in registers while MCUs are decoded: the next bit
// at the top of Bits, Count bits held, of which the last Padding are zeros appended where the
// data stopped. Next is the next byte to load, End the end of the memory at hand.
struct FastBits {
    static constexpr bool kFast = true;
    static constexpr bool kWhole = true;  // sequential blocks by the whole-coefficient tables

    std::uint64_t Bits;
    int Count;
    int Padding;
    const std::uint8_t* Next;
    const std::uint8_t* End;

    // At least 57 bits afterwards (zeros once the data stops).
    void Refill() {
        if (End - Next >= 8) {
            const std::uint64_t w = LoadBE64(Next);
            if (!HasFFByte(w)) {
                const int take = (63 - Count) >> 3;
                Bits |= (w & ~(~std::uint64_t{0} >> (8 * take))) >> Count;
                Next += take;
                Count += 8 * take;
                return;
            }
        }
        *this = RefilledSlowly(*this);
    }
    // The bounds-checked refill, byte by byte up to a marker or the end, then zeros.
    static FastBits RefilledSlowly(FastBits w);

    void Consume(int n) {
        Bits <<= n;
        Count -= n;
    }
    std::uint32_t Peek(int n) const { return static_cast<std::uint32_t>(Bits >> (64 - n)); }
    // The next n bits as a table index.
    std::size_t Top(int n) const { return static_cast<std::size_t>(Bits >> (64 - n)); }
    bool Overrun() const { return Padding > Count; }

    int Symbol(const TkestHuffmanTable& t, int& symbol) {
        if (Count < 32) Refill();
        const std::uint32_t e = t.Lookup[Top(8)];
        if (e != 0) {
            symbol = static_cast<int>(e & 0xFF);
            Consume(static_cast<int>(e >> 8));
            return 0;
        }
        // Codes of 9 to 16 bits (T.81 F.2.2.3 with the 16 bits at hand).
        for (int length = 9; length <= 16; ++length) {
            const auto l = static_cast<std::size_t>(length);
            const auto c = static_cast<std::int32_t>(Peek(length));
            if (c <= t.LastCode[l] && c >= t.FirstCode[l]) {
                symbol = t.Symbols[static_cast<std::size_t>(t.FirstIndex[l] + c - t.FirstCode[l])];
                Consume(length);
                return 0;
            }
        }
        return kBail;
    }
    // n <= 16 bits right after Symbol, which left at least 16 at hand.
    int Read(int n, std::uint32_t& v) {
        v = n > 0 ? Peek(n) : 0;
        Consume(n);
        return 0;
    }
    // Any n, in steps of at most 32 bits (a shift by 64 would not be one).
    int Skip(int n) {
        for (; n > 32; n -= 32) {
            if (Count < 32) Refill();
            Consume(32);
        }
        if (Count < n) Refill();
        Consume(n);
        return 0;
    }
    // DC magnitudes above 16 bits are for the exact path.
    static int TooLong(int s) { return s > 16 ? kBail : 0; }
};

// The fast path's window for a sequential scan too small to pay for building the
// whole-coefficient tables: its blocks are decoded symbol by symbol.
struct SymbolBits : FastBits {
    static constexpr bool kWhole = false;
    explicit SymbolBits(const FastBits& w) : FastBits(w) {}
};

FastBits FastBits::RefilledSlowly(FastBits w) {
    while (w.Count <= 56) {
        if (w.Next == w.End) break;
        const std::uint8_t b = *w.Next;
        if (b == 0xFF) {
            if (w.End - w.Next < 2 || w.Next[1] != 0x00) break;
            w.Next += 2;
        } else {
            ++w.Next;
        }
        w.Bits |= std::uint64_t{b} << (56 - w.Count);
        w.Count += 8;
    }
    if (w.Count <= 56) {
        w.Padding += 64 - w.Count;
        w.Count = 64;
    }
    return w;
}

// ---------------------------------------------------------------------------------------
// Block decoders. Each returns 0, or a result code (1, 2, 6), a marker code (RSTn, DNL) or,
// on the fast path, kBail. R is FastBits or the exact reader.

// The sequential block on the fast path: whole coefficients, and pairs of them, by one
// look-up where they fit; the canonical decoding otherwise. Any error is left to
// the exact path (kBail), which decodes the block the way the blocks below do.
int SequentialBlockFast(FastBits& r, const Component& c) {
    if (r.Count < 32) r.Refill();
    if (const std::uint32_t entry = (*c.Dc->Fast)[r.Top(kFastBits)]; entry != 0) {
        r.Consume(static_cast<int>(entry & 63));
    } else {
        int s = 0;
        if (r.Symbol(*c.Dc, s) != 0 || s > 16) return kBail;
        r.Skip(s);
    }
    const TkestHuffmanTable& ac = *c.Ac;
    int k = 1;
    while (k < 64) {
        if (r.Count < 32) r.Refill();
        const std::uint32_t entry = (*ac.Fast)[r.Top(kFastBits)];
        const int advance = static_cast<int>(entry >> 6 & 63);
        // A pair that reaches the end of the block is decoded one at a time: its first
        // coefficient may end the block.
        if (entry != 0 && !((entry & kPair) && k + advance >= 64)) {
            r.Consume(static_cast<int>(entry & 63));
            k += advance;
            if (entry & kEnds) break;
            continue;
        }
        int rs = 0;
        if (r.Symbol(ac, rs) != 0) return kBail;
        const int run = rs >> 4, size = rs & 15;
        r.Consume(size);
        if (size != 0)
            k += run + 1;
        else if (run == 15)
            k = std::min(k + 16, 64);  // running past 63 simply ends the block
        else if (run == 0)
            break;
        else
            return kBail;
    }
    // A coefficient beyond the block (T.81 F.2.2.2).
    return k > 64 ? kBail : 0;
}
// T.81 F.2.2.1, F.2.2.2: the DC difference, then run/size codes up to the end of block.
template <class R>
int SequentialBlock(R& r, const Component& c) {
    if constexpr (R::kWhole) return SequentialBlockFast(r, c);
    int s = 0;
    if (const int e = r.Symbol(*c.Dc, s)) return e;
    if (const int e = r.Skip(s)) return e;
    for (int k = 1; k < 64;) {
        int rs = 0;
        if (const int e = r.Symbol(*c.Ac, rs)) return e;
        const int run = rs >> 4, size = rs & 15;
        if (const int e = r.Skip(size)) return e;
        if (size != 0) {
            k += run + 1;
            if (k > 64) return prCorrupt;
        } else if (run == 15) {
            k += 16;  // running past 63 simply ends the block
        } else if (run == 0) {
            break;
        } else {
            return prCorrupt;
        }
    }
    return 0;
}

// T.81 G.1.2.1: the DC difference of a first pass; its value is never needed again.
template <class R>
int DcFirstBlock(R& r, const Component& c) {
    int s = 0;
    if (const int e = r.Symbol(*c.Dc, s)) return e;
    if (const int e = R::TooLong(s)) return e;
    return r.Skip(s);
}

// T.81 G.1.2.2: a first pass over the band Ss..Se, with end-of-band runs over whole blocks.
template <class R>
int AcFirstBlock(R& r, const Component& c, int ss, int se, int al, std::int32_t& eobRun, std::uint64_t& mask) {
    if (eobRun > 0) {
        --eobRun;
        return 0;
    }
    for (int k = ss; k <= se; ++k) {
        int rs = 0;
        if (const int e = r.Symbol(*c.Ac, rs)) return e;
        const int run = rs >> 4, size = rs & 15;
        std::uint32_t v = 0;
        if (size != 0) {
            if (const int e = r.Read(size, v)) return e;
            k += run;
            if (k > se) return prCorrupt;
            // The value as stored in 16 bits, shifted by Al (T.81 G.1.2.2 point transform);
            // with Al up to 13 it can come out as 0.
            const std::int32_t value =
                (v >> (size - 1)) & 1 ? static_cast<std::int32_t>(v) : static_cast<std::int32_t>(v) - (1 << size) + 1;
            const bool nonZero = (static_cast<std::uint32_t>(value) << al & 0xFFFFu) != 0;
            const std::uint64_t bit = std::uint64_t{1} << k;
            mask = nonZero ? mask | bit : mask & ~bit;
        } else if (run == 15) {
            k += 15;
        } else {
            std::uint32_t extra = 0;
            if (run > 0)
                if (const int e = r.Read(run, extra)) return e;
            eobRun = static_cast<std::int32_t>((1u << run) + extra) - 1;
            break;
        }
    }
    return 0;
}

// T.81 G.1.2.3: a refinement of the band. Correction bits go to coefficients already
// non-zero and never make them zero, so only their number matters: the walk over the band
// counts them instead of reading them one by one.
template <class R>
int AcRefineBlock(R& r, const Component& c, int ss, int se, std::int32_t& eobRun, std::uint64_t& mask) {
    const std::uint64_t upTo = BandMask(0, se);
    int k = ss;
    if (eobRun == 0) {
        for (; k <= se; ++k) {
            int rs = 0;
            if (const int e = r.Symbol(*c.Ac, rs)) return e;
            const int run = rs >> 4;
            const int size = rs & 15;
            if (size == 0 && run < 15) {
                std::uint32_t extra = 0;
                if (run > 0)
                    if (const int e = r.Read(run, extra)) return e;
                eobRun = static_cast<std::int32_t>((1u << run) + extra);
                break;
            }
            // Any size counts as one newly non-zero coefficient, which has a sign bit.
            const bool announced = size != 0;
            // The walk stops at the (run + 1)-th zero coefficient from k on, or past Se.
            int stop = k + run;
            int corrections = 0;
            if (stop > se || (mask & (((std::uint64_t{2} << run) - 1) << k)) != 0) {
                // Not the common case of run + 1 zeros in a row from k on.
                const std::uint64_t band = upTo & (~std::uint64_t{0} << k);
                stop = SelectBit(~mask & band, run);
                if (stop <= se) {
                    corrections = stop - k - run;  // the coefficients passed that were not zero
                } else {
                    stop = se + 1;
                    corrections = PopCount(mask & band);
                }
            }
            if (const int e = r.Skip((announced ? 1 : 0) + corrections)) return e;
            k = stop;
            if (k <= se && announced) mask |= std::uint64_t{1} << k;
        }
    }
    if (eobRun > 0) {
        if (const int e = r.Skip(PopCount(mask & BandMask(k, se)))) return e;
        --eobRun;
    }
    return 0;
}

}  // namespace

// Decodes one scan for its parser; lives for that scan.
class TkestScanDecoder {
public:
    explicit TkestScanDecoder(TkestBaseJpegParser& AParser) : P(AParser) {}
    int Run();

    // The exact reader for the block decoders.
    struct Exact {
        static constexpr bool kFast = false;
        static constexpr bool kWhole = false;
        TkestScanDecoder& D;
        int Symbol(const TkestHuffmanTable& t, int& symbol) { return D.SymbolExact(t, symbol); }
        int Read(int n, std::uint32_t& v) { return D.ReadExact(n, v); }
        int Skip(int n) { return D.SkipExact(n); }
        static int TooLong(int) { return 0; }
    };

private:
    // Where the bytes come from: the read buffer, a memory stream read in place (no read
    // buffer), or one stream Read per byte (neither).
    enum class Source { Buffer, Memory, Direct };

    // The bit window between MCU runs and on the exact path: as FastBits, and bytes before
    // Floor never belong to it.
    struct Window {
        std::uint64_t Bits = 0;
        int Count = 0;
        int Padding = 0;
        const std::uint8_t* Next = nullptr;
        const std::uint8_t* End = nullptr;
        const std::uint8_t* Floor = nullptr;
    };

    TkestBaseJpegParser& P;
    Source From = Source::Direct;
    const std::uint8_t* Base = nullptr;    // the memory the window points into
    const std::uint8_t* Synced = nullptr;  // bytes before it are counted in Position
    Window W;
    std::int32_t EobRun = 0;
    std::int64_t Total = 0;  // MCUs of the scan; 0 while the height is pending
    std::int64_t Row = 0, Column = 0;
    std::array<Component, 4> Comps{};
    int CompCount = 0;
    std::uint64_t Scratch = 0;  // an AC scan's block when the frame keeps no coefficients
    bool Fast = false;
    bool Whole = false;  // the fast path of a sequential scan uses the whole-coefficient tables
    // A marker that ends scan data (EndsScanData), met by a restart search or in the data of
    // a scan with restart intervals: damage stays inside its scan, so the scan ends there
    // and the walk takes the marker up (0: none).
    std::uint8_t StopMarker = 0;

    // --- Bytes ---
    void Reload();
    void Sync();
    bool NextByte(std::uint8_t& b) {
        if (W.Next != W.End) {
            b = *W.Next++;
            return true;
        }
        return NextByteSlow(b);
    }
    bool NextByteSlow(std::uint8_t& b);

    // --- The exact path ---
    int MarkerResult(int m);
    int FillExact();
    void Consume(int n) {
        W.Bits <<= n;
        W.Count -= n;
    }
    std::uint32_t Peek(int n) const { return static_cast<std::uint32_t>(W.Bits >> (64 - n)); }
    int SkipExact(int n);
    int ReadExact(int n, std::uint32_t& v);
    int SymbolExact(const TkestHuffmanTable& t, int& symbol);
    void ToExact();
    void ClearWindow() {
        W.Bits = 0;
        W.Count = 0;
        W.Padding = 0;
        W.Floor = W.Next;
    }

    // --- MCUs ---
    std::uint64_t& MaskOf(std::int64_t column, std::int64_t row) {
        TkestMCUs* map = Comps[0].Map;
        return map ? map->GetRealValue(static_cast<std::int32_t>(column), static_cast<std::int32_t>(row)) : Scratch;
    }
    template <Kind K, class R>
    int Mcu(R& r, std::uint64_t* mask);
    template <Kind K, class B>
    bool FastRun();
    template <Kind K>
    int Loop();
    void Fetch(int i);
    void McuDone();
    // An abandoned MCU lies in the interval being decoded: the counter moves to that
    // interval's end, where the next restart marker resumes the decoding (T.81 E.2.4). An
    // interval whose MCUs were all decoded but whose RSTn was not read yet (no search was
    // made after it) ends where the counter stands.
    void PassInterval() {
        const std::int64_t ri = P.RestartInterval;
        P.McuCounter = P.McusSinceRestart < ri ? (P.McuCounter / ri + 1) * ri : (P.McuCounter + ri - 1) / ri * ri;
    }
    void Search();
    void StopAt(std::uint8_t m);
    void Resync(int m);
    int Dnl();

    // --- Arithmetic-coded scans (arithmetic.h) ---
    struct ArithmeticBytes final : TkestArithmeticDecoder::Input {
        TkestScanDecoder& D;
        explicit ArithmeticBytes(TkestScanDecoder& AD) : D(AD) {}
        bool NextByte(std::uint8_t& b) override { return D.NextByte(b); }
    };
    int ArithmeticLoop(Kind kind);
    int ArithmeticMcu(TkestArithmeticDecoder& coder, Kind kind, std::uint64_t* mask);
    void NextInterval(TkestArithmeticDecoder& coder);
    std::uint8_t SkipToMarker(bool& skipped);
    void CountMcu();
};

// ---------------------------------------------------------------------------------------
// Bytes

void TkestScanDecoder::Reload() {
    switch (From) {
        case Source::Buffer:
            Base = P.ReadBuffer.data();
            W.Next = Base + P.ReadCursor;
            W.End = W.Next + P.ReadLeft;
            break;
        case Source::Memory: {
            const std::span<const std::uint8_t> memory = *P.Stream->Memory();
            Base = memory.data();
            const std::size_t at = static_cast<std::size_t>(std::min<std::uint64_t>(P.Stream->Position(), memory.size()));
            W.Next = Base + at;
            std::size_t left = memory.size() - at;
            if (P.Options & poReadLimit) {
                // A stream read is refused once Position is past the limit.
                const std::uint64_t allowed = P.Position <= kReadLimitBytes ? kReadLimitBytes - P.Position + 1 : 0;
                left = static_cast<std::size_t>(std::min<std::uint64_t>(left, allowed));
            }
            W.End = W.Next + left;
            break;
        }
        case Source::Direct:
            Base = W.Next = W.End = nullptr;
            break;
    }
    Synced = W.Next;
    W.Floor = W.Next;
}

// Hands the bytes up to W.Next over to the parser: Position and the buffer (or stream)
// position are then those of the exact reader.
void TkestScanDecoder::Sync() {
    P.Position += static_cast<std::uint64_t>(W.Next - Synced);
    Synced = W.Next;
    if (From == Source::Buffer) {
        P.ReadCursor = static_cast<std::size_t>(W.Next - Base);
        P.ReadLeft = static_cast<std::size_t>(W.End - W.Next);
    } else if (From == Source::Memory) {
        P.Stream->Seek(static_cast<std::uint64_t>(W.Next - Base));
    }
}

// The window's memory is used up: the parser reads on (refilling its buffer from the
// stream when it has one) and the window continues in what it then holds.
bool TkestScanDecoder::NextByteSlow(std::uint8_t& b) {
    Sync();
    const bool got = P.ReadByte(b);
    Reload();
    return got;
}

// ---------------------------------------------------------------------------------------
// The exact path: one byte at the moment its first bit is needed (T.81 F.2.2.5).

int TkestScanDecoder::MarkerResult(int m) {
    if (IsRestartCode(m) && P.RestartInterval > 0) return m;
    if (m == kDnl && P.HeightPending) return m;
    if (m == kEoi) return prEarlyEnd;
    if (P.RestartInterval > 0 && EndsScanData(m)) {
        StopAt(static_cast<std::uint8_t>(m));
        return kStop;
    }
    return prCorrupt;
}

int TkestScanDecoder::FillExact() {
    std::uint8_t b = 0;
    if (!NextByte(b)) return prEndOfData;
    if (b == 0xFF) {
        // With restart intervals, fill bytes (T.81 B.1.1.2) may stand before the marker that
        // ends the data; without, the second 0xFF is the marker met.
        std::uint8_t m = 0;
        do {
            if (!NextByte(m)) return prEndOfData;
        } while (m == 0xFF && P.RestartInterval > 0);
        if (m != 0x00) return MarkerResult(m);
    }
    W.Bits = std::uint64_t{b} << 56;
    W.Count = 8;
    W.Floor = W.Next;
    return 0;
}

int TkestScanDecoder::SkipExact(int n) {
    while (n > 0) {
        if (W.Count == 0)
            if (const int r = FillExact()) return r;
        const int m = std::min(n, W.Count);
        Consume(m);
        n -= m;
    }
    return 0;
}

int TkestScanDecoder::ReadExact(int n, std::uint32_t& v) {
    v = 0;
    while (n > 0) {
        if (W.Count == 0)
            if (const int r = FillExact()) return r;
        const int m = std::min(n, W.Count);
        v = (v << m) | Peek(m);
        Consume(m);
        n -= m;
    }
    return 0;
}

// T.81 F.2.2.3 (DECODE): the code grows bit by bit until it is a code of its length.
int TkestScanDecoder::SymbolExact(const TkestHuffmanTable& t, int& symbol) {
    if (t.MinLength > 16) return prCorrupt;  // a table without any code
    std::uint32_t code = 0;
    if (const int r = ReadExact(t.MinLength, code)) return r;
    for (int length = t.MinLength;; ++length) {
        const auto l = static_cast<std::size_t>(length);
        const auto c = static_cast<std::int32_t>(code);
        if (c <= t.LastCode[l] && c >= t.FirstCode[l]) {
            symbol = t.Symbols[static_cast<std::size_t>(t.FirstIndex[l] + c - t.FirstCode[l])];
            return 0;
        }
        if (length == 16) return prCorrupt;
        std::uint32_t bit = 0;
        if (const int r = ReadExact(1, bit)) return r;
        code = code << 1 | bit;
    }
}

// Gives back the whole bytes loaded ahead: the window keeps only what is left of the byte
// whose bits are being used, and W.Next is the exact reader's next byte. Every data byte
// stands in the stream as itself, or as 0xFF 0x00 when it is 0xFF.
void TkestScanDecoder::ToExact() {
    const int held = W.Count - W.Padding;  // never negative outside an MCU attempt
    const int partial = held & 7;
    const std::uint8_t* p = W.Next;
    for (int unstarted = held >> 3; unstarted > 0; --unstarted) {
        if (p - W.Floor >= 2 && p[-1] == 0x00 && p[-2] == 0xFF)
            p -= 2;
        else
            --p;
    }
    W.Next = p;
    W.Bits = partial > 0 ? W.Bits & ~(~std::uint64_t{0} >> partial) : 0;
    W.Count = partial;
    W.Padding = 0;
    W.Floor = p;
}

// ---------------------------------------------------------------------------------------
// MCUs

template <Kind K, class R>
int TkestScanDecoder::Mcu(R& r, std::uint64_t* mask) {
    if constexpr (K == Kind::AcFirst) {
        return AcFirstBlock(r, Comps[0], P.SpectralStart, P.SpectralEnd, P.ApproxLow, EobRun, *mask);
    } else if constexpr (K == Kind::AcRefine) {
        return AcRefineBlock(r, Comps[0], P.SpectralStart, P.SpectralEnd, EobRun, *mask);
    } else {
        for (int i = 0; i < CompCount; ++i) {
            const Component& c = Comps[static_cast<std::size_t>(i)];
            if constexpr (!R::kFast) Fetch(i);
            if constexpr (K == Kind::DcRefine) {
                // One bit per block (T.81 G.1.2.1); the refined value is never needed again.
                if (const int e = r.Skip(c.Blocks)) return e;
                continue;
            }
            for (int b = 0; b < c.Blocks; ++b) {
                const int e = K == Kind::Sequential ? SequentialBlock(r, c) : DcFirstBlock(r, c);
                if (e != 0) return e;
            }
        }
        return 0;
    }
}

// Decodes MCUs on the fast path, up to the end of the scan or of the restart interval, with
// the window and the block being decoded in locals. Stops before an MCU that the fast path
// cannot take; returns true when the next MCU is to be decoded on the exact path.
template <Kind K, class B>
bool TkestScanDecoder::FastRun() {
    constexpr bool kAc = K == Kind::AcFirst || K == Kind::AcRefine;
    std::int64_t left = Total - P.McuCounter;
    if (P.RestartInterval > 0) left = std::min<std::int64_t>(left, P.RestartInterval - P.McusSinceRestart);
    if (left <= 0) return true;
    B w(FastBits{W.Bits, W.Count, W.Padding, W.Next, W.End});
    std::int32_t eobRun = EobRun;
    std::int64_t column = Column, row = Row, done = 0;
    bool bailed = false;
    const int ss = P.SpectralStart, se = P.SpectralEnd, al = P.ApproxLow;
    for (; done < left; ++done) {
        const B saved = w;
        int e;
        if constexpr (kAc) {
            std::uint64_t& slot = MaskOf(column, row);
            std::uint64_t mask = slot;
            const std::int32_t savedRun = eobRun;
            e = K == Kind::AcFirst ? AcFirstBlock(w, Comps[0], ss, se, al, eobRun, mask)
                                   : AcRefineBlock(w, Comps[0], ss, se, eobRun, mask);
            if (e != 0 || w.Overrun()) {
                eobRun = savedRun;
            } else {
                slot = mask;
            }
        } else {
            e = Mcu<K>(w, nullptr);
        }
        if (e != 0 || w.Overrun()) {
            w = saved;
            bailed = true;
            break;
        }
        if (++column == P.McusPerRow) {
            column = 0;
            ++row;
        }
    }
    W.Bits = w.Bits;
    W.Count = w.Count;
    W.Padding = w.Padding;
    W.Next = w.Next;
    EobRun = eobRun;
    if (done > 0) {
        // What McuDone does for each of them.
        P.McuCounter += done;
        for (int i = 0; i < CompCount; ++i)
            P.FrameComponents[static_cast<std::size_t>(P.ScanComponents[static_cast<std::size_t>(i)].FrameIndex)]
                .UnitsDecoded += done;
        Column = column;
        Row = row;
        if (P.RestartInterval > 0) {
            P.McusSinceRestart += static_cast<std::int32_t>(P.McuCounter < Total ? done : done - 1);
            if (P.McusSinceRestart == P.RestartInterval && P.McuCounter < Total) {
                ToExact();
                Search();
            }
        }
    }
    return bailed;
}

// A frame whose height comes from DNL grows with every MCU row that its data reaches.
void TkestScanDecoder::Fetch(int i) {
    if (!P.HeightPending) return;
    const TkestScanComponent& sc = P.ScanComponents[static_cast<std::size_t>(i)];
    const std::int64_t rows = Row + 1;
    P.FrameComponents[static_cast<std::size_t>(sc.FrameIndex)].UnitsExpected = rows * P.McusPerRow;
    P.McuRows = Saturate32(rows);
    P.Height = Saturate32(rows * P.McuHeight);
    if (TkestMCUs* map = Comps[static_cast<std::size_t>(i)].Map; map && map->McusDown < rows)
        map->SetMcuRows(Saturate32(rows), P.MapBudget(map));
}

void TkestScanDecoder::McuDone() {
    CountMcu();
    if (P.RestartInterval <= 0) return;
    if (P.McuCounter < Total) {
        if (++P.McusSinceRestart == P.RestartInterval) {
            ToExact();
            Search();
        }
    } else if (P.HeightPending) {
        // No search: the end of the data is unknown. The count lets a restart marker met at
        // the end of an interval be taken as the ordinary restart it is.
        ++P.McusSinceRestart;
    }
}

void TkestScanDecoder::CountMcu() {
    ++P.McuCounter;
    for (int i = 0; i < CompCount; ++i)
        ++P.FrameComponents[static_cast<std::size_t>(P.ScanComponents[static_cast<std::size_t>(i)].FrameIndex)]
              .UnitsDecoded;
    if (++Column == P.McusPerRow) {
        Column = 0;
        ++Row;
    }
}

// T.81 E.2.4: the next RSTn after the interval, whatever data stands before it; a marker of
// the stream's own ends the scan.
void TkestScanDecoder::Search() {
    if (P.Options & poNoRestartSearch) return;
    for (;;) {
        std::uint8_t b = 0;
        if (!NextByte(b)) break;
        if (b != 0xFF) continue;
        do {
            if (!NextByte(b)) {
                W.Floor = W.Next;
                return;
            }
        } while (b == 0xFF);
        if (IsRestartCode(b)) {
            Resync(b);
            return;
        }
        if (EndsScanData(b)) {
            StopAt(b);
            return;
        }
    }
    W.Floor = W.Next;
}

// Marker m (read) ends the scan before its last MCU: the intervals after it are lost.
void TkestScanDecoder::StopAt(std::uint8_t m) {
    StopMarker = m;
    P.RestartDamage = true;
    ClearWindow();
}

// Restart marker m: the intervals up to it are passed; decoding starts afresh after it.
void TkestScanDecoder::Resync(int m) {
    while (m != P.NextRestartMarker) {
        P.McuCounter += P.RestartInterval;
        P.NextRestartMarker = P.NextRestartMarker == 0xD7 ? 0xD0 : P.NextRestartMarker + 1;
        P.RestartDamage = true;
    }
    P.NextRestartMarker = P.NextRestartMarker == 0xD7 ? 0xD0 : P.NextRestartMarker + 1;
    P.ClearRestartState();
    ClearWindow();
    Row = P.McuCounter / P.McusPerRow;
    Column = P.McuCounter % P.McusPerRow;
}

// T.81 B.2.5: the DNL segment after the first scan of a frame without a height.
int TkestScanDecoder::Dnl() {
    std::uint8_t a = 0, b = 0;
    if (!P.ReadByte(a) || !P.ReadByte(b)) return prEndOfData;
    if ((a << 8 | b) != 4) return prCorrupt;
    if (!P.ReadByte(a) || !P.ReadByte(b)) return prEndOfData;
    const std::int32_t lines = a << 8 | b;
    if (P.Height >= lines) P.Height = lines;
    P.McuRows = static_cast<std::int32_t>((std::int64_t{P.Height} + P.McuHeight - 1) / P.McuHeight);
    for (int i = 0; i < CompCount; ++i)
        P.FrameComponents[static_cast<std::size_t>(P.ScanComponents[static_cast<std::size_t>(i)].FrameIndex)]
            .UnitsExpected = std::int64_t{P.McuRows} * P.McusPerRow;
    P.HeightPending = false;
    return prOk;
}

// ---------------------------------------------------------------------------------------
// The MCU loop

template <Kind K>
int TkestScanDecoder::Loop() {
    constexpr bool kAc = K == Kind::AcFirst || K == Kind::AcRefine;
    while (StopMarker == 0 && (P.HeightPending || P.McuCounter < Total)) {
        // The scan's work was counted before the loop (ChargeWork). While the height is
        // pending there is no grid to count: every MCU then costs at least a bit of data,
        // or, within an end-of-band run, a place in coefficient maps that cannot outgrow
        // kCoefficientMapLimit.
        if (Fast && !P.HeightPending) {
            bool exactNext = true;
            if constexpr (K == Kind::Sequential)
                exactNext = Whole ? FastRun<K, FastBits>() : FastRun<K, SymbolBits>();
            else
                exactNext = FastRun<K, FastBits>();
            if (!exactNext) continue;
        }

        ToExact();
        Exact exact{*this};
        std::uint64_t* mask = nullptr;
        if constexpr (kAc) {
            Fetch(0);  // the one block of an AC scan's MCU (T.81 A.2.2)
            mask = &MaskOf(Column, Row);
        }
        const int r = Mcu<K>(exact, mask);
        if (r == 0) {
            McuDone();
            continue;
        }

        // The MCU is abandoned: it is not counted.
        if (r == prEndOfData || r == prEarlyEnd) {
            Sync();
            return r;
        }
        if (IsRestartCode(r)) {
            if (!(P.HeightPending && P.McusSinceRestart == P.RestartInterval && r == P.NextRestartMarker)) {
                PassInterval();
                P.RestartDamage = true;
            }
            Resync(r);
            continue;
        }
        if (r == kDnl) {
            Sync();
            return Dnl();
        }
        if (r == kStop) continue;
        if (P.RestartInterval <= 0) {
            Sync();
            return r;
        }
        PassInterval();
        Search();
        P.RestartDamage = true;
    }
    ToExact();
    Sync();
    if (StopMarker != 0) {
        if (StopMarker == kDnl && P.HeightPending) return Dnl();
        P.PendingMarker = StopMarker;
        return prOk;
    }
    // One restart marker may stand between the scan's data and the next marker.
    if (P.RestartInterval > 0) P.AllowedMarkers.set(static_cast<std::size_t>(P.NextRestartMarker));
    return prOk;
}

int TkestScanDecoder::Run() {
    const bool arithmetic = P.FrameMarker == 0xC9 || P.FrameMarker == 0xCA;
    const bool progressive = P.FrameMarker == 0xC2 || P.FrameMarker == 0xCA;
    CompCount = P.ScanComponentCount;
    const auto scan = std::span(P.ScanComponents).first(static_cast<std::size_t>(CompCount));
    const std::int64_t grid = std::int64_t{P.McuRows} * P.McusPerRow;

    // Units expected: sequential scans set them, progressive scans add theirs.
    for (const TkestScanComponent& sc : scan) {
        TkestFrameComponent& fc = P.FrameComponents[static_cast<std::size_t>(sc.FrameIndex)];
        fc.UnitsExpected = progressive ? fc.UnitsExpected + grid : grid;
    }
    const Kind kind = !progressive            ? Kind::Sequential
                      : P.SpectralStart == 0 ? (P.ApproxHigh == 0 ? Kind::DcFirst : Kind::DcRefine)
                                             : (P.ApproxHigh == 0 ? Kind::AcFirst : Kind::AcRefine);

    for (const TkestScanComponent& sc : scan)
        if (sc.QuantTable > 3 || !P.QuantTables[sc.QuantTable].Defined) return prCorrupt;
    // The walk checks the limits of progressive scans for 0xC2 at the scan header.
    if (P.FrameMarker == 0xCA && !P.ProgressiveLimitsHold()) return prCorrupt;
    if (arithmetic && P.ConditioningInvalid) return prCorrupt;
    const bool needsDc = !arithmetic && (kind == Kind::Sequential || kind == Kind::DcFirst);
    const bool needsAc = !arithmetic && (kind == Kind::Sequential || kind == Kind::AcFirst || kind == Kind::AcRefine);
    for (std::size_t i = 0; i < scan.size(); ++i) {
        Component& c = Comps[i];
        c.Blocks = scan[i].BlocksAcross * scan[i].BlocksDown;
        if (needsDc) {
            TkestHuffmanTable& t = P.DcTables[static_cast<std::size_t>(scan[i].DcTable)];
            if (!t.Defined || (!t.LookupBuilt && !BuildLookup(t))) return prCorrupt;
            c.Dc = &t;
        }
        if (needsAc) {
            TkestHuffmanTable& t = P.AcTables[static_cast<std::size_t>(scan[i].AcTable)];
            if (!t.Defined || (!t.LookupBuilt && !BuildLookup(t))) return prCorrupt;
            c.Ac = &t;
        }
    }

    std::array<std::uint64_t, 4> mapped{};
    for (std::size_t f = 0; f < 4; ++f)
        if (const auto& map = P.CoefficientMaps[f]) mapped[f] = map->DataSize();
    P.PrepareCoefficientMaps();
    for (std::size_t i = 0; i < scan.size(); ++i)
        Comps[i].Map = P.CoefficientMaps[static_cast<std::size_t>(scan[i].FrameIndex)].get();
    // The work of the scan, counted before any of it is done: every block of its MCUs (the
    // loop visits each MCU at most once), and the maps it set up anew.
    std::uint64_t work = 0;
    for (const TkestScanComponent& sc : scan)
        work += static_cast<std::uint64_t>(grid) * static_cast<std::uint64_t>(sc.BlocksAcross * sc.BlocksDown);
    for (std::size_t f = 0; f < 4; ++f)
        if (const auto& map = P.CoefficientMaps[f]; map && map->DataSize() != mapped[f])
            work += map->DataSize() / sizeof(std::uint64_t);
    P.ChargeWork(work);

    if (!P.ReadBuffer.empty())
        From = Source::Buffer;
    else if (P.Stream->Memory())
        From = Source::Memory;
    else
        From = Source::Direct;
    Reload();
    Fast = !arithmetic && From != Source::Direct;
    Whole = Fast && kind == Kind::Sequential && work >= kWholeTablesFrom;
    for (std::size_t i = 0; Whole && i < scan.size(); ++i) {
        if (!Comps[i].Dc->FastBuilt) BuildFast(*Comps[i].Dc, false);
        if (!Comps[i].Ac->FastBuilt) BuildFast(*Comps[i].Ac, true);
    }
    ClearWindow();
    P.NextRestartMarker = 0xD0;
    P.McusSinceRestart = 0;
    P.McuCounter = 0;
    Total = grid;

    if (arithmetic) return ArithmeticLoop(kind);
    switch (kind) {
        case Kind::Sequential: return Loop<Kind::Sequential>();
        case Kind::DcFirst: return Loop<Kind::DcFirst>();
        case Kind::DcRefine: return Loop<Kind::DcRefine>();
        case Kind::AcFirst: return Loop<Kind::AcFirst>();
        case Kind::AcRefine: return Loop<Kind::AcRefine>();
    }
    return prCorrupt;
}

// ---------------------------------------------------------------------------------------
// Arithmetic-coded scans: the same MCU grid, counters and restart handling as above; the
// coder (arithmetic.h) takes its bytes one at a time through NextByte.

int TkestScanDecoder::ArithmeticMcu(TkestArithmeticDecoder& coder, Kind kind, std::uint64_t* mask) {
    const int ss = P.SpectralStart, se = P.SpectralEnd;
    if (kind == Kind::AcFirst || kind == Kind::AcRefine) {
        const auto t = static_cast<std::size_t>(P.ScanComponents[0].AcTable);
        return kind == Kind::AcFirst
                   ? coder.AcBand(static_cast<int>(t), P.AcConditioning[t].Kx, ss, se, P.ApproxLow, mask)
                   : coder.AcRefine(static_cast<int>(t), ss, se, *mask);
    }
    for (int i = 0; i < CompCount; ++i) {
        const TkestScanComponent& sc = P.ScanComponents[static_cast<std::size_t>(i)];
        const auto dc = static_cast<std::size_t>(sc.DcTable), ac = static_cast<std::size_t>(sc.AcTable);
        Fetch(i);
        for (int b = 0; b < Comps[static_cast<std::size_t>(i)].Blocks; ++b) {
            if (kind == Kind::DcRefine) {
                coder.FixedBit();
                continue;
            }
            if (const int e = coder.DcDifference(i, sc.DcTable, P.DcConditioning[dc], P.Precision)) return e;
            if (kind == Kind::Sequential)
                if (const int e = coder.AcBand(sc.AcTable, P.AcConditioning[ac].Kx, 1, 63, 0, nullptr)) return e;
        }
    }
    return 0;
}

// The bytes up to the next marker, which is read (0 when the stream ends first); `skipped`
// is set when data bytes stood before it. The encoder writes no byte that the decisions do
// not need, so a coder that finished its MCUs before the data did was led astray by damage.
std::uint8_t TkestScanDecoder::SkipToMarker(bool& skipped) {
    std::uint8_t b = 0;
    for (;;) {
        if (!NextByte(b)) return 0;
        if (b != 0xFF) {
            skipped = true;
            continue;
        }
        do {
            if (!NextByte(b)) return 0;
        } while (b == 0xFF);
        if (b != 0x00) return b;
    }
}

// The end of a restart interval (T.81 E.2.4): the marker the coder met, or the next one in
// the stream, is the interval's RSTn; decoding starts afresh after it. Any marker ends the
// coder's data, so the next one is taken whether restart searches are asked for or not.
void TkestScanDecoder::NextInterval(TkestArithmeticDecoder& coder) {
    std::uint8_t m = coder.TakeMarker();
    bool skipped = false;
    for (;;) {
        if (m == 0) m = SkipToMarker(skipped);
        if (m == 0) break;  // the stream ended: the next MCU finds it so
        if (IsRestartCode(m)) {
            Resync(m);
            break;
        }
        if (m == kDnl && P.HeightPending) {
            StopMarker = m;
            return;
        }
        if (EndsScanData(m)) {
            StopAt(m);
            return;
        }
        m = 0;  // TEM and reserved codes are passed
    }
    if (skipped) P.RestartDamage = true;
    coder.Restart();
}

int TkestScanDecoder::ArithmeticLoop(Kind kind) {
    ArithmeticBytes bytes(*this);
    TkestArithmeticDecoder coder(bytes);
    coder.Restart();
    const bool ac = kind == Kind::AcFirst || kind == Kind::AcRefine;
    std::uint64_t perMcu = 0;
    for (int i = 0; i < CompCount; ++i) perMcu += static_cast<std::uint64_t>(Comps[static_cast<std::size_t>(i)].Blocks);
    while (StopMarker == 0 && (P.HeightPending || P.McuCounter < Total)) {
        if (P.HeightPending && Column == 0) {
            // A frame whose height comes from DNL: the coder decodes zeros from a marker on
            // and the data says nothing of its own end, so the scan ends with the MCU row in
            // which the coder met its marker. Each new row is counted as it begins.
            if (Row > 0 && coder.Marker() != 0) break;
            P.ChargeWork(perMcu * static_cast<std::uint64_t>(P.McusPerRow));
        }
        std::uint64_t* mask = nullptr;
        if (ac) {
            Fetch(0);  // the one block of an AC scan's MCU (T.81 A.2.2)
            mask = &MaskOf(Column, Row);
        }
        int r = ArithmeticMcu(coder, kind, mask);
        if (r == 0 && coder.Ended()) r = prEndOfData;
        if (r == 0) {
            CountMcu();
            if (P.RestartInterval > 0 && ++P.McusSinceRestart == P.RestartInterval &&
                (P.HeightPending || P.McuCounter < Total))
                NextInterval(coder);
            continue;
        }
        // The MCU is abandoned: it is not counted.
        if (r == prEndOfData || P.RestartInterval <= 0) {
            Sync();
            return r;
        }
        PassInterval();
        P.RestartDamage = true;
        if (P.HeightPending || P.McuCounter < Total) NextInterval(coder);
    }
    std::uint8_t m = StopMarker;
    bool skipped = false;
    if (m == 0) {
        m = coder.TakeMarker();
        if (m == 0) m = SkipToMarker(skipped);
    }
    Sync();
    if (skipped) {
        if (P.RestartInterval <= 0) return prCorrupt;
        P.RestartDamage = true;
    }
    if (m == kDnl && P.HeightPending) return Dnl();
    P.PendingMarker = m;
    // The marker may be the restart marker after the scan's last interval.
    if (P.RestartInterval > 0 && StopMarker == 0) P.AllowedMarkers.set(static_cast<std::size_t>(P.NextRestartMarker));
    return prOk;
}

// ---------------------------------------------------------------------------------------
// The parser's side

int TkestBaseJpegParser::ReadScanData() {
    TkestScanDecoder decoder(*this);
    return decoder.Run();
}

void TkestBaseJpegParser::ClearRestartState() {
    for (auto& c : ScanComponents) c.DcPredictor = 0;
    McusSinceRestart = 0;
}

// Bounded work. A few bytes can describe enormous work: end-of-band runs pass up to 32,767
// blocks without a bit (T.81 G.1.2.2), and each scan header of a few bytes may cover the
// whole frame again. So a parse may pass kWorkPerByte blocks per byte of its stream plus
// kWorkPerFrameBlock per block of its frame, counting the blocks of every scan's MCUs and
// of every coefficient map set up; a scan that would go beyond ends the parse like a failed
// allocation. Real files stay far below (hostile_tests' corpus test reports how far): in each
// of them every block costs at least one bit of some scan.
namespace {
constexpr std::uint64_t kWorkPerByte = 256;
constexpr std::uint64_t kWorkPerFrameBlock = 2;
}  // namespace

std::uint64_t TkestBaseJpegParser::WorkBudget() const {
    std::uint64_t frameBlocks = 0;
    if (FrameSeen && MaxHSampling > 0 && MaxVSampling > 0) {
        // The frame's MCU grid (T.81 A.2.2) by the blocks of one MCU.
        const auto mcuWidth = static_cast<std::uint64_t>(8 * MaxHSampling);
        const auto mcuHeight = static_cast<std::uint64_t>(8 * MaxVSampling);
        const std::uint64_t across = (static_cast<std::uint64_t>(Width) + mcuWidth - 1) / mcuWidth;
        const std::uint64_t down = (static_cast<std::uint64_t>(Height) + mcuHeight - 1) / mcuHeight;
        std::uint64_t perMcu = 0;
        for (const TkestFrameComponent& c : std::span(FrameComponents).first(static_cast<std::size_t>(ComponentCount)))
            perMcu += static_cast<std::uint64_t>(c.HSampling * c.VSampling);
        frameBlocks = across * down * perMcu;
    }
    return WorkBudgetFor(Stream ? Stream->Size() : 0, frameBlocks);
}

std::uint64_t TkestBaseJpegParser::WorkBudgetFor(std::uint64_t ABytes, std::uint64_t AFrameBlocks) {
    return kWorkPerByte * ABytes + kWorkPerFrameBlock * AFrameBlocks;
}

void TkestBaseJpegParser::ChargeWork(std::uint64_t ABlocks) {
    Work += ABlocks;
    if (Work > WorkBudget()) throw std::bad_alloc();
}

std::uint64_t TkestBaseJpegParser::MapBudget(const TkestMCUs* AExcept) const {
    std::uint64_t used = 0;
    for (const auto& map : CoefficientMaps)
        if (map && map.get() != AExcept) used += map->DataSize();
    return used >= kCoefficientMapLimit ? 0 : kCoefficientMapLimit - used;
}

void TkestBaseJpegParser::PrepareCoefficientMaps() {
    if (!KeepCoefficients) return;
    const auto scan = std::span(ScanComponents).first(static_cast<std::size_t>(ScanComponentCount));
    // All maps together once this scan's are sized, checked before any is allocated.
    std::uint64_t total = 0;
    for (std::int32_t f = 0; f < 4; ++f) {
        const TkestScanComponent* named = nullptr;
        for (const TkestScanComponent& sc : scan)
            if (sc.FrameIndex == f) named = &sc;
        const auto& map = CoefficientMaps[static_cast<std::size_t>(f)];
        if (named)
            total += TkestJpegMap::BytesFor(std::int64_t{McusPerRow} * named->BlocksAcross,
                                            std::int64_t{McuRows} * named->BlocksDown);
        else if (map)
            total += map->DataSize();
    }
    if (total > kCoefficientMapLimit) throw std::bad_alloc();
    for (const TkestScanComponent& sc : scan) {
        auto& map = CoefficientMaps[static_cast<std::size_t>(sc.FrameIndex)];
        if (!map) map = std::make_unique<TkestMCUs>();
        const TkestMCUs::Geometry geometry{McusPerRow,      McuRows,       McuWidth,      McuHeight,
                                           sc.BlocksAcross, sc.BlocksDown, sc.BlockWidth, sc.BlockHeight,
                                           MaxHSampling / sc.HSampling, MaxVSampling / sc.VSampling};
        map->Setup(geometry, MapBudget(map.get()));
    }
}

int TkestBaseJpegParser::PercentRead() const {
    if (!FrameSeen || ComponentCount <= 0) return 0;
    double sum = 0;
    bool incomplete = false, added = false;
    for (const TkestFrameComponent& c : std::span(FrameComponents).first(static_cast<std::size_t>(ComponentCount))) {
        if (c.UnitsExpected > 0 && c.UnitsDecoded > 0) {
            // No more than all of the component: a sequential scan naming it again, or a DNL
            // height below the rows its data reached, expects fewer units than were decoded.
            const std::int64_t decoded = std::min(c.UnitsDecoded, c.UnitsExpected);
            sum += static_cast<double>(decoded) / static_cast<double>(c.UnitsExpected) * 100;
            added = true;
            if (c.UnitsDecoded < c.UnitsExpected) incomplete = true;
        } else {
            incomplete = true;
        }
    }
    const double rounded = RoundHalfEven(sum / ComponentCount);
    int percent = rounded >= INT_MAX ? INT_MAX : static_cast<int>(rounded);
    if (percent == 100 && incomplete) percent = 99;
    if (percent == 0 && added) percent = 1;
    return percent;
}

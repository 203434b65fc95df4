#include "jpeg/arithmetic.h"

#include "jpeg/parser.h"

namespace {

// T.81 Table D.2: per state index, the LPS probability estimate Qe, the next state after
// an LPS and after an MPS renormalisation, and whether an LPS exchanges the MPS sense.
// Entry 113 is the fixed estimate (Qe 0x5A1D that never adapts) of the bins that code
// signs and DC refinement bits.
struct QeEntry {
    std::uint16_t Qe;
    std::uint8_t NextLps;
    std::uint8_t NextMps;
    bool Switch;
};

constexpr std::uint8_t kFixedState = 113;

constexpr std::array<QeEntry, 114> kQe{{
    {0x5A1D, 1, 1, true},     {0x2586, 14, 2, false},   {0x1114, 16, 3, false},   {0x080B, 18, 4, false},
    {0x03D8, 20, 5, false},   {0x01DA, 23, 6, false},   {0x00E5, 25, 7, false},   {0x006F, 28, 8, false},
    {0x0036, 30, 9, false},   {0x001A, 33, 10, false},  {0x000D, 35, 11, false},  {0x0006, 9, 12, false},
    {0x0003, 10, 13, false},  {0x0001, 12, 13, false},  {0x5A7F, 15, 15, true},   {0x3F25, 36, 16, false},
    {0x2CF2, 38, 17, false},  {0x207C, 39, 18, false},  {0x17B9, 40, 19, false},  {0x1182, 42, 20, false},
    {0x0CEF, 43, 21, false},  {0x09A1, 45, 22, false},  {0x072F, 46, 23, false},  {0x055C, 48, 24, false},
    {0x0406, 49, 25, false},  {0x0303, 51, 26, false},  {0x0240, 52, 27, false},  {0x01B1, 54, 28, false},
    {0x0144, 56, 29, false},  {0x00F5, 57, 30, false},  {0x00B7, 59, 31, false},  {0x008A, 60, 32, false},
    {0x0068, 62, 33, false},  {0x004E, 63, 34, false},  {0x003B, 32, 35, false},  {0x002C, 33, 9, false},
    {0x5AE1, 37, 37, true},   {0x484C, 64, 38, false},  {0x3A0D, 65, 39, false},  {0x2EF1, 67, 40, false},
    {0x261F, 68, 41, false},  {0x1F33, 69, 42, false},  {0x19A8, 70, 43, false},  {0x1518, 72, 44, false},
    {0x1177, 73, 45, false},  {0x0E74, 74, 46, false},  {0x0BFB, 75, 47, false},  {0x09F8, 77, 48, false},
    {0x0861, 78, 49, false},  {0x0706, 79, 50, false},  {0x05CD, 48, 51, false},  {0x04DE, 50, 52, false},
    {0x040F, 50, 53, false},  {0x0363, 51, 54, false},  {0x02D4, 52, 55, false},  {0x025C, 53, 56, false},
    {0x01F8, 54, 57, false},  {0x01A4, 55, 58, false},  {0x0160, 56, 59, false},  {0x0125, 57, 60, false},
    {0x00F6, 58, 61, false},  {0x00CB, 59, 62, false},  {0x00AB, 61, 63, false},  {0x008F, 61, 32, false},
    {0x5B12, 65, 65, true},   {0x4D04, 80, 66, false},  {0x412C, 81, 67, false},  {0x37D8, 82, 68, false},
    {0x2FE8, 83, 69, false},  {0x293C, 84, 70, false},  {0x2379, 86, 71, false},  {0x1EDF, 87, 72, false},
    {0x1AA9, 87, 73, false},  {0x174E, 72, 74, false},  {0x1424, 72, 75, false},  {0x119C, 74, 76, false},
    {0x0F6B, 74, 77, false},  {0x0D51, 75, 78, false},  {0x0BB6, 77, 79, false},  {0x0A40, 77, 48, false},
    {0x5832, 80, 81, true},   {0x4D1C, 88, 82, false},  {0x438E, 89, 83, false},  {0x3BDD, 90, 84, false},
    {0x34EE, 91, 85, false},  {0x2EAE, 92, 86, false},  {0x299A, 93, 87, false},  {0x2516, 86, 71, false},
    {0x5570, 88, 89, true},   {0x4CA9, 95, 90, false},  {0x44D9, 96, 91, false},  {0x3E22, 97, 92, false},
    {0x3824, 99, 93, false},  {0x32B4, 99, 94, false},  {0x2E17, 93, 86, false},  {0x56A8, 95, 96, true},
    {0x4F46, 101, 97, false}, {0x47E5, 102, 98, false}, {0x41CF, 103, 99, false}, {0x3C3D, 104, 100, false},
    {0x375E, 99, 93, false},  {0x5231, 105, 102, false}, {0x4C0F, 106, 103, false}, {0x4639, 107, 104, false},
    {0x415E, 103, 99, false}, {0x5627, 105, 106, true}, {0x50E7, 108, 107, false}, {0x4B85, 109, 103, false},
    {0x5597, 110, 109, false}, {0x504F, 111, 107, false}, {0x5A10, 110, 111, true}, {0x5522, 112, 109, false},
    {0x59EB, 112, 111, true}, {0x5A1D, kFixedState, kFixedState, false},
}};

// Bins of a DC statistics table (T.81 F.1.4.4.1): five groups S0, SS, SP, SN from 0 by
// the class of the previous difference, X1-X15 from 20, M2-M15 14 bins above their X.
constexpr std::size_t kDcX1 = 20;
// Bins of an AC statistics table (T.81 F.1.4.4.2): SE, S0 and SP/SN (which is also X1)
// for each index k at 3 (k - 1); X2-X15 from 189 for k up to Kx and from 217 above it,
// M2-M15 14 bins above their X.
constexpr std::size_t kAcLowX2 = 189, kAcHighX2 = 217;
constexpr std::size_t kMagnitudeBits = 14;

}  // namespace

// T.81 D.2.6: a byte of the coded data; 0xFF 0x00 stands for 0xFF. From a marker on (and
// where the stream ended), the coder reads zero bytes.
void TkestArithmeticDecoder::ByteIn() {
    std::uint8_t b = 0;
    if (MarkerCode == 0 && !StreamEnded) {
        if (!In.NextByte(b)) {
            StreamEnded = true;
            b = 0;
        } else if (b == 0xFF) {
            std::uint8_t m = 0xFF;
            while (m == 0xFF)
                if (!In.NextByte(m)) {
                    StreamEnded = true;
                    break;
                }
            if (StreamEnded || m != 0x00) {
                if (!StreamEnded) MarkerCode = m;
                b = 0;
            }
        }
    }
    C |= std::uint32_t{b} << 8;
    Ct = 8;
}

// T.81 D.2.5 (RENORM_D): doubles A until it is at least 0x8000, shifting the next bits of
// the data into Cx.
void TkestArithmeticDecoder::Renormalise() {
    do {
        if (Ct == 0) ByteIn();
        A <<= 1;
        C <<= 1;
        --Ct;
    } while (A < 0x8000);
}

// T.81 D.2.2-D.2.4 (DECODE): the decision of one bin, the MPS sub-interval below the LPS
// one unless the conditional exchange swaps them; the bin's estimate moves on whenever the
// coder renormalises.
int TkestArithmeticDecoder::Decode(std::uint8_t& AState) {
    const QeEntry& e = kQe[AState & 0x7F];
    const int mps = AState >> 7;
    const std::uint32_t qe = e.Qe;
    A -= qe;
    int d;
    if ((C >> 16) < A) {
        if (A >= 0x8000) return mps;
        // Cond_MPS_exchange
        if (A < qe) {
            d = 1 - mps;
            AState = static_cast<std::uint8_t>((e.Switch ? d : mps) << 7 | e.NextLps);
        } else {
            d = mps;
            AState = static_cast<std::uint8_t>(mps << 7 | e.NextMps);
        }
    } else {
        // Cond_LPS_exchange
        C -= A << 16;
        if (A < qe) {
            d = mps;
            AState = static_cast<std::uint8_t>(mps << 7 | e.NextMps);
        } else {
            d = 1 - mps;
            AState = static_cast<std::uint8_t>((e.Switch ? d : mps) << 7 | e.NextLps);
        }
        A = qe;
    }
    Renormalise();
    return d;
}

// T.81 D.2.7 (INITDEC) after the statistics are reset (T.81 F.2.4.1: at the start of each
// scan and after each RSTn all bins begin in state 0 with MPS 0).
void TkestArithmeticDecoder::Restart() {
    for (auto& t : DcStats) t.fill(0);
    for (auto& t : AcStats) t.fill(0);
    Fixed = kFixedState;
    DcContext.fill(0);
    MarkerCode = 0;
    C = 0;
    Ct = 0;
    ByteIn();
    C <<= 8;
    ByteIn();
    C <<= 8;
    Ct = 0;
    A = 0x10000;
}

std::uint8_t TkestArithmeticDecoder::TakeMarker() {
    const std::uint8_t m = MarkerCode;
    MarkerCode = 0;
    return m;
}

// T.81 F.2.4.3.1: Sz = |V| - 1 has its leading bit at ALeading or above. The decisions at
// bins AX, AX + 1, ... double it while they say so, then the bits below it are read at the
// bins kMagnitudeBits further on. False where the leading bit would pass bit 14.
bool TkestArithmeticDecoder::Magnitude(std::span<std::uint8_t> AStats, std::size_t AX, std::uint32_t ALeading,
                                       std::uint32_t& AMagnitude) {
    std::uint32_t m = ALeading;
    std::size_t st = AX;
    while (Decode(AStats[st])) {
        m <<= 1;
        if (m == 0x8000) return false;
        ++st;
    }
    std::uint32_t sz = m;
    st += kMagnitudeBits;
    while (m >>= 1)
        if (Decode(AStats[st])) sz |= m;
    AMagnitude = sz + 1;
    return true;
}

// T.81 F.2.4.1 (Decode_DC_DIFF) with the conditioning of F.1.4.4.1.2.
int TkestArithmeticDecoder::DcDifference(int AComponent, int ATable, const TkestConditioning& AConditioning,
                                         int APrecision) {
    auto& s = DcStats[static_cast<std::size_t>(ATable)];
    std::size_t& context = DcContext[static_cast<std::size_t>(AComponent)];
    std::size_t st = context;
    if (!Decode(s[st])) {
        context = 0;
        return 0;
    }
    const int negative = Decode(s[st + 1]);
    st += 2 + static_cast<std::size_t>(negative);
    std::uint32_t magnitude = 1;
    if (Decode(s[st]) && !Magnitude(s, kDcX1, 1, magnitude)) return prCorrupt;
    const int limitBits = APrecision + 3 < 16 ? APrecision + 3 : 16;
    if (magnitude >= std::uint32_t{1} << limitBits) return prCorrupt;
    // The class of this difference conditions the next one: zero up to 2^(L-1), small up to
    // 2^U, large beyond, each by sign.
    const std::uint32_t zeroUpTo = AConditioning.Lower == 0 ? 0 : std::uint32_t{1} << (AConditioning.Lower - 1);
    const std::uint32_t smallUpTo = std::uint32_t{1} << AConditioning.Upper;
    const auto sign = static_cast<std::size_t>(negative);
    context = magnitude <= zeroUpTo ? 0 : magnitude <= smallUpTo ? 4 + 4 * sign : 12 + 4 * sign;
    return 0;
}

// T.81 F.2.4.2 (Decode_AC_coefficients), G.1.3.2 for a band of a first scan.
int TkestArithmeticDecoder::AcBand(int ATable, int AKx, int ASs, int ASe, int AAl, std::uint64_t* AMask) {
    auto& s = AcStats[static_cast<std::size_t>(ATable)];
    for (int k = ASs; k <= ASe; ++k) {
        std::size_t st = 3 * static_cast<std::size_t>(k - 1);
        if (Decode(s[st])) break;  // end of block
        while (!Decode(s[st + 1])) {
            // A zero coefficient; the band must hold the one that follows.
            if (++k > ASe) return prCorrupt;
            st += 3;
        }
        FixedBit();  // the sign
        std::uint32_t magnitude = 1;
        st += 2;
        if (Decode(s[st])) {
            magnitude = 2;
            if (Decode(s[st]) && !Magnitude(s, k <= AKx ? kAcLowX2 : kAcHighX2, 2, magnitude)) return prCorrupt;
        }
        if (magnitude >= 0x8000) return prCorrupt;  // category 16
        if (AMask) {
            // The value as stored in 16 bits, shifted by Al; with Al up to 13 it can come out
            // as 0.
            const std::uint64_t bit = std::uint64_t{1} << k;
            *AMask = (magnitude << AAl & 0xFFFFu) != 0 ? *AMask | bit : *AMask & ~bit;
        }
    }
    return 0;
}

// T.81 G.1.3.3: end-of-band decisions only past the last coefficient already non-zero;
// such coefficients take a correction bit, the others a decision whether they become
// non-zero (then with a sign).
int TkestArithmeticDecoder::AcRefine(int ATable, int ASs, int ASe, std::uint64_t& AMask) {
    auto& s = AcStats[static_cast<std::size_t>(ATable)];
    const std::uint64_t before = AMask & (ASe == 63 ? ~std::uint64_t{1} : ((std::uint64_t{1} << (ASe + 1)) - 2));
    int last = 0;
    for (int k = ASe; k > 0; --k)
        if (before >> k & 1) {
            last = k;
            break;
        }
    for (int k = ASs; k <= ASe; ++k) {
        std::size_t st = 3 * static_cast<std::size_t>(k - 1);
        if (k > last && Decode(s[st])) break;
        for (;;) {
            if (AMask >> k & 1) {
                Decode(s[st + 2]);
                break;
            }
            if (Decode(s[st + 1])) {
                FixedBit();
                AMask |= std::uint64_t{1} << k;
                break;
            }
            if (++k > ASe) return prCorrupt;
            st += 3;
        }
    }
    return 0;
}

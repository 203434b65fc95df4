// The arithmetic decoding of DCT scans (T.81 Annex D, F.2.4, G.2), far enough to check the
// structure of the data: every decision of the QM-coder is decoded with its statistics, so
// the coder stays in step with the encoder, but no coefficient value is kept beyond what
// later scans depend on (the masks of coefficients.h).
//
// What an arithmetic decoder can see of damage. Every sequence of bytes decodes to some
// sequence of decisions; unlike Huffman codes there is no invalid code. Damage shows only
// where the decisions leave the standard's constraints:
// - a run of zero coefficients that passes the end of the band (a coefficient index past
//   63, or past Se in a progressive scan);
// - a magnitude category beyond 15 for an AC coefficient, or a DC difference beyond what
//   the sample precision allows (categories up to P + 3, T.81 F.1.2.1 and Table F.1);
// - data ending inside an MCU (the stream ends while the coder still needs bytes);
// - data left over: the encoder writes no byte its decisions do not need, so data bytes
//   between the coder's last decision of a scan or interval and the next marker mean the
//   decisions went astray (djpeg reports them as extraneous bytes).
// A marker where data is due is not damage by itself: the coder reads past the last byte
// the encoder wrote (which drops trailing zero bytes), and T.81 D.2.6 has it decode zeros
// from a marker on. So a marker shows damage only where the scan's structure puts it
// wrong: a restart marker out of sequence, or a marker other than RSTn at the end of a
// restart interval. Data cut short and closed by EOI decodes to the scan's end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The conditioning of one statistics table (T.81 B.2.4.3, F.1.4.4): the bounds L and U of
// the DC difference classes and the AC band split Kx, defaults where no DAC gives them.
struct TkestConditioning {
    std::uint8_t Lower = 0;
    std::uint8_t Upper = 1;
    std::uint8_t Kx = 5;
};

class TkestArithmeticDecoder {
public:
    // Where the coder's bytes come from: false when the stream has ended.
    class Input {
    public:
        virtual bool NextByte(std::uint8_t& AByte) = 0;

    protected:
        ~Input() = default;
    };

    explicit TkestArithmeticDecoder(Input& AInput) : In(AInput) {}

    // The start of a scan's data or of a restart interval (T.81 F.2.4.1, G.2): all statistics
    // and DC contexts back to their initial state, the coder initialised on the next bytes.
    void Restart();
    // The marker the byte input met (0: none yet), taken out of the decoder.
    std::uint8_t TakeMarker();
    std::uint8_t Marker() const { return MarkerCode; }
    // The stream ended while the coder needed bytes.
    bool Ended() const { return StreamEnded; }

    // The blocks. Each returns 0 or prCorrupt; AComponent (0-3) names the scan component
    // whose DC context is used, ATable the statistics table of its selector.
    int DcDifference(int AComponent, int ATable, const TkestConditioning& AConditioning, int APrecision);
    // A band Ss..Se of AC coefficients, sequential (1..63) or a progressive first scan. With
    // AMask, bit k is set where the coefficient at zigzag index k is non-zero after the point
    // transform Al.
    int AcBand(int ATable, int AKx, int ASs, int ASe, int AAl, std::uint64_t* AMask);
    // A refinement of the band (T.81 G.1.3.3): AMask as left by the earlier scans.
    int AcRefine(int ATable, int ASs, int ASe, std::uint64_t& AMask);
    // A bit of fixed probability (DC refinement, signs).
    int FixedBit() { return Decode(Fixed); }

private:
    int Decode(std::uint8_t& AState);
    bool Magnitude(std::span<std::uint8_t> AStats, std::size_t AX, std::uint32_t ALeading, std::uint32_t& AMagnitude);
    void Renormalise();
    void ByteIn();

    Input& In;
    std::uint32_t A = 0;  // the interval, 0x8000 to 0x10000 between decisions
    std::uint32_t C = 0;  // Cx in bits 16-31 (T.81 D.2.1), the bytes read ahead below
    int Ct = 0;           // bits left below Cx before the next byte is read
    std::uint8_t MarkerCode = 0;
    bool StreamEnded = false;
    // Statistics bins: bit 7 the MPS, bits 0-6 the state index (T.81 D.1.5).
    std::array<std::array<std::uint8_t, 64>, 4> DcStats{};
    std::array<std::array<std::uint8_t, 256>, 4> AcStats{};
    std::uint8_t Fixed = 0;
    std::array<std::size_t, 4> DcContext{};  // per scan component: the first bin of S0
};

// A small JPEG writer for test fixtures: real bytes, segment by segment (ITU-T T.81 Annex B),
// with Huffman-coded entropy data for sequential scans made from given coefficient blocks.
//
//   JpegBuilder b;
//   b.Soi().App(0, JfifPayload()).DqtAnnexK(75).DhtAnnexK()
//    .Sof(0xC0, 32, 16, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}})
//    .Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}}).SequentialScanData().Eoi();
//
// The Huffman tables used for coding are those the builder's Dht calls defined (by class and
// identifier); the coding runs MCU by MCU over the last frame and scan header (T.81 A.2),
// with a restart marker after every interval when Dri set one. ProgressiveScanData codes
// the four kinds of progressive scan as libjpeg's jcphuff.c does (T.81 G.1.2): DC first
// passes and refinements, AC first passes with end-of-band runs across blocks, AC
// refinements with their correction bits; ProgressiveImage puts a whole file together.
#pragma once

#include "jpeg/annex_k.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace jpeg_fixture {

// Bytes of a text, including embedded zero bytes ("Exif\0\0"sv).
Bytes Text(std::string_view text);
Bytes Concat(std::initializer_list<Bytes> parts);

// A JFIF APP0 payload (JFIF 1.02, 72 dpi, no thumbnail).
Bytes JfifPayload();
// An Adobe APP14 payload (12 bytes) with the given transform flag.
Bytes AdobePayload(std::uint8_t transform);

// Table K.1 (identifier 0) or K.2 scaled as libjpeg scales them for a quality 1-100:
// S = 5000/Q below 50 (integer division), else 200 - 2Q; entry = (r*S + 50) / 100, clamped to
// 1..255. In zigzag order, as a DQT segment holds them.
std::array<std::uint16_t, 64> ScaledAnnexK(bool chrominance, int quality);

// Entropy-coded bytes: bits most significant first, 0xFF followed by a stuffed 0x00 (T.81 F.1.2.3).
class BitWriter {
public:
    explicit BitWriter(Bytes& out) : out_(out) {}
    void Put(std::uint32_t bits, int count);
    // Pads the last byte with 1 bits (T.81 F.1.2.3).
    void Flush();

private:
    Bytes& out_;
    std::uint32_t accumulator_ = 0;
    int filled_ = 0;
};

// The codes of a Huffman table built as T.81 Annex C does.
class HuffmanEncoder {
public:
    HuffmanEncoder() = default;
    explicit HuffmanEncoder(const annex_k::HuffmanSpec& spec);
    void Put(BitWriter& out, std::uint8_t symbol) const;
    bool Empty() const { return empty_; }

private:
    std::array<std::uint16_t, 256> code_{};
    std::array<std::uint8_t, 256> length_{};
    bool empty_ = true;
};

struct FrameComponent {
    std::uint8_t id;
    std::uint8_t h = 1;
    std::uint8_t v = 1;
    std::uint8_t tq = 0;
};

struct ScanComponent {
    std::uint8_t id;
    std::uint8_t td = 0;
    std::uint8_t ta = 0;
};

// Quantized coefficients of one 8x8 block in zigzag order; index 0 is the DC value.
using Block = std::array<int, 64>;
// The block of scan component `component` (index in the scan header) with number `block`
// in coding order within that component.
using BlockSource = std::function<Block(std::size_t component, std::size_t block)>;

// A default pattern: varying DC values and a few AC coefficients, including a run of more
// than 15 zeros (ZRL) in some blocks.
Block PatternBlock(std::size_t component, std::size_t block);

// Whether the block `block` of scan component `component` is to be replaced by bits that no
// table decodes (sixteen 1 bits: T.81 C forbids an all-ones code).
using DamageSource = std::function<bool(std::size_t component, std::size_t block)>;

// An AC table for progressive scans: every run/size symbol with sizes 0-10, so also the
// end-of-band runs EOB1-EOB14 that Table K.5 lacks. Sixteen common symbols have 5-bit
// codes, the other 160 9-bit ones.
annex_k::HuffmanSpec ProgressiveAcSpec();

class JpegBuilder {
public:
    JpegBuilder& Soi() { return Marker(0xD8); }
    JpegBuilder& Eoi() { return Marker(0xD9); }
    // 0xFF and a code, no segment (SOI, EOI, RSTn, or a marker that should not be there).
    JpegBuilder& Marker(std::uint8_t code);
    // 0xFF, the marker, a length field of payload + 2, the payload.
    JpegBuilder& Segment(std::uint8_t marker, const Bytes& payload);
    // 0xFF, the marker, an arbitrary length field, then the payload bytes as given.
    JpegBuilder& SegmentWithLength(std::uint8_t marker, std::uint16_t lengthField, const Bytes& payload);
    JpegBuilder& App(int n, const Bytes& payload) { return Segment(static_cast<std::uint8_t>(0xE0 + n), payload); }
    JpegBuilder& Com(std::string_view text) { return Segment(0xFE, Text(text)); }
    // One table per segment: Pq 0 (8-bit) or 1 (16-bit entries).
    JpegBuilder& Dqt(std::uint8_t id, const std::array<std::uint16_t, 64>& zigzag, bool sixteenBit = false);
    // Tables 0 (K.1) and 1 (K.2) scaled for `quality`, in one segment as cjpeg writes them.
    JpegBuilder& DqtAnnexK(int quality);
    // One table (class 0 DC, 1 AC); later scans are coded with it.
    JpegBuilder& Dht(std::uint8_t tableClass, std::uint8_t id, const annex_k::HuffmanSpec& spec);
    // Tables K.3-K.6 as DC 0, AC 0, DC 1, AC 1.
    JpegBuilder& DhtAnnexK();
    JpegBuilder& Sof(std::uint8_t marker, std::uint16_t width, std::uint16_t height,
                     const std::vector<FrameComponent>& components, std::uint8_t precision = 8);
    JpegBuilder& Dri(std::uint16_t interval);
    JpegBuilder& Sos(const std::vector<ScanComponent>& components, std::uint8_t ss = 0, std::uint8_t se = 63,
                     std::uint8_t ah = 0, std::uint8_t al = 0);
    // DNL (T.81 B.2.5): the number of lines of a frame whose header gave 0.
    JpegBuilder& Dnl(std::uint16_t lines);
    // Huffman-coded data of a sequential scan over the last frame and scan header. `lines`
    // replaces the frame's height (for a frame with 0 lines and a DNL).
    JpegBuilder& SequentialScanData(const BlockSource& source = PatternBlock, std::uint16_t lines = 0,
                                    const DamageSource& damage = nullptr);
    // Huffman-coded data of a progressive scan over the last frame and scan header, of the
    // kind its Ss, Se, Ah and Al give: the point transform by Al, the bits Ah asks for.
    JpegBuilder& ProgressiveScanData(const BlockSource& source = PatternBlock, std::uint16_t lines = 0);
    JpegBuilder& Raw(const Bytes& bytes);

    // Calls `code` for every block of the last scan in coding order (MCU by MCU), and
    // `restart` with the restart number between intervals; `lines` as above.
    void ForEachBlock(const std::function<void(std::size_t component, std::size_t block)>& code,
                      const std::function<void(int restart)>& restart, std::uint16_t lines = 0) const;

    const Bytes& Data() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }
    // The first `count` bytes.
    Bytes Cut(std::size_t count) const;

private:
    Bytes bytes_;
    std::uint16_t width_ = 0;
    std::uint16_t height_ = 0;
    std::vector<FrameComponent> frame_;
    std::vector<ScanComponent> scan_;
    std::uint8_t ss_ = 0, se_ = 63, ah_ = 0, al_ = 0;
    std::uint16_t restartInterval_ = 0;
    std::array<HuffmanEncoder, 4> dc_{};
    std::array<HuffmanEncoder, 4> ac_{};
};

// A complete baseline image: JFIF, DQT for `quality`, DHT K.3-K.6, SOF0, one interleaved
// scan of coded pattern blocks, EOI. Three components 2x2/1x1/1x1 (ids 1, 2, 3) or one.
Bytes BaselineImage(std::uint16_t width, std::uint16_t height, int components = 3, int quality = 75);

// The scans of a progressive image, in libjpeg's order for three components (jcparam.c
// jpeg_simple_progression): every kind of scan, successive approximation in two steps.
struct ProgressiveScan {
    std::vector<ScanComponent> components;
    std::uint8_t ss, se, ah, al;
};
std::vector<ProgressiveScan> ProgressiveScript(int components);

// A complete progressive image (SOF2) coded with `script`, tables K.3/K.4 for DC and
// ProgressiveAcSpec for AC; `restart` MCUs per interval (0: none). Same components as
// BaselineImage.
Bytes ProgressiveImage(std::uint16_t width, std::uint16_t height, int components = 3, std::uint16_t restart = 0);

}  // namespace jpeg_fixture

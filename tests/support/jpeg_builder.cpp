#include "support/jpeg_builder.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace jpeg_fixture {

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes JfifPayload() {
    return {'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 72, 0, 72, 0, 0};
}

Bytes AdobePayload(std::uint8_t transform) {
    return {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, transform};
}

std::array<std::uint16_t, 64> ScaledAnnexK(bool chrominance, int quality) {
    const auto& reference = chrominance ? annex_k::kChrominanceQuant : annex_k::kLuminanceQuant;
    const long scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    std::array<std::uint16_t, 64> zigzag{};
    for (std::size_t j = 0; j < 64; ++j) {
        const long v = std::clamp((reference[j] * scale + 50) / 100, 1L, 255L);
        zigzag[annex_k::kZigzagOrder[j]] = static_cast<std::uint16_t>(v);
    }
    return zigzag;
}

void BitWriter::Put(std::uint32_t bits, int count) {
    for (int i = count - 1; i >= 0; --i) {
        accumulator_ = (accumulator_ << 1) | ((bits >> i) & 1u);
        if (++filled_ == 8) {
            const auto byte = static_cast<std::uint8_t>(accumulator_);
            out_.push_back(byte);
            if (byte == 0xFF) out_.push_back(0x00);
            accumulator_ = 0;
            filled_ = 0;
        }
    }
}

void BitWriter::Flush() {
    if (filled_ > 0) Put(0xFFu, 8 - filled_);
}

// T.81 C.2: codes of each length in increasing order, doubled at each next length.
HuffmanEncoder::HuffmanEncoder(const annex_k::HuffmanSpec& spec) : empty_(false) {
    std::uint32_t code = 0;
    std::size_t k = 0;
    for (std::size_t length = 1; length <= 16; ++length) {
        for (int i = 0; i < spec.Counts[length - 1]; ++i) {
            const std::uint8_t symbol = spec.SymbolStore[k++];
            code_[symbol] = static_cast<std::uint16_t>(code++);
            length_[symbol] = static_cast<std::uint8_t>(length);
        }
        code <<= 1;
    }
}

void HuffmanEncoder::Put(BitWriter& out, std::uint8_t symbol) const {
    if (length_[symbol] == 0) throw std::logic_error("symbol without a code");
    out.Put(code_[symbol], length_[symbol]);
}

Block PatternBlock(std::size_t component, std::size_t block) {
    Block b{};
    b[0] = static_cast<int>((block * 7 + component * 13) % 61) - 30;
    b[1] = static_cast<int>(block % 5) - 2;
    if (block % 3 == 0) b[5] = 3 + static_cast<int>(component);
    if (block % 7 == 0) b[40] = -1;  // a run of 34 zeros before it
    return b;
}

annex_k::HuffmanSpec ProgressiveAcSpec() {
    static constexpr std::uint8_t kCommon[16] = {0x01, 0x02, 0x00, 0x11, 0x03, 0x10, 0x20, 0x21,
                                                 0xF0, 0x12, 0x04, 0x31, 0x05, 0x22, 0x13, 0x30};
    annex_k::HuffmanSpec spec{};
    spec.Counts[4] = 16;
    spec.Counts[8] = 160;
    std::size_t n = 0;
    for (std::uint8_t symbol : kCommon) spec.SymbolStore[n++] = symbol;
    for (int run = 0; run < 16; ++run)
        for (int size = 0; size <= 10; ++size) {
            const auto symbol = static_cast<std::uint8_t>(run << 4 | size);
            if (std::find(std::begin(kCommon), std::end(kCommon), symbol) == std::end(kCommon))
                spec.SymbolStore[n++] = symbol;
        }
    return spec;
}

JpegBuilder& JpegBuilder::Marker(std::uint8_t code) {
    bytes_.push_back(0xFF);
    bytes_.push_back(code);
    return *this;
}

JpegBuilder& JpegBuilder::Segment(std::uint8_t marker, const Bytes& payload) {
    if (payload.size() > 65533) throw std::length_error("segment payload too long");
    return SegmentWithLength(marker, static_cast<std::uint16_t>(payload.size() + 2), payload);
}

JpegBuilder& JpegBuilder::SegmentWithLength(std::uint8_t marker, std::uint16_t lengthField, const Bytes& payload) {
    Marker(marker);
    bytes_.push_back(static_cast<std::uint8_t>(lengthField >> 8));
    bytes_.push_back(static_cast<std::uint8_t>(lengthField));
    return Raw(payload);
}

JpegBuilder& JpegBuilder::Dqt(std::uint8_t id, const std::array<std::uint16_t, 64>& zigzag, bool sixteenBit) {
    Bytes p{static_cast<std::uint8_t>((sixteenBit ? 0x10 : 0x00) | id)};
    for (std::uint16_t v : zigzag) {
        if (sixteenBit) p.push_back(static_cast<std::uint8_t>(v >> 8));
        p.push_back(static_cast<std::uint8_t>(v));
    }
    return Segment(0xDB, p);
}

JpegBuilder& JpegBuilder::DqtAnnexK(int quality) {
    Bytes p;
    for (std::uint8_t id = 0; id < 2; ++id) {
        p.push_back(id);
        for (std::uint16_t v : ScaledAnnexK(id == 1, quality)) p.push_back(static_cast<std::uint8_t>(v));
    }
    return Segment(0xDB, p);
}

JpegBuilder& JpegBuilder::Dht(std::uint8_t tableClass, std::uint8_t id, const annex_k::HuffmanSpec& spec) {
    Bytes p{static_cast<std::uint8_t>(tableClass << 4 | id)};
    p.insert(p.end(), spec.Counts.begin(), spec.Counts.end());
    const auto symbols = spec.Symbols();
    p.insert(p.end(), symbols.begin(), symbols.end());
    (tableClass == 0 ? dc_ : ac_)[id & 3] = HuffmanEncoder(spec);
    return Segment(0xC4, p);
}

JpegBuilder& JpegBuilder::DhtAnnexK() {
    return Dht(0, 0, annex_k::kDcLuminance)
        .Dht(1, 0, annex_k::kAcLuminance)
        .Dht(0, 1, annex_k::kDcChrominance)
        .Dht(1, 1, annex_k::kAcChrominance);
}

JpegBuilder& JpegBuilder::Sof(std::uint8_t marker, std::uint16_t width, std::uint16_t height,
                              const std::vector<FrameComponent>& components, std::uint8_t precision) {
    width_ = width;
    height_ = height;
    frame_ = components;
    Bytes p{precision, static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height),
            static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width),
            static_cast<std::uint8_t>(components.size())};
    for (const FrameComponent& c : components) {
        p.push_back(c.id);
        p.push_back(static_cast<std::uint8_t>(c.h << 4 | c.v));
        p.push_back(c.tq);
    }
    return Segment(marker, p);
}

JpegBuilder& JpegBuilder::Dri(std::uint16_t interval) {
    restartInterval_ = interval;
    return Segment(0xDD, {static_cast<std::uint8_t>(interval >> 8), static_cast<std::uint8_t>(interval)});
}

JpegBuilder& JpegBuilder::Sos(const std::vector<ScanComponent>& components, std::uint8_t ss, std::uint8_t se,
                              std::uint8_t ah, std::uint8_t al) {
    scan_ = components;
    ss_ = ss;
    se_ = se;
    ah_ = ah;
    al_ = al;
    Bytes p{static_cast<std::uint8_t>(components.size())};
    for (const ScanComponent& c : components) {
        p.push_back(c.id);
        p.push_back(static_cast<std::uint8_t>(c.td << 4 | c.ta));
    }
    p.push_back(ss);
    p.push_back(se);
    p.push_back(static_cast<std::uint8_t>(ah << 4 | al));
    return Segment(0xDA, p);
}

JpegBuilder& JpegBuilder::Dnl(std::uint16_t lines) {
    return Segment(0xDC, {static_cast<std::uint8_t>(lines >> 8), static_cast<std::uint8_t>(lines)});
}

JpegBuilder& JpegBuilder::Raw(const Bytes& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes JpegBuilder::Cut(std::size_t count) const {
    return Bytes(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(std::min(count, bytes_.size())));
}

void JpegBuilder::ForEachBlock(const std::function<void(std::size_t, std::size_t)>& code,
                               const std::function<void(int)>& restart, std::uint16_t lines) const {
    const std::size_t height = lines ? lines : height_;
    int hmax = 1, vmax = 1;
    for (const FrameComponent& c : frame_) {
        hmax = std::max<int>(hmax, c.h);
        vmax = std::max<int>(vmax, c.v);
    }
    auto frameComponent = [&](std::uint8_t id) -> const FrameComponent& {
        for (const FrameComponent& c : frame_)
            if (c.id == id) return c;
        throw std::logic_error("scan names a component the frame lacks");
    };
    auto ceilDiv = [](std::size_t a, std::size_t b) { return (a + b - 1) / b; };

    // T.81 A.2.2 / A.2.3: a single component is coded block by block over its own grid;
    // several are interleaved, h x v blocks of each per MCU.
    std::size_t mcusAcross, mcusDown;
    std::vector<std::size_t> across(scan_.size()), counter(scan_.size(), 0);
    if (scan_.size() == 1) {
        const FrameComponent& c = frameComponent(scan_[0].id);
        mcusAcross = ceilDiv(ceilDiv(width_ * c.h, static_cast<std::size_t>(hmax)), 8);
        mcusDown = ceilDiv(ceilDiv(height * c.v, static_cast<std::size_t>(vmax)), 8);
    } else {
        mcusAcross = ceilDiv(width_, 8u * static_cast<std::size_t>(hmax));
        mcusDown = ceilDiv(height, 8u * static_cast<std::size_t>(vmax));
    }
    const std::size_t total = mcusAcross * mcusDown;
    int restartNumber = 0;
    for (std::size_t mcu = 0; mcu < total; ++mcu) {
        if (restartInterval_ > 0 && mcu > 0 && mcu % restartInterval_ == 0) restart(restartNumber++ % 8);
        const std::size_t mx = mcu % mcusAcross, my = mcu / mcusAcross;
        for (std::size_t i = 0; i < scan_.size(); ++i) {
            const FrameComponent& c = frameComponent(scan_[i].id);
            if (scan_.size() == 1) {
                code(i, mcu);
                continue;
            }
            // Block numbers in raster order of the component's grid of MCU-sized tiles.
            const std::size_t gridWidth = mcusAcross * c.h;
            for (std::size_t by = 0; by < c.v; ++by)
                for (std::size_t bx = 0; bx < c.h; ++bx) code(i, (my * c.v + by) * gridWidth + mx * c.h + bx);
        }
    }
}

namespace {

// T.81 F.1.2.1: a value as a size category (after `run` zeros) and its extra bits.
void PutValue(BitWriter& out, const HuffmanEncoder& table, int run, int value) {
    const unsigned magnitude = static_cast<unsigned>(std::abs(value));
    int size = 0;
    while ((magnitude >> size) != 0) ++size;
    table.Put(out, static_cast<std::uint8_t>(run << 4 | size));
    const int bits = value >= 0 ? value : value + (1 << size) - 1;
    out.Put(static_cast<std::uint32_t>(bits), size);
}

}  // namespace

JpegBuilder& JpegBuilder::SequentialScanData(const BlockSource& source, std::uint16_t lines,
                                             const DamageSource& damage) {
    BitWriter out(bytes_);
    std::vector<int> predictor(scan_.size(), 0);
    auto codeBlock = [&](std::size_t i, std::size_t n) {
        const HuffmanEncoder& dc = dc_[scan_[i].td & 3];
        const HuffmanEncoder& ac = ac_[scan_[i].ta & 3];
        if (dc.Empty() || ac.Empty()) throw std::logic_error("scan names a table the builder did not define");
        if (damage && damage(i, n)) {
            out.Put(0xFFFF, 16);
            return;
        }
        const Block block = source(i, n);
        auto putValue = [&](const HuffmanEncoder& table, int run, int value) { PutValue(out, table, run, value); };
        putValue(dc, 0, block[0] - predictor[i]);
        predictor[i] = block[0];
        // T.81 F.1.2.2: runs of zeros, ZRL for sixteen, EOB after the last non-zero.
        int run = 0;
        for (std::size_t k = 1; k < 64; ++k) {
            if (block[k] == 0) {
                ++run;
                continue;
            }
            for (; run > 15; run -= 16) ac.Put(out, 0xF0);
            putValue(ac, run, block[k]);
            run = 0;
        }
        if (run > 0) ac.Put(out, 0x00);
    };
    auto restart = [&](int number) {
        out.Flush();
        Marker(static_cast<std::uint8_t>(0xD0 + number));
        std::fill(predictor.begin(), predictor.end(), 0);
    };
    ForEachBlock(codeBlock, restart, lines);
    out.Flush();
    return *this;
}

JpegBuilder& JpegBuilder::ProgressiveScanData(const BlockSource& source, std::uint16_t lines) {
    BitWriter out(bytes_);
    const bool dc = ss_ == 0;
    const int al = al_;
    std::vector<int> predictor(scan_.size(), 0);
    // AC scans: the end-of-band run not yet coded and, for refinements, the correction bits
    // of its blocks, which follow the run's code (T.81 G.1.2.3; jcphuff.c emit_eobrun).
    int eobRun = 0;
    std::vector<int> pending;
    auto acTable = [&]() -> const HuffmanEncoder& {
        const HuffmanEncoder& t = ac_[scan_[0].ta & 3];
        if (t.Empty()) throw std::logic_error("scan names a table the builder did not define");
        return t;
    };
    auto flushRun = [&] {
        if (eobRun == 0) return;
        int bits = 0;
        while ((eobRun >> (bits + 1)) != 0) ++bits;
        acTable().Put(out, static_cast<std::uint8_t>(bits << 4));
        out.Put(static_cast<std::uint32_t>(eobRun), bits);
        for (int bit : pending) out.Put(static_cast<std::uint32_t>(bit), 1);
        eobRun = 0;
        pending.clear();
    };
    auto codeBlock = [&](std::size_t i, std::size_t n) {
        const Block block = source(i, n);
        if (dc && ah_ == 0) {
            const HuffmanEncoder& table = dc_[scan_[i].td & 3];
            if (table.Empty()) throw std::logic_error("scan names a table the builder did not define");
            const int value = (block[0] >> al);
            PutValue(out, table, 0, value - predictor[i]);
            predictor[i] = value;
        } else if (dc) {
            out.Put(static_cast<std::uint32_t>((block[0] >> al) & 1), 1);
        } else if (ah_ == 0) {
            // T.81 G.1.2.2: magnitudes shifted down by Al; zeros counted into runs; a block
            // with nothing left in the band joins the end-of-band run.
            const HuffmanEncoder& table = acTable();
            int run = 0;
            for (int k = ss_; k <= se_; ++k) {
                const int magnitude = std::abs(block[static_cast<std::size_t>(k)]) >> al;
                if (magnitude == 0) {
                    ++run;
                    continue;
                }
                flushRun();
                for (; run > 15; run -= 16) table.Put(out, 0xF0);
                PutValue(out, table, run, block[static_cast<std::size_t>(k)] < 0 ? -magnitude : magnitude);
                run = 0;
            }
            if (run > 0 && ++eobRun == 0x7FFF) flushRun();
        } else {
            // T.81 G.1.2.3: coefficients that become non-zero (magnitude 1 after the shift)
            // are coded with their runs; those already non-zero get one correction bit, sent
            // after the next code.
            const HuffmanEncoder& table = acTable();
            int magnitudes[64] = {};
            int lastNew = 0;
            for (int k = ss_; k <= se_; ++k) {
                magnitudes[k] = std::abs(block[static_cast<std::size_t>(k)]) >> al;
                if (magnitudes[k] == 1) lastNew = k;
            }
            int run = 0;
            std::vector<int> corrections;
            for (int k = ss_; k <= se_; ++k) {
                if (magnitudes[k] == 0) {
                    ++run;
                    continue;
                }
                while (run > 15 && k <= lastNew) {
                    flushRun();
                    table.Put(out, 0xF0);
                    run -= 16;
                    for (int bit : corrections) out.Put(static_cast<std::uint32_t>(bit), 1);
                    corrections.clear();
                }
                if (magnitudes[k] > 1) {
                    corrections.push_back(magnitudes[k] & 1);
                    continue;
                }
                flushRun();
                table.Put(out, static_cast<std::uint8_t>(run << 4 | 1));
                out.Put(block[static_cast<std::size_t>(k)] < 0 ? 0u : 1u, 1);
                for (int bit : corrections) out.Put(static_cast<std::uint32_t>(bit), 1);
                corrections.clear();
                run = 0;
            }
            if (run > 0 || !corrections.empty()) {
                ++eobRun;
                pending.insert(pending.end(), corrections.begin(), corrections.end());
                if (eobRun == 0x7FFF || pending.size() > 937) flushRun();
            }
        }
    };
    auto restart = [&](int number) {
        flushRun();
        out.Flush();
        Marker(static_cast<std::uint8_t>(0xD0 + number));
        std::fill(predictor.begin(), predictor.end(), 0);
    };
    ForEachBlock(codeBlock, restart, lines);
    flushRun();
    out.Flush();
    return *this;
}

std::vector<ProgressiveScan> ProgressiveScript(int components) {
    if (components == 3)
        return {
            {{{1, 0, 0}, {2, 1, 0}, {3, 1, 0}}, 0, 0, 0, 1},
            {{{1, 0, 0}}, 1, 5, 0, 2},
            {{{3, 0, 1}}, 1, 63, 0, 1},
            {{{2, 0, 1}}, 1, 63, 0, 1},
            {{{1, 0, 0}}, 6, 63, 0, 2},
            {{{1, 0, 0}}, 1, 63, 2, 1},
            {{{1, 0, 0}, {2, 1, 0}, {3, 1, 0}}, 0, 0, 1, 0},
            {{{3, 0, 1}}, 1, 63, 1, 0},
            {{{2, 0, 1}}, 1, 63, 1, 0},
            {{{1, 0, 0}}, 1, 63, 1, 0},
        };
    return {
        {{{1, 0, 0}}, 0, 0, 0, 1},  {{{1, 0, 0}}, 1, 5, 0, 2},  {{{1, 0, 0}}, 6, 63, 0, 2},
        {{{1, 0, 0}}, 1, 63, 2, 1}, {{{1, 0, 0}}, 0, 0, 1, 0}, {{{1, 0, 0}}, 1, 63, 1, 0},
    };
}

Bytes ProgressiveImage(std::uint16_t width, std::uint16_t height, int components, std::uint16_t restart) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).DqtAnnexK(75);
    b.Dht(0, 0, annex_k::kDcLuminance).Dht(0, 1, annex_k::kDcChrominance).Dht(1, 0, ProgressiveAcSpec());
    b.Dht(1, 1, ProgressiveAcSpec());
    if (components == 1)
        b.Sof(0xC2, width, height, {{1, 1, 1, 0}});
    else
        b.Sof(0xC2, width, height, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}});
    if (restart > 0) b.Dri(restart);
    for (const ProgressiveScan& scan : ProgressiveScript(components))
        b.Sos(scan.components, scan.ss, scan.se, scan.ah, scan.al).ProgressiveScanData();
    return b.Eoi().Data();
}

Bytes BaselineImage(std::uint16_t width, std::uint16_t height, int components, int quality) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).DqtAnnexK(quality).DhtAnnexK();
    if (components == 1) {
        b.Sof(0xC0, width, height, {{1, 1, 1, 0}}).Sos({{1, 0, 0}});
    } else {
        b.Sof(0xC0, width, height, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}).Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}});
    }
    return b.SequentialScanData().Eoi().Data();
}

}  // namespace jpeg_fixture

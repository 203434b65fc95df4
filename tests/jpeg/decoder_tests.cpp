// The entropy-coded data: scans of every kind made by the fixture builder, the result codes,
// percentages and counters they give, damaged data, and the same results whichever way the
// bytes are fetched.
#include "parse_helpers.h"
#include "tool_files.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

namespace {

using namespace jpeg_fixture;

// What a parse leaves that callers read.
struct Outcome {
    int result = -1;
    int percent = -1;
    std::uint64_t position = 0;
    int scans = 0;
    bool damage = false;
    std::int32_t height = 0;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "{result " << o.result << ", " << o.percent << "%, position " << o.position << ", scans " << o.scans
               << (o.damage ? ", damage" : "") << ", height " << o.height << "}";
}

// How the parser gets its bytes: through a read buffer of some size, straight from a memory
// stream without one, or one stream Read per byte (the reference: no fast path at all).
enum class Reading { Buffer1M, Buffer64, Buffer7, Buffer1, Memory, Plain };
constexpr Reading kReadings[] = {Reading::Buffer1M, Reading::Buffer64, Reading::Buffer7,
                                 Reading::Buffer1,  Reading::Memory,   Reading::Plain};

Outcome Decode(const Bytes& bytes, Reading reading = Reading::Buffer1M, std::uint16_t options = 0) {
    static constexpr std::uint32_t kSizes[] = {1 << 20, 64, 7, 1, 0, 0};
    TMemoryStream memory(bytes);
    PlainStream plain(memory);
    TkestBaseJpegParser parser(kSizes[static_cast<int>(reading)]);
    TStream& stream = reading == Reading::Plain ? static_cast<TStream&>(plain) : memory;
    Outcome o;
    o.result = parser.Parse(stream, options, 0);
    o.percent = parser.PercentRead();
    o.position = parser.Position;
    o.scans = parser.ScanCount;
    o.damage = parser.RestartDamage;
    o.height = parser.Height;
    return o;
}

// The offset of the first byte after the first scan header.
std::size_t ScanDataStart(const Bytes& bytes) {
    for (std::size_t i = 0; i + 3 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) return i + 2 + (std::size_t{bytes[i + 2]} << 8 | bytes[i + 3]);
    return bytes.size();
}

// The offset of the first marker 0xFF `code` at or after `from`.
std::size_t FindMarker(const Bytes& bytes, std::uint8_t code, std::size_t from = 0) {
    for (std::size_t i = from; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == code) return i;
    return bytes.size();
}

// One component of 8x8-block MCUs: `across` x `down` MCUs.
JpegBuilder GrayHeaders(int across, int down, std::uint16_t restart = 0) {
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK();
    b.Sof(0xC0, static_cast<std::uint16_t>(8 * across), static_cast<std::uint16_t>(8 * down), {{1, 1, 1, 0}});
    if (restart > 0) b.Dri(restart);
    b.Sos({{1, 0, 0}});
    return b;
}

// ---------------------------------------------------------------------------------------
// Sequential scans

TEST(Decoder, CompleteAndCutBaseline) {
    const Bytes image = BaselineImage(64, 48);
    const Outcome whole = Decode(image);
    EXPECT_EQ(whole, (Outcome{prOk, 100, image.size(), 1, false, 48}));

    const std::size_t data = ScanDataStart(image);
    const Outcome middle = Decode(Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>((data + image.size()) / 2)));
    EXPECT_EQ(middle.result, prEndOfData);
    EXPECT_GT(middle.percent, 0);
    EXPECT_LT(middle.percent, 100);

    const Outcome headers = Decode(Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(data)));
    EXPECT_EQ(headers.result, prEndOfData);
    EXPECT_EQ(headers.percent, 0);
    EXPECT_EQ(headers.scans, 1);
}

// T.81 F.1.2.3 and B.1.1.5: inside the data, 0xFF 0x00 is a data byte and any other code a
// marker; which markers end the scan how.
TEST(Decoder, MarkersInsideTheData) {
    const Bytes image = BaselineImage(64, 48);
    // Cut in the middle of the data, not between a data byte 0xFF and its 0x00.
    std::size_t middle = (ScanDataStart(image) + image.size()) / 2;
    while (image[middle - 1] == 0xFF) --middle;
    const Bytes cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(middle));
    struct Case {
        std::uint8_t code;
        int result;
    };
    for (const Case c : {Case{0xD9, prEarlyEnd}, Case{0xC4, prCorrupt}, Case{0xD0, prCorrupt}, Case{0xDC, prCorrupt},
                         Case{0xFF, prCorrupt}}) {
        const Outcome o = Decode(Concat({cut, {0xFF, c.code, 0xFF, 0xD9}}));
        EXPECT_EQ(o.result, c.result) << std::hex << int{c.code};
        EXPECT_GT(o.percent, 0);
        EXPECT_LT(o.percent, 100);
        EXPECT_EQ(o.position, cut.size() + 2) << "the marker is read, nothing after it";
    }
}

// A share of the image is at most all of it: decoded units count up to the units expected.
TEST(Decoder, ComponentNamedInTwoSequentialScansReadsAtMostAll) {
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 64, 64, {{1, 1, 1, 0}});
    b.Sos({{1, 0, 0}}).SequentialScanData().Sos({{1, 0, 0}});
    const std::size_t second = b.Size();
    b.SequentialScanData().Eoi();
    const Outcome o = Decode(b.Data());
    EXPECT_EQ(o.result, prOk);
    EXPECT_EQ(o.scans, 2);
    EXPECT_EQ(o.percent, 100);  // the second scan resets the expectation, not the count
    // Cut inside the second scan: its first half decoded again.
    const Outcome cut = Decode(b.Cut((second + b.Size()) / 2));
    EXPECT_EQ(cut.result, prEndOfData);
    EXPECT_EQ(cut.scans, 2);
    EXPECT_EQ(cut.percent, 100);
}

// ---------------------------------------------------------------------------------------
// Restart intervals (T.81 E.2.4, F.1.2.3)

TEST(Decoder, OneRestartMarkerMayFollowTheData) {
    // 8 MCUs in intervals of 2: RST0-RST2 inside the data, RST3 would be next.
    for (const auto& [code, result] : {std::pair<std::uint8_t, int>{0xD3, prOk}, {0xD5, prUnexpected}}) {
        JpegBuilder b = GrayHeaders(4, 2, 2);
        b.SequentialScanData().Marker(code).Eoi();
        const Outcome o = Decode(b.Data());
        EXPECT_EQ(o.result, result) << std::hex << int{code};
        EXPECT_EQ(o.percent, 100);
        EXPECT_FALSE(o.damage);
    }
}

TEST(Decoder, DamagedIntervalIsSkippedUpToTheNextRestartMarker) {
    // 16 MCUs in intervals of 4; the third MCU of the second interval cannot be decoded.
    JpegBuilder b = GrayHeaders(16, 1, 4);
    b.SequentialScanData(PatternBlock, 0, [](std::size_t, std::size_t block) { return block == 6; }).Eoi();
    for (Reading reading : kReadings) {
        const Outcome o = Decode(b.Data(), reading);
        EXPECT_EQ(o.result, prCorrupt);  // EOI after restart damage
        EXPECT_TRUE(o.damage);
        EXPECT_EQ(o.percent, 88);  // 4 + 2 + 8 of 16 MCUs: 87.5, half to even
        EXPECT_EQ(o.position, b.Size());
    }
}

TEST(Decoder, RestartMarkersOutOfOrderSkipTheIntervalsBetween) {
    // Intervals of 2 MCUs: I0 RST0 I1 RST1 I2 RST2 I3. Without "RST1 I2" the decoder meets
    // RST2 after I1, passes one interval and decodes I3 in its place.
    JpegBuilder b = GrayHeaders(8, 1, 2);
    b.SequentialScanData().Eoi();
    Bytes bytes = b.Data();
    const std::size_t rst1 = FindMarker(bytes, 0xD1, ScanDataStart(bytes));
    const std::size_t rst2 = FindMarker(bytes, 0xD2, rst1);
    ASSERT_LT(rst2, bytes.size());
    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(rst1), bytes.begin() + static_cast<std::ptrdiff_t>(rst2));
    const Outcome o = Decode(bytes);
    EXPECT_TRUE(o.damage);
    EXPECT_EQ(o.result, prCorrupt);
    EXPECT_EQ(o.percent, 75);
}

// Three scans, one per component, 8 blocks each in intervals of 2 MCUs: I0 RST0 I1 RST1 I2
// RST2 I3 per scan. Whichever interval of whichever scan is lost, by its data missing (its
// markers kept) or by its first block not decoding, the decoder passes that interval alone
// and decodes every later interval and scan in its place: 6 of the 8 units of one component.
TEST(Decoder, LostRestartIntervalStaysInItsScan) {
    const auto build = [](const DamageSource& damage) {
        JpegBuilder b;
        b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 32, 16, {{1, 1, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}).Dri(2);
        for (std::uint8_t id = 1; id <= 3; ++id) {
            b.Sos({{id, static_cast<std::uint8_t>(id > 1), static_cast<std::uint8_t>(id > 1)}});
            b.SequentialScanData(PatternBlock, 0, id == 1 ? damage : nullptr);
        }
        return b.Eoi();
    };
    const Bytes intact = build(nullptr).Data();
    ASSERT_EQ(Decode(intact), (Outcome{prOk, 100, intact.size(), 3, false, 16}));
    // Where each scan's data begins; each scan numbers its restart markers from RST0.
    std::array<std::size_t, 3> data{};
    for (std::size_t s = 0, at = 0; s < 3; ++s) {
        at = FindMarker(intact, 0xDA, at);
        data[s] = at + 2 + (std::size_t{intact[at + 2]} << 8 | intact[at + 3]);
        at = data[s];
    }
    for (int scan = 0; scan < 3; ++scan) {
        const auto restart = [&](int n) { return FindMarker(intact, static_cast<std::uint8_t>(0xD0 + n), data[scan]); };
        for (int interval = 0; interval < 4; ++interval) {
            // The interval's data, from the scan header or RSTn to RSTn+1 or the next marker.
            const std::size_t begin = interval == 0 ? data[scan] : restart(interval - 1) + 2;
            const std::size_t end = interval < 3 ? restart(interval) : FindMarker(intact, scan < 2 ? 0xDA : 0xD9, begin);
            Bytes missing = intact;
            missing.erase(missing.begin() + static_cast<std::ptrdiff_t>(begin),
                          missing.begin() + static_cast<std::ptrdiff_t>(end));
            // EOI where the last interval's data was is met inside the data: no restart is
            // lost there, the data ends.
            const bool eoiInside = scan == 2 && interval == 3;
            const std::string where = "scan " + std::to_string(scan) + ", interval " + std::to_string(interval);
            for (Reading reading : kReadings)
                EXPECT_EQ(Decode(missing, reading),
                          (Outcome{eoiInside ? prEarlyEnd : prCorrupt, 92, missing.size(), 3, !eoiInside, 16}))
                    << where << " missing, reading " << static_cast<int>(reading);
            if (scan > 0) continue;
            const Bytes undecodable =
                build([interval](std::size_t, std::size_t block) { return block == 2u * interval; }).Data();
            for (Reading reading : kReadings)
                EXPECT_EQ(Decode(undecodable, reading), (Outcome{prCorrupt, 92, undecodable.size(), 3, true, 16}))
                    << where << " undecodable, reading " << static_cast<int>(reading);
        }
    }
}

// A search for the next RSTn ends at any other marker: what follows it is the walk's again.
TEST(Decoder, RestartSearchStopsAtOtherMarkers) {
    // 8 MCUs in intervals of 2, the data cut where RST2 stood, then a COM segment and a
    // second scan of the component. The search starts after the third interval (complete),
    // or after its first MCU (undecodable).
    for (const bool undecodable : {false, true}) {
        JpegBuilder b = GrayHeaders(8, 1, 2);
        b.SequentialScanData(PatternBlock, 0,
                             [undecodable](std::size_t, std::size_t block) { return undecodable && block == 4; });
        Bytes bytes = b.Data();
        bytes.resize(FindMarker(bytes, 0xD2, ScanDataStart(bytes)));
        const Bytes again = GrayHeaders(8, 1, 2).SequentialScanData().Eoi().Data();
        const Bytes secondScan(again.begin() + static_cast<std::ptrdiff_t>(FindMarker(again, 0xDA)), again.end());
        bytes = Concat({bytes, JpegBuilder().Com("between").Data(), secondScan});
        for (Reading reading : kReadings) {
            const Outcome o = Decode(bytes, reading);
            EXPECT_EQ(o, (Outcome{prCorrupt, 100, bytes.size(), 2, true, 8}))
                << (undecodable ? "undecodable" : "complete") << ", reading " << static_cast<int>(reading);
        }
    }
}

TEST(Decoder, WithoutRestartSearchEveryRestartCountsAsDamage) {
    JpegBuilder b = GrayHeaders(8, 1, 2);
    b.SequentialScanData().Eoi();
    EXPECT_EQ(Decode(b.Data()), (Outcome{prOk, 100, b.Size(), 1, false, 8}));
    const Outcome o = Decode(b.Data(), Reading::Buffer1M, poNoRestartSearch);
    EXPECT_TRUE(o.damage);
    EXPECT_EQ(o.result, prCorrupt);
}

// ---------------------------------------------------------------------------------------
// Progressive scans (T.81 G.1.2)

TEST(Decoder, ProgressiveScansOfEveryKind) {
    struct Case {
        int components;
        std::uint16_t restart;
        int scans;
    };
    for (const Case c : {Case{3, 0, 10}, Case{1, 0, 6}, Case{3, 5, 10}, Case{1, 3, 6}}) {
        const Bytes image = ProgressiveImage(100, 60, c.components, c.restart);
        for (Reading reading : kReadings) {
            const Outcome o = Decode(image, reading);
            EXPECT_EQ(o, (Outcome{prOk, 100, image.size(), c.scans, false, 60}))
                << c.components << " components, restart " << c.restart << ", reading " << static_cast<int>(reading);
        }
    }
}

TEST(Decoder, CutProgressiveImageReadsPartly) {
    // The share counts the units of the scans begun: a cut inside a scan's data leaves it
    // below 100, a cut between two scans at 100 (nothing begun is missing). It can fall as
    // the cut moves on, since a new scan's units are all due at once.
    const Bytes image = ProgressiveImage(100, 60, 3);
    int inside = 0, between = 0;
    for (std::size_t cut = ScanDataStart(image) + 25; cut < image.size() - 2; cut += 25) {
        const Outcome o = Decode(Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut)));
        EXPECT_EQ(o.result, prEndOfData) << cut;
        EXPECT_LE(o.percent, 100) << cut;
        EXPECT_GT(o.percent, 0) << cut;
        ++(o.percent < 100 ? inside : between);
    }
    EXPECT_GT(inside, 3 * between);
}

TEST(Decoder, EndOfBandRunCoversBlocksWithoutBits) {
    // 64 blocks, no AC coefficient: the AC scan is one end-of-band run of 64 (EOB6 and six
    // bits), and the blocks after the first read nothing.
    const BlockSource dcOnly = [](std::size_t, std::size_t block) {
        Block b{};
        b[0] = static_cast<int>(block % 9);
        return b;
    };
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).Dht(0, 0, annex_k::kDcLuminance).Dht(1, 0, ProgressiveAcSpec());
    b.Sof(0xC2, 64, 64, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}, 0, 0, 0, 0).ProgressiveScanData(dcOnly);
    b.Sos({{1, 0, 0}}, 1, 63, 0, 0);
    const std::size_t acData = b.Size();
    b.ProgressiveScanData(dcOnly);
    const std::size_t acEnd = b.Size();
    b.Eoi();
    EXPECT_LE(acEnd - acData, 2u);
    EXPECT_EQ(Decode(b.Data()), (Outcome{prOk, 100, b.Size(), 2, false, 64}));
    // Without anything after the run's bits every block is still decoded; the walk then
    // meets the end of the data.
    const Outcome cut = Decode(b.Cut(acEnd));
    EXPECT_EQ(cut.result, prEndOfData);
    EXPECT_EQ(cut.percent, 100);
}

// ---------------------------------------------------------------------------------------
// DNL (T.81 B.2.5): the height after the first scan

TEST(Decoder, HeightFromDnl) {
    for (int restart : {0, 2}) {
        JpegBuilder b;
        b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 32, 0, {{1, 1, 1, 0}});
        if (restart > 0) b.Dri(static_cast<std::uint16_t>(restart));
        b.Sos({{1, 0, 0}}).SequentialScanData(PatternBlock, 24).Dnl(24).Eoi();
        for (Reading reading : kReadings) {
            const Outcome o = Decode(b.Data(), reading);
            // Restart markers at the end of each interval are ordinary restarts.
            EXPECT_EQ(o, (Outcome{prOk, 100, b.Size(), 1, false, 24})) << "restart " << restart;
        }
    }
    // A progressive frame: DNL after its first scan, the later scans know the height.
    JpegBuilder p;
    p.Soi().DqtAnnexK(75).Dht(0, 0, annex_k::kDcLuminance).Dht(1, 0, ProgressiveAcSpec());
    p.Sof(0xC2, 40, 0, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}, 0, 0, 0, 1).ProgressiveScanData(PatternBlock, 20).Dnl(20);
    p.Sos({{1, 0, 0}}, 1, 63, 0, 1).ProgressiveScanData(PatternBlock, 20);
    p.Sos({{1, 0, 0}}, 0, 0, 1, 0).ProgressiveScanData(PatternBlock, 20);
    p.Sos({{1, 0, 0}}, 1, 63, 1, 0).ProgressiveScanData(PatternBlock, 20).Eoi();
    EXPECT_EQ(Decode(p.Data()), (Outcome{prOk, 100, p.Size(), 4, false, 20}));
}

// A DNL height below the rows the data already reached cuts the units expected below those
// decoded; the share stays at all of the image.
TEST(Decoder, DnlBelowTheRowsDecodedReadsAtMostAll) {
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 32, 0, {{1, 1, 1, 0}});
    b.Sos({{1, 0, 0}}).SequentialScanData(PatternBlock, 24).Dnl(8);
    for (Reading reading : kReadings)
        EXPECT_EQ(Decode(b.Data(), reading), (Outcome{prEndOfData, 100, b.Size(), 1, false, 8}))
            << static_cast<int>(reading);
}

TEST(Decoder, DnlWithAnotherLengthIsCorrupt) {
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 32, 0, {{1, 1, 1, 0}});
    b.Sos({{1, 0, 0}}).SequentialScanData(PatternBlock, 24).SegmentWithLength(0xDC, 5, {0x00, 0x18, 0x00}).Eoi();
    EXPECT_EQ(Decode(b.Data()).result, prCorrupt);
}

// ---------------------------------------------------------------------------------------
// Tables

// T.81 C: codes are assigned shortest first; a table whose codes of some length do not fit
// in that many bits has no decoding. Building its lookup must not write past the table.
TEST(Decoder, OversubscribedHuffmanTableIsCorrupt) {
    struct Case {
        const char* name;
        std::array<std::uint8_t, 16> counts;
        int result;
    };
    const Case cases[] = {
        {"three codes of one bit", {3}, prCorrupt},
        {"two of one bit, then one of two", {2, 1}, prCorrupt},
        {"one of one bit, then three of two", {1, 3}, prCorrupt},
        {"two of one bit: the all-ones code is used, but the codes fit", {2}, prOk},
    };
    for (const Case& c : cases) {
        annex_k::HuffmanSpec dc{};
        dc.Counts = c.counts;
        for (std::size_t i = 0; i < 256; ++i) dc.SymbolStore[i] = static_cast<std::uint8_t>(i % 12);
        JpegBuilder b;
        b.Soi().DqtAnnexK(75).Dht(0, 0, dc).Dht(1, 0, annex_k::kAcLuminance).Sof(0xC0, 8, 8, {{1, 1, 1, 0}});
        b.Sos({{1, 0, 0}});
        const std::size_t data = b.Size();
        if (c.result == prOk)
            b.SequentialScanData([](std::size_t, std::size_t) { return Block{}; });
        else
            b.Raw({0x00, 0x00});
        b.Eoi();
        const Outcome o = Decode(b.Data());
        EXPECT_EQ(o.result, c.result) << c.name;
        if (c.result == prCorrupt) {
            EXPECT_EQ(o.position, data) << c.name << ": refused before any data";
        }
    }
}

TEST(Decoder, TableWithoutCodesIsCorrupt) {
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).Dht(0, 0, annex_k::HuffmanSpec{}).Dht(1, 0, annex_k::kAcLuminance);
    b.Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}).Raw({0x00, 0x00}).Eoi();
    EXPECT_EQ(Decode(b.Data()).result, prCorrupt);
}

TEST(Decoder, ScanNeedsItsQuantizationTable) {
    JpegBuilder b;
    b.Soi().Dqt(0, ScaledAnnexK(false, 50)).DhtAnnexK().Sof(0xC0, 8, 8, {{1, 1, 1, 1}}).Sos({{1, 0, 0}});
    b.SequentialScanData().Eoi();
    EXPECT_EQ(Decode(b.Data()).result, prCorrupt);
}

// ---------------------------------------------------------------------------------------
// Coefficient maps

TEST(CoefficientMaps, ResizingKeepsTheSharedBlocks) {
    TkestMCUs map;
    map.Setup({3, 2, 8, 8, 1, 1, 8, 8, 1, 1}, kCoefficientMapLimit);
    EXPECT_EQ(map.Columns(), 3);
    EXPECT_EQ(map.Rows(), 2);
    map.GetRealValue(2, 1) = 7;
    map.GetRealValue(1, 1) = 5;
    // An interleaved scan of the same component: 2x2 blocks per MCU.
    map.Setup({2, 1, 16, 16, 2, 2, 8, 8, 1, 1}, kCoefficientMapLimit);
    EXPECT_EQ(map.Columns(), 4);
    EXPECT_EQ(map.GetRealValue(2, 1), 7u);
    EXPECT_EQ(map.GetValue(1, 0, 3), 0u);
    EXPECT_EQ(map.GetValue(0, 0, 3), 5u);
    map.SetColumns(2);
    map.SetColumns(3);
    EXPECT_EQ(map.GetRealValue(2, 1), 0u) << "a column dropped comes back as zeros";
    EXPECT_EQ(map.GetRealValue(1, 1), 5u);
    map.SetRows(0);
    EXPECT_EQ(map.DataSize(), 0u);
    EXPECT_THROW(map.SetMcuRows(1000, 1000), std::bad_alloc);
}

// A progressive frame whose maps would not fit is refused as an allocation would be, before
// anything is allocated: 65,535 x 65,535 with three full-size components needs 1.5 GiB.
TEST(CoefficientMaps, FrameOverTheLimitFailsLikeAnAllocation) {
    EXPECT_EQ(kCoefficientMapLimit, sizeof(void*) >= 8 ? 512u << 20 : 64u << 20);
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).Dht(0, 0, annex_k::kDcLuminance);
    b.Sof(0xC2, 65535, 65535, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
    b.Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, 0, 0, 0, 0).Raw({0x00}).Eoi();
    TMemoryStream stream(b.Data());
    TkestBaseJpegParser parser(65536);
    EXPECT_THROW(parser.Parse(stream, 0, 0), std::bad_alloc);
    // A sequential frame of that size keeps nothing and simply meets the end of its data.
    JpegBuilder s;
    s.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 65535, 65535, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}).Raw({0x00}).Eoi();
    EXPECT_EQ(Decode(s.Data()).result, prEarlyEnd);
}

// ---------------------------------------------------------------------------------------
// The share read

TEST(PercentRead, MeanOfTheComponentsRoundedHalfToEven) {
    struct Case {
        std::vector<std::pair<std::int64_t, std::int64_t>> units;  // decoded, expected
        int percent;
    };
    const Case cases[] = {
        {{{8, 8}}, 100},
        {{{1, 8}}, 12},                    // 12.5
        {{{3, 8}}, 38},                    // 37.5
        {{{199, 200}}, 99},                // 99.5 rounds to 100, but a unit is missing
        {{{1, 1000}}, 1},                  // 0.1: something decoded
        {{{0, 8}}, 0},
        {{{8, 8}, {0, 8}}, 50},            // a component without units counts 0
        {{{8, 8}, {8, 0}}, 50},            // nor does one without expectation
        {{{16, 8}}, 100},                  // no more than all of it
        {{{24, 8}, {4, 8}}, 75},           // 100 and 50
        {{{4000000000, 4000000001}}, 99},  // 64-bit counters
    };
    for (const Case& c : cases) {
        TkestBaseJpegParser parser(0);
        parser.FrameSeen = true;
        parser.ComponentCount = static_cast<std::int32_t>(c.units.size());
        for (std::size_t i = 0; i < c.units.size(); ++i) {
            parser.FrameComponents[i].UnitsDecoded = c.units[i].first;
            parser.FrameComponents[i].UnitsExpected = c.units[i].second;
        }
        EXPECT_EQ(parser.PercentRead(), c.percent) << c.units[0].first << "/" << c.units[0].second;
    }
    TkestBaseJpegParser none(0);
    EXPECT_EQ(none.PercentRead(), 0);
}

// ---------------------------------------------------------------------------------------
// Arithmetic coding: DAC is accepted after an arithmetic frame header only. The scan
// header's band 0..63 is not one a progressive scan may code.

TEST(Decoder, DacOnlyAfterAnArithmeticFrameHeader) {
    const Bytes dac = {0x00, 0x10};  // T.81 B.2.4.3: Tc|Tb, Cs
    struct Case {
        std::uint8_t sof;
        bool dacFirst;
        int headers, full;
    };
    for (const Case c : {Case{0xC9, false, prOk, prOk}, Case{0xCA, false, prOk, prCorrupt},
                         Case{0xCF, false, prOk, prUnsupported}, Case{0xC9, true, prUnexpected, prUnexpected},
                         Case{0xC0, false, prUnexpected, prUnexpected}, Case{0xC2, false, prUnexpected, prUnexpected}}) {
        JpegBuilder b;
        b.Soi().DqtAnnexK(50);
        if (c.dacFirst) b.Segment(0xCC, dac);
        b.Sof(c.sof, 8, 8, {{1, 1, 1, 0}});
        if (!c.dacFirst) b.Segment(0xCC, dac);
        b.Sos({{1, 0, 0}}).Raw({0x00}).Eoi();
        EXPECT_EQ(Decode(b.Data(), Reading::Buffer1M, poHeadersOnly).result, c.headers) << std::hex << int{c.sof};
        EXPECT_EQ(Decode(b.Data()).result, c.full) << std::hex << int{c.sof};
    }
}

// ---------------------------------------------------------------------------------------
// Damaged data: never a crash or hang, and the same outcome whichever way bytes are fetched

Bytes Damaged(const Bytes& original, std::mt19937& random, int round) {
    Bytes bytes = original;
    const int edits = 1 + round % 6;
    const std::size_t data = ScanDataStart(original);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
        // Most edits in the entropy-coded data, some anywhere.
        const std::size_t from = random() % 4 ? std::min(data, bytes.size() - 1) : 0;
        const std::size_t at = from + random() % (bytes.size() - from);
        switch (random() % 6) {
            case 0: bytes[at] = static_cast<std::uint8_t>(random()); break;
            case 1: bytes[at] ^= static_cast<std::uint8_t>(1u << (random() % 8)); break;
            case 2: bytes[at] = 0xFF; break;
            case 3: bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at)); break;
            case 4: bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), {0xFF, static_cast<std::uint8_t>(0xD0 + random() % 10)}); break;
            default: bytes.resize(at + 1); break;
        }
    }
    return bytes;
}

TEST(Decoder, DamagedDataGivesTheSameOutcomeWhateverTheReading) {
    JpegBuilder dnl;
    dnl.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 48, 0, {{1, 1, 1, 0}}).Dri(3);
    dnl.Sos({{1, 0, 0}}).SequentialScanData(PatternBlock, 40).Dnl(40).Eoi();
    JpegBuilder restart = GrayHeaders(12, 3, 4);
    restart.SequentialScanData().Eoi();
    // Damage in one scan of several with restart intervals, and the searches it starts.
    JpegBuilder scans;
    scans.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 40, 16, {{1, 2, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}).Dri(3);
    for (std::uint8_t id = 1; id <= 3; ++id)
        scans.Sos({{id, static_cast<std::uint8_t>(id > 1), static_cast<std::uint8_t>(id > 1)}}).SequentialScanData();
    scans.Eoi();
    // The larger baseline image has enough blocks for the fast path's whole-coefficient
    // tables; the small ones are decoded symbol by symbol.
    const Bytes originals[] = {BaselineImage(48, 32),          BaselineImage(256, 176),     restart.Data(),
                               ProgressiveImage(48, 32, 3, 2), ProgressiveImage(40, 24, 1), dnl.Data(),
                               scans.Data()};
    std::mt19937 random(20240611);
    int differentResults = 0;
    for (const Bytes& original : originals) {
        for (int round = 0; round < 400; ++round) {
            const Bytes bytes = Damaged(original, random, round);
            const Outcome reference = Decode(bytes, Reading::Plain);
            EXPECT_TRUE(reference.result == prOk || reference.result == prEndOfData || reference.result == prEarlyEnd ||
                        reference.result == prUnexpected || reference.result == prUnsupported ||
                        reference.result == prCorrupt)
                << reference;
            EXPECT_LE(reference.position, bytes.size());
            EXPECT_GE(reference.percent, 0);
            for (Reading reading : kReadings)
                ASSERT_EQ(Decode(bytes, reading), reference) << "reading " << static_cast<int>(reading) << ", round " << round;
            if (reference.result != prOk) ++differentResults;
        }
    }
    EXPECT_GT(differentResults, 1000);
}

// Real encoders' streams: every reading gives the same outcome, a complete decoding with
// one scan per SOS marker.
TEST(ToolFiles, EveryReadingDecodesRealStreamsAlike) {
    SKIP_WITHOUT_TOOL("cjpeg");
    int files = 0;
    for (const char* folder : {"process", "decode"}) {
        for (const auto& entry : std::filesystem::directory_iterator(ToolDir() / folder)) {
            const Bytes bytes = ReadFile(entry.path());
            const std::string name = entry.path().filename().string();
            const Outcome reference = Decode(bytes, Reading::Plain);
            for (Reading reading : kReadings)
                EXPECT_EQ(Decode(bytes, reading), reference) << name << ", reading " << static_cast<int>(reading);
            int sos = 0;
            for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
                if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) ++sos;
            EXPECT_EQ(reference, (Outcome{prOk, 100, bytes.size(), sos, false, reference.height})) << name;
            ++files;
        }
    }
    EXPECT_GT(files, 15);
}

// Arithmetic-coded copies of Huffman-coded files (jpegtran -arithmetic): whole, the same
// outcome as the original; cut anywhere in the data, the end of data with a share read that
// grows with the cut (within a scan) and stays below 100; a byte of the data changed, damage.
TEST(ToolFiles, ArithmeticCodingReadsLikeTheHuffmanOriginal) {
    SKIP_WITHOUT_TOOL("jpegtran");
    const std::pair<const char*, const char*> pairs[] = {
        {"picture-arithmetic.jpg", "picture.jpg"},
        {"picture-arithmetic-progressive.jpg", "picture-transcoded-progressive.jpg"},
        {"picture-arithmetic-restart.jpg", "picture.jpg"},
        {"picture-arithmetic-progressive-restart.jpg", "picture-progressive.jpg"},
        {"picture-arithmetic-gray.jpg", "picture-gray-progressive.jpg"},
        {"picture-arithmetic-420-progressive.jpg", "picture-progressive.jpg"},
    };
    for (const auto& [name, original] : pairs) {
        SCOPED_TRACE(name);
        const Bytes bytes = ReadFile(ToolDir() / "decode" / name);
        const Outcome huffman = Decode(ReadFile(ToolDir() / "decode" / original));
        const Outcome whole = Decode(bytes);
        EXPECT_EQ(whole, (Outcome{prOk, 100, bytes.size(), whole.scans, false, huffman.height}));
        int sos = 0;
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
            if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) ++sos;
        EXPECT_EQ(whole.scans, sos);
        // The grey and 4:2:0 files are recoded from another script or another sampling.
        if (std::string(name).find("gray") == std::string::npos && std::string(name).find("420") == std::string::npos) {
            EXPECT_EQ(whole.scans, huffman.scans);
        }

        const std::size_t data = ScanDataStart(bytes);
        // A progressive frame expects the units of each scan begun, so the share falls where
        // a cut passes into another scan, as with Huffman coding; within a scan it grows.
        int last = 0, lastScans = 0;
        for (int step = 1; step < 40; ++step) {
            const std::size_t cut = data + (bytes.size() - 2 - data) * static_cast<std::size_t>(step) / 40;
            const Outcome o = Decode(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
            EXPECT_EQ(o.result, prEndOfData) << cut;
            if (o.scans == lastScans) {
                EXPECT_GE(o.percent, last) << cut;
            }
            EXPECT_GT(o.percent, 0) << cut;
            EXPECT_LT(o.percent, 100) << cut;
            last = o.percent;
            lastScans = o.scans;
        }

        Bytes changed = bytes;
        std::size_t at = data + (bytes.size() - data) / 3;
        while (changed[at] == 0xFF || changed[at - 1] == 0xFF || changed[at + 1] == 0xFF) ++at;
        changed[at] ^= 0x5A;
        EXPECT_EQ(Decode(changed).result, prCorrupt) << at;
    }
}

}  // namespace

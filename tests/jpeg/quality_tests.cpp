// The quality estimate, the collected DQT bytes, and the Annex K tables checked against the
// tables cjpeg writes.
#include "parse_helpers.h"
#include "tool_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

using namespace jpeg_fixture;

namespace {

using Table = std::array<std::uint16_t, 64>;

const std::vector<FrameComponent> kYcc = {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}};
const std::vector<ScanComponent> kYccScan = {{1, 0, 0}, {2, 1, 1}, {3, 1, 1}};

// Headers with the given tables (0 and 1) and one scan header over `scan`.
int QualityOf(const Table& luminance, const Table& chrominance, std::uint8_t sof = 0xC0,
              const std::vector<ScanComponent>& scan = kYccScan, bool sixteenBit = false) {
    JpegBuilder b;
    b.Soi().Dqt(0, luminance, sixteenBit).Dqt(1, chrominance, sixteenBit).DhtAnnexK().Sof(sof, 16, 16, kYcc);
    b.Sos(scan, 0, sof == 0xC2 ? 0 : 63);
    TkestBaseJpegParser parser(0);
    EXPECT_EQ(ParseBytes(parser, b.Data()), prOk);
    EXPECT_TRUE(parser.QualityDone);
    return parser.Quality;
}

Table Natural(const std::array<std::uint8_t, 64>& natural) {
    Table zigzag{};
    for (std::size_t j = 0; j < 64; ++j) zigzag[annex_k::kZigzagOrder[j]] = natural[j];
    return zigzag;
}

Table Filled(std::uint16_t v) {
    Table t;
    t.fill(v);
    return t;
}

TEST(Quality, ScaledAnnexKTablesGiveTheirQuality) {
    for (int q : {25, 50, 75, 90, 95, 100})
        EXPECT_EQ(QualityOf(ScaledAnnexK(false, q), ScaledAnnexK(true, q)), q) << "Q " << q;
    // Entries clamped at 255 raise the estimate.
    EXPECT_EQ(QualityOf(ScaledAnnexK(false, 10), ScaledAnnexK(true, 10)), 15);
}

TEST(Quality, ReferenceTablesGive50AndOnesGive100) {
    EXPECT_EQ(QualityOf(Natural(annex_k::kLuminanceQuant), Natural(annex_k::kChrominanceQuant)), 50);
    EXPECT_EQ(QualityOf(Filled(1), Filled(1)), 100);
}

TEST(Quality, SixteenBitTablesAreReadMostSignificantByteFirst) {
    EXPECT_EQ(QualityOf(Natural(annex_k::kLuminanceQuant), Natural(annex_k::kChrominanceQuant), 0xC1, kYccScan, true),
              50);
    EXPECT_EQ(QualityOf(Filled(1), Filled(1), 0xC1, kYccScan, true), 100);
}

TEST(Quality, ZeroEntryContributes999) {
    Table t = Natural(annex_k::kLuminanceQuant);
    t[0] = 0;
    // Average 100 + (999 - 100) / 64, above 100: the estimate is 5000 / average = 43.8.
    EXPECT_EQ(QualityOf(t, t, 0xC0, {{1, 0, 0}}), 44);
}

TEST(Quality, EachScanComponentCountsOnce) {
    const Table fifty = Natural(annex_k::kLuminanceQuant);
    // Table 1 (all ones, 100) serves two components: (50 + 100 + 100) / 3.
    EXPECT_EQ(QualityOf(fifty, Filled(1)), 83);
    EXPECT_EQ(QualityOf(fifty, Filled(1), 0xC0, {{1, 0, 0}, {2, 1, 1}}), 75);
    // A first scan with one component estimates from that component's table alone.
    EXPECT_EQ(QualityOf(fifty, Filled(1), 0xC2, {{2, 1, 1}}), 100);
    EXPECT_EQ(QualityOf(fifty, Filled(1), 0xC2, {{1, 0, 0}}), 50);
}

TEST(Quality, ChrominanceReferenceForIdentifiersOneToThree) {
    JpegBuilder b;
    b.Soi().Dqt(3, Natural(annex_k::kChrominanceQuant)).DhtAnnexK().Sof(0xC0, 8, 8, {{1, 1, 1, 3}}).Sos({{1, 0, 0}});
    TkestBaseJpegParser parser(0);
    ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
    EXPECT_EQ(parser.Quality, 50);
}

TEST(Quality, NoEstimateWithoutTablesOrForOtherProcesses) {
    const Table t = ScaledAnnexK(false, 75);
    for (int sof : {0xC3, 0xC9, 0xCA, 0xC5}) EXPECT_EQ(QualityOf(t, t, static_cast<std::uint8_t>(sof)), 0) << sof;
    struct Case {
        std::uint8_t quantTable;
        const char* what;
    };
    for (const Case& c : {Case{2, "undefined table"}, Case{4, "selector above 3"}}) {
        JpegBuilder b;
        b.Soi().Dqt(0, t).DhtAnnexK().Sof(0xC0, 8, 8, {{1, 1, 1, c.quantTable}}).Sos({{1, 0, 0}});
        TkestBaseJpegParser parser(0);
        ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
        EXPECT_EQ(parser.Quality, 0) << c.what;
    }
}

TEST(Quality, OnlyTheFirstScanCounts) {
    JpegBuilder b;
    b.Soi().Dqt(0, Natural(annex_k::kLuminanceQuant)).Dqt(1, Filled(1)).DhtAnnexK().Sof(0xC0, 16, 16, kYcc);
    b.Sos({{1, 0, 0}}).SequentialScanData().Sos({{2, 1, 1}}).SequentialScanData().Eoi();
    TkestBaseJpegParser parser(0);
    ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
    EXPECT_EQ(parser.Quality, 50);
}

TEST(Quality, TablesOfAnEarlierParseAreNotReused) {
    TkestBaseJpegParser parser(0);
    JpegBuilder first;
    first.Soi().Dqt(0, Filled(1)).DhtAnnexK().Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).Sos({{1, 0, 0}});
    ASSERT_EQ(ParseBytes(parser, first.Data()), prOk);
    EXPECT_EQ(parser.Quality, 100);
    JpegBuilder second;
    second.Soi().Dqt(0, Natural(annex_k::kLuminanceQuant)).DhtAnnexK().Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).Sos({{1, 0, 0}});
    ASSERT_EQ(ParseBytes(parser, second.Data()), prOk);
    EXPECT_EQ(parser.Quality, 50);
}

TEST(Quality, RoundingHalvesToEven) {
    const std::pair<double, double> cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {2.49, 2}, {2.51, 3}, {83.3, 83}, {100, 100}};
    for (const auto& [value, rounded] : cases) EXPECT_EQ(RoundHalfEven(value), rounded) << value;
}

TEST(QuantTableData, PayloadsInStreamOrder) {
    JpegBuilder b;
    b.Soi().Dqt(1, Filled(7)).Dqt(0, Filled(9), true).DhtAnnexK().Sof(0xC1, 8, 8, {{1, 1, 1, 0}}).Sos({{1, 0, 0}});
    TkestBaseJpegParser parser(0);
    ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
    Bytes expected{0x01};
    expected.resize(65, 7);
    expected.push_back(0x10);
    for (int i = 0; i < 64; ++i) expected.insert(expected.end(), {0, 9});
    EXPECT_EQ(parser.QuantTableData, expected);
    EXPECT_EQ(parser.QuantTableDataLength(), 65u + 129u);
}

// ---------------------------------------------------------------------------------------
// Against cjpeg

// DQT and DHT payloads before the first scan, found by a plain segment walk.
std::map<std::uint8_t, std::vector<Bytes>> TableSegments(const Bytes& file) {
    std::map<std::uint8_t, std::vector<Bytes>> segments;
    std::size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xDA) {
        const std::size_t length = std::size_t{file[at + 2]} << 8 | file[at + 3];
        if (at + 2 + length > file.size()) break;
        segments[file[at + 1]].emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                            file.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
        at += 2 + length;
    }
    return segments;
}

TEST(AnnexK, QuantizationTablesMatchCjpegAtQuality50) {
    SKIP_WITHOUT_TOOL("cjpeg");
    const auto segments = TableSegments(ReadFile(ToolDir() / "q" / "color-50.jpg"));
    ASSERT_EQ(segments.count(0xDB), 1u);
    Bytes tables;
    for (const Bytes& s : segments.at(0xDB)) tables.insert(tables.end(), s.begin(), s.end());
    ASSERT_EQ(tables.size(), 130u);
    for (std::size_t t = 0; t < 2; ++t) {
        EXPECT_EQ(tables[t * 65], t);
        const auto& reference = t == 0 ? annex_k::kLuminanceQuant : annex_k::kChrominanceQuant;
        for (std::size_t j = 0; j < 64; ++j)
            EXPECT_EQ(tables[t * 65 + 1 + annex_k::kZigzagOrder[j]], reference[j]) << "table " << t << " position " << j;
    }
}

TEST(AnnexK, HuffmanTablesMatchCjpegWithoutOptimisation) {
    SKIP_WITHOUT_TOOL("cjpeg");
    const auto segments = TableSegments(ReadFile(ToolDir() / "process" / "baseline.jpg"));
    ASSERT_EQ(segments.count(0xC4), 1u);
    std::map<std::uint8_t, Bytes> byClassAndId;
    for (const Bytes& s : segments.at(0xC4)) byClassAndId[s[0]] = Bytes(s.begin() + 1, s.end());
    const std::pair<std::uint8_t, const annex_k::HuffmanSpec*> expected[] = {{0x00, &annex_k::kDcLuminance},
                                                                             {0x10, &annex_k::kAcLuminance},
                                                                             {0x01, &annex_k::kDcChrominance},
                                                                             {0x11, &annex_k::kAcChrominance}};
    for (const auto& [classAndId, spec] : expected) {
        Bytes ours(spec->Counts.begin(), spec->Counts.end());
        const auto symbols = spec->Symbols();
        ours.insert(ours.end(), symbols.begin(), symbols.end());
        EXPECT_EQ(byClassAndId[classAndId], ours) << "table " << int{classAndId};
    }
}

// The zigzag sequence maps natural positions one to one.
TEST(AnnexK, ZigzagOrdersAreInverse) {
    for (std::size_t k = 0; k < 64; ++k) EXPECT_EQ(annex_k::kZigzagOrder[annex_k::kNaturalOrder[k]], k);
    EXPECT_EQ(annex_k::kNaturalOrder[2], 8);
    EXPECT_EQ(annex_k::kNaturalOrder[63], 63);
}

// An independent model of the estimate over a table in natural order, to explain where the
// estimate of a cjpeg file differs from the quality it was made with.
double TableEstimate(const std::array<double, 64>& natural, bool chrominance) {
    const auto& reference = chrominance ? annex_k::kChrominanceQuant : annex_k::kLuminanceQuant;
    double sum = 0;
    bool ones = true;
    for (std::size_t j = 0; j < 64; ++j) {
        ones = ones && natural[j] == 1;
        sum += natural[j] == 0 ? 999 : natural[j] / reference[j] * 100;
    }
    const double average = sum / 64;
    return ones ? 100 : average <= 100 ? (200 - average) / 2 : 5000 / average;
}

struct Scaling {
    std::array<double, 64> exact{}, rounded{}, clamped{};
    bool clampedHigh = false, clampedLow = false;
};

// libjpeg's scaling (jpeg_quality_scaling, jpeg_add_quant_table): entries are clamped to
// 1..32767, or to 1..255 when the baseline is forced (cjpeg -baseline).
Scaling ScaleLikeLibjpeg(bool chrominance, int q, bool forceBaseline) {
    const auto& reference = chrominance ? annex_k::kChrominanceQuant : annex_k::kLuminanceQuant;
    const long scale = q < 50 ? 5000 / q : 200 - 2 * q;
    const double exactScale = q < 50 ? 5000.0 / q : 200.0 - 2 * q;
    const long highest = forceBaseline ? 255 : 32767;
    Scaling s;
    for (std::size_t j = 0; j < 64; ++j) {
        s.exact[j] = reference[j] * exactScale / 100;
        const long rounded = (reference[j] * scale + 50) / 100;
        s.rounded[j] = static_cast<double>(rounded);
        s.clamped[j] = static_cast<double>(std::clamp(rounded, 1L, highest));
        s.clampedHigh = s.clampedHigh || rounded > highest;
        s.clampedLow = s.clampedLow || rounded < 1;
    }
    return s;
}

struct SweepKind {
    const char* file;  // q/<file>-Q.jpg
    bool colour;
    bool forceBaseline;
};

// Our estimate of a cjpeg file made with quality q, checked against a model of the tables
// cjpeg writes; a difference from q is explained by its cause or the test fails.
int SweepEstimate(const SweepKind& kind, int q, std::string& reason) {
    const Scaling luminance = ScaleLikeLibjpeg(false, q, kind.forceBaseline);
    const Scaling chrominance = ScaleLikeLibjpeg(true, q, kind.forceBaseline);
    auto mean = [&](const std::array<double, 64> Scaling::*which) {
        const double y = TableEstimate(luminance.*which, false);
        return RoundHalfEven(kind.colour ? (y + 2 * TableEstimate(chrominance.*which, true)) / 3 : y);
    };
    const std::string name = std::string(kind.file) + "-" + std::to_string(q) + ".jpg";
    TkestBaseJpegParser parser(65536);
    EXPECT_EQ(ParseBytes(parser, ReadFile(ToolDir() / "q" / name)), prOk) << name;
    // The file holds libjpeg's scaled tables, in zigzag order.
    for (std::size_t j = 0; j < 64; ++j) {
        EXPECT_EQ(parser.QuantTables[0].Values[annex_k::kZigzagOrder[j]], luminance.clamped[j]) << name << " " << j;
        if (kind.colour) {
            EXPECT_EQ(parser.QuantTables[1].Values[annex_k::kZigzagOrder[j]], chrominance.clamped[j]) << name << " " << j;
        }
    }
    // Unrounded tables invert exactly (at Q = 100 they are all 0, which entries never are);
    // on the real tables the parser agrees with the model.
    if (q < 100) {
        EXPECT_EQ(mean(&Scaling::exact), q) << name;
    }
    EXPECT_EQ(parser.Quality, mean(&Scaling::clamped)) << name;
    reason.clear();
    if (parser.Quality == q) return parser.Quality;
    // Why it differs: the entries rounded to integers, then clamped.
    const bool clamped = luminance.clampedHigh || luminance.clampedLow ||
                         (kind.colour && (chrominance.clampedHigh || chrominance.clampedLow));
    const double roundedOnly = mean(&Scaling::rounded);
    if (roundedOnly != q) reason = "rounding";
    if (clamped && roundedOnly != parser.Quality) {
        if (!reason.empty()) reason += "+";
        reason += (luminance.clampedHigh || chrominance.clampedHigh) ? (kind.forceBaseline ? "clamp255" : "clamp32767")
                                                                     : "clamp1";
    }
    EXPECT_FALSE(reason.empty()) << name << ": a difference that neither rounding nor clamping explains";
    return parser.Quality;
}

TEST(QualitySweep, CjpegQualities1To100) {
    SKIP_WITHOUT_TOOL("cjpeg");
    const SweepKind kinds[] = {{"color", true, false}, {"gray", false, false}, {"baseline", true, true}};
    std::printf("  Q | colour         | grey           | colour -baseline\n");
    int differences = 0;
    std::map<std::string, int> byReason;
    for (int q = 1; q <= 100; ++q) {
        std::string line;
        bool differs = false;
        int estimates[3] = {};
        for (std::size_t k = 0; k < 3; ++k) {
            std::string reason;
            estimates[k] = SweepEstimate(kinds[k], q, reason);
            char cell[40];
            std::snprintf(cell, sizeof cell, " | %3d %-10s", estimates[k], reason.c_str());
            line += cell;
            if (!reason.empty()) {
                differs = true;
                ++differences;
                ++byReason[reason];
            }
        }
        if (differs) std::printf("%3d%s\n", q, line.c_str());
        // Where the scaling holds, the estimate is the quality; with entries clamped at 255
        // (the definition's Q = 10 example) it is 15.
        if (q == 25 || q == 50 || q == 75 || q == 90 || q == 95 || q == 100) {
            EXPECT_EQ(estimates[0], q);
            EXPECT_EQ(estimates[2], q);
        }
        if (q == 10) {
            EXPECT_EQ(estimates[2], 15);
        }
    }
    std::printf("%d of 300 estimates differ from Q (every other one equals it):", differences);
    for (const auto& [reason, count] : byReason) std::printf(" %s %d;", reason.c_str(), count);
    std::printf("\n");
}

}  // namespace

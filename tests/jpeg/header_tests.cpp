// Frame, table, restart and scan headers; the facts taken from APP segments; the colour model.
#include "parse_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace jpeg_fixture;
using namespace std::string_view_literals;

namespace {

// SOI, then the segments; a walk that accepts them all ends with the data (prEndOfData).
int ParseSegments(TkestBaseJpegParser& parser, const JpegBuilder& segments) {
    return ParseBytes(parser, Concat({Bytes{0xFF, 0xD8}, segments.Data()}));
}

struct SegmentCase {
    const char* name;
    Bytes payload;
    int expected;  // prEndOfData: accepted, the walk went on to the end of the data
};

std::string CaseName(const testing::TestParamInfo<SegmentCase>& info) { return info.param.name; }

// ---------------------------------------------------------------------------------------
// Frame header (T.81 B.2.2)

class FrameHeader : public testing::TestWithParam<SegmentCase> {};

TEST_P(FrameHeader, Validation) {
    TkestBaseJpegParser parser(0);
    JpegBuilder b;
    b.Segment(0xC0, GetParam().payload);
    EXPECT_EQ(ParseSegments(parser, b), GetParam().expected);
    EXPECT_EQ(parser.FrameSeen, GetParam().expected == prEndOfData);
    EXPECT_LE(parser.ComponentCount, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameHeader,
    testing::Values(SegmentCase{"ThreeComponents", {8, 0, 16, 0, 32, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}, prEndOfData},
                    SegmentCase{"SamplingEight", {8, 0, 16, 0, 32, 1, 1, 0x88, 0}, prEndOfData},
                    SegmentCase{"SamplingFour", {8, 0, 16, 0, 32, 1, 1, 0x41, 0}, prEndOfData},
                    SegmentCase{"SamplingThree", {8, 0, 16, 0, 32, 1, 1, 0x31, 0}, prCorrupt},
                    SegmentCase{"SamplingZero", {8, 0, 16, 0, 32, 1, 1, 0x10, 0}, prCorrupt},
                    SegmentCase{"HorizontalZero", {8, 0, 16, 0, 32, 1, 1, 0x01, 0}, prCorrupt},
                    SegmentCase{"HeightZero", {8, 0, 0, 0, 32, 1, 1, 0x11, 0}, prEndOfData},
                    SegmentCase{"WidthZero", {8, 0, 16, 0, 0, 1, 1, 0x11, 0}, prCorrupt},
                    SegmentCase{"NoComponents", {8, 0, 16, 0, 32, 0}, prCorrupt},
                    SegmentCase{"FiveComponents",
                                {8, 0, 16, 0, 32, 5, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0, 4, 0x11, 0, 5, 0x11, 0},
                                prCorrupt},
                    SegmentCase{"ComponentCut", {8, 0, 16, 0, 32, 2, 1, 0x11, 0, 2, 0x11}, prCorrupt},
                    SegmentCase{"ByteTooMany", {8, 0, 16, 0, 32, 1, 1, 0x11, 0, 0}, prCorrupt},
                    SegmentCase{"ShortPayload", {8, 0, 16, 0, 32}, prCorrupt}),
    CaseName);

TEST(FrameHeader, FieldsAreRecorded) {
    TkestBaseJpegParser parser(0);
    JpegBuilder b;
    b.Sof(0xC1, 33, 0, {{'R', 2, 1, 0}, {'G', 1, 2, 1}, {'B', 1, 1, 5}}, 12);
    ASSERT_EQ(ParseSegments(parser, b), prEndOfData);
    EXPECT_EQ(parser.FrameMarker, 0xC1);
    EXPECT_EQ(parser.Precision, 12);
    EXPECT_EQ(parser.Width, 33);
    EXPECT_EQ(parser.Height, 0);
    EXPECT_TRUE(parser.HeightPending);
    EXPECT_EQ(parser.ComponentCount, 3);
    EXPECT_EQ(parser.ComponentIds, "RGB");
    EXPECT_EQ(parser.MaxHSampling, 2);
    EXPECT_EQ(parser.MaxVSampling, 2);
    EXPECT_EQ(parser.FrameComponents[0].HSampling, 2);
    EXPECT_EQ(parser.FrameComponents[0].VSampling, 1);
    EXPECT_EQ(parser.FrameComponents[2].QuantTable, 5);
    EXPECT_FALSE(parser.KeepCoefficients);
}

TEST(FrameHeader, ProgressiveFramesKeepCoefficients) {
    TkestBaseJpegParser parser(0);
    JpegBuilder b;
    b.Sof(0xC2, 8, 8, {{1, 1, 1, 0}});
    ASSERT_EQ(ParseSegments(parser, b), prEndOfData);
    EXPECT_TRUE(parser.KeepCoefficients);
}

// ---------------------------------------------------------------------------------------
// Huffman tables (T.81 B.2.4.2)

Bytes TablePayload(std::uint8_t classAndId, const annex_k::HuffmanSpec& spec) {
    const auto symbols = spec.Symbols();
    Bytes p(1 + 16 + symbols.size());
    p[0] = classAndId;
    std::copy(spec.Counts.begin(), spec.Counts.end(), p.begin() + 1);
    std::copy(symbols.begin(), symbols.end(), p.begin() + 17);
    return p;
}

Bytes WithoutLastByte(Bytes bytes) {
    bytes.pop_back();
    return bytes;
}

Bytes TooManySymbols() {
    Bytes p{0x10};
    Bytes counts(16, 0);
    counts[14] = 2;
    counts[15] = 255;
    p.insert(p.end(), counts.begin(), counts.end());
    p.resize(p.size() + 257, 0x01);
    return p;
}

class HuffmanTables : public testing::TestWithParam<SegmentCase> {};

TEST_P(HuffmanTables, Validation) {
    TkestBaseJpegParser parser(0);
    JpegBuilder b;
    b.Segment(0xC4, GetParam().payload);
    EXPECT_EQ(ParseSegments(parser, b), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HuffmanTables,
    testing::Values(SegmentCase{"DcAndAc", Concat({TablePayload(0x00, annex_k::kDcLuminance),
                                                   TablePayload(0x13, annex_k::kAcChrominance)}),
                                prEndOfData},
                    SegmentCase{"ClassTwo", TablePayload(0x20, annex_k::kDcLuminance), prCorrupt},
                    SegmentCase{"IdentifierFour", TablePayload(0x04, annex_k::kDcLuminance), prCorrupt},
                    SegmentCase{"CountsCut", {0x00, 0, 1, 5}, prCorrupt},
                    SegmentCase{"SymbolsCut", WithoutLastByte(TablePayload(0x00, annex_k::kDcLuminance)), prCorrupt},
                    SegmentCase{"TooManySymbols", TooManySymbols(), prCorrupt},
                    SegmentCase{"Empty", {}, prEndOfData}),
    CaseName);

TEST(HuffmanTables, TwoTablesInOneSegmentAreBothDefined) {
    TkestBaseJpegParser parser(0);
    JpegBuilder b;
    b.Segment(0xC4, Concat({TablePayload(0x00, annex_k::kDcLuminance), TablePayload(0x13, annex_k::kAcChrominance)}));
    ASSERT_EQ(ParseSegments(parser, b), prEndOfData);
    EXPECT_TRUE(parser.DcTables[0].Defined);
    EXPECT_TRUE(parser.AcTables[3].Defined);
    EXPECT_FALSE(parser.AcTables[0].Defined);
    EXPECT_EQ(parser.DcTables[0].MinLength, 2);
    EXPECT_EQ(parser.AcTables[3].MinLength, 2);
    EXPECT_EQ(parser.AcTables[3].Counts[15], 119);
    EXPECT_EQ(parser.AcTables[3].Symbols[161], 0xFA);
}

TEST(HuffmanTables, TableWithoutCodesHasMinLength17) {
    TkestBaseJpegParser parser(0);
    JpegBuilder b;
    Bytes p{0x01};
    p.resize(17, 0);
    b.Segment(0xC4, p);
    ASSERT_EQ(ParseSegments(parser, b), prEndOfData);
    EXPECT_TRUE(parser.DcTables[1].Defined);
    EXPECT_EQ(parser.DcTables[1].MinLength, 17);
}

TEST(HuffmanTables, FailedRedefinitionLeavesTheTableUndefined) {
    TkestBaseJpegParser parser(0);
    JpegBuilder b;
    b.DhtAnnexK().Segment(0xC4, {0x00, 0, 1});
    ASSERT_EQ(ParseSegments(parser, b), prCorrupt);
    EXPECT_FALSE(parser.DcTables[0].Defined);
    EXPECT_TRUE(parser.DcTables[1].Defined);
}

// ---------------------------------------------------------------------------------------
// Quantization tables (T.81 B.2.4.1)

Bytes QuantPayload(std::uint8_t precisionAndId, std::size_t entryBytes) {
    Bytes p{precisionAndId};
    for (std::size_t i = 0; i < entryBytes; ++i) p.push_back(static_cast<std::uint8_t>(i + 1));
    return p;
}

class QuantTables : public testing::TestWithParam<SegmentCase> {};

TEST_P(QuantTables, Validation) {
    TkestBaseJpegParser parser(0);
    JpegBuilder b;
    b.Segment(0xDB, GetParam().payload);
    EXPECT_EQ(ParseSegments(parser, b), GetParam().expected);
    // The payload is collected whether or not it proves valid.
    EXPECT_EQ(parser.QuantTableData, GetParam().payload);
}

INSTANTIATE_TEST_SUITE_P(Cases, QuantTables,
                         testing::Values(SegmentCase{"EightBit", QuantPayload(0x00, 64), prEndOfData},
                                         SegmentCase{"SixteenBit", QuantPayload(0x13, 128), prEndOfData},
                                         SegmentCase{"TwoTables", Concat({QuantPayload(0x00, 64), QuantPayload(0x11, 128)}),
                                                     prEndOfData},
                                         SegmentCase{"SixteenBitCut", QuantPayload(0x10, 127), prCorrupt},
                                         SegmentCase{"EightBitCut", QuantPayload(0x00, 63), prCorrupt},
                                         SegmentCase{"PrecisionTwo", QuantPayload(0x20, 128), prCorrupt},
                                         SegmentCase{"IdentifierFour", QuantPayload(0x04, 64), prCorrupt}),
                         CaseName);

TEST(QuantTables, SixteenBitEntriesAreMostSignificantFirst) {
    TkestBaseJpegParser parser(0);
    JpegBuilder b;
    b.Segment(0xDB, QuantPayload(0x12, 128));
    ASSERT_EQ(ParseSegments(parser, b), prEndOfData);
    EXPECT_TRUE(parser.QuantTables[2].Defined);
    EXPECT_EQ(parser.QuantTables[2].Values[0], 0x0102);
    EXPECT_EQ(parser.QuantTables[2].Values[63], 0x7F80);
}

// ---------------------------------------------------------------------------------------
// Restart interval (T.81 B.2.4.4)

TEST(RestartInterval, ExactlyTwoBytes) {
    struct Case {
        Bytes payload;
        int result;
        int interval;
    };
    for (const Case& c : {Case{{0x01, 0x02}, prEndOfData, 0x0102}, Case{{0x00, 0x00}, prEndOfData, 0},
                          Case{{0x00, 0x04, 0x00, 0x00}, prCorrupt, 0}, Case{{0x04}, prCorrupt, 0}}) {
        TkestBaseJpegParser parser(0);
        JpegBuilder b;
        b.Segment(0xDD, c.payload);
        EXPECT_EQ(ParseSegments(parser, b), c.result);
        EXPECT_EQ(parser.RestartInterval, c.interval);
    }
}

TEST(RestartInterval, ZeroSwitchesRestartsOff) {
    TkestBaseJpegParser parser(0);
    JpegBuilder b;
    b.Dri(8).Dri(0);
    ASSERT_EQ(ParseSegments(parser, b), prEndOfData);
    EXPECT_EQ(parser.RestartInterval, 0);
}

// ---------------------------------------------------------------------------------------
// Scan header (T.81 B.2.3)

struct ScanCase {
    const char* name;
    std::uint8_t frameMarker;
    Bytes payload;
    int expected;  // prOk: accepted (headers only)
};

class ScanHeader : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanHeader, Validation) {
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).Dht(0, 0, annex_k::kDcLuminance).Dht(1, 0, annex_k::kAcLuminance);
    b.Sof(GetParam().frameMarker, 33, 17, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}});
    b.Segment(0xDA, GetParam().payload);
    TkestBaseJpegParser parser(0);
    EXPECT_EQ(ParseBytes(parser, b.Data()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanHeader,
    testing::Values(ScanCase{"Interleaved", 0xC0, {3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0}, prOk},
                    ScanCase{"SingleComponent", 0xC0, {1, 2, 0x00, 0, 63, 0}, prOk},
                    ScanCase{"UnknownComponent", 0xC0, {1, 4, 0x00, 0, 63, 0}, prCorrupt},
                    ScanCase{"NoComponents", 0xC0, {0, 0, 63, 0}, prCorrupt},
                    ScanCase{"FiveComponents", 0xC0, {5, 1, 0, 2, 0, 3, 0, 1, 0, 2, 0, 0, 63, 0}, prCorrupt},
                    ScanCase{"Empty", 0xC0, {}, prCorrupt},
                    ScanCase{"ComponentsCut", 0xC0, {2, 1, 0x00}, prCorrupt},
                    ScanCase{"TailCut", 0xC0, {1, 1, 0x00, 0, 63}, prCorrupt},
                    ScanCase{"ByteTooMany", 0xC0, {1, 1, 0x00, 0, 63, 0, 0}, prCorrupt},
                    ScanCase{"DcTableFour", 0xC2, {1, 1, 0x40, 0, 0, 0}, prCorrupt},
                    ScanCase{"AcTableFour", 0xC2, {1, 1, 0x04, 0, 0, 0}, prCorrupt},
                    ScanCase{"BaselineUndefinedDcTable", 0xC0, {1, 1, 0x10, 0, 63, 0}, prCorrupt},
                    ScanCase{"BaselineUndefinedAcTable", 0xC0, {1, 1, 0x01, 0, 63, 0}, prCorrupt},
                    ScanCase{"ExtendedUndefinedDcTable", 0xC1, {1, 1, 0x10, 0, 63, 0}, prCorrupt},
                    ScanCase{"ProgressiveUndefinedDcTable", 0xC2, {1, 1, 0x22, 0, 0, 0}, prOk},
                    ScanCase{"LosslessUndefinedTable", 0xC3, {1, 1, 0x22, 1, 0, 0}, prOk},
                    // Progressive limits (T.81 G.1.1.1.1); other processes get no such checks.
                    ScanCase{"ProgressiveDcFirst", 0xC2, {3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 0, 0x01}, prOk},
                    ScanCase{"ProgressiveDcRefine", 0xC2, {1, 1, 0x00, 0, 0, 0x10}, prOk},
                    ScanCase{"ProgressiveAcFirst", 0xC2, {1, 1, 0x00, 1, 5, 0x00}, prOk},
                    ScanCase{"ProgressiveAcTwoComponents", 0xC2, {2, 1, 0x00, 2, 0x00, 1, 5, 0}, prCorrupt},
                    ScanCase{"ProgressiveDcWithAc", 0xC2, {1, 1, 0x00, 0, 5, 0}, prCorrupt},
                    ScanCase{"ProgressiveSeZeroSsOne", 0xC2, {1, 1, 0x00, 1, 0, 0}, prCorrupt},
                    ScanCase{"ProgressiveSeBelowSs", 0xC2, {1, 1, 0x00, 6, 5, 0}, prCorrupt},
                    ScanCase{"ProgressiveSe64", 0xC2, {1, 1, 0x00, 1, 64, 0}, prCorrupt},
                    ScanCase{"ProgressiveAhTwoAlZero", 0xC2, {1, 1, 0x00, 1, 5, 0x20}, prCorrupt},
                    ScanCase{"ProgressiveAl14", 0xC2, {1, 1, 0x00, 1, 5, 0x0E}, prCorrupt},
                    ScanCase{"ProgressiveAl13", 0xC2, {1, 1, 0x00, 1, 5, 0x0D}, prOk},
                    ScanCase{"ProgressiveAh14Al13", 0xC2, {1, 1, 0x00, 1, 5, 0xED}, prCorrupt},
                    ScanCase{"BaselineSpectralUnchecked", 0xC0, {2, 1, 0x00, 2, 0x00, 1, 5, 0x20}, prOk}),
    [](const testing::TestParamInfo<ScanCase>& info) { return info.param.name; });

TEST(ScanHeader, InterleavedGeometry) {
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 33, 17, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}});
    b.Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}});
    TkestBaseJpegParser parser(0);
    ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
    EXPECT_EQ(parser.ScanComponentCount, 3);
    EXPECT_EQ(parser.McuWidth, 16);
    EXPECT_EQ(parser.McuHeight, 16);
    EXPECT_EQ(parser.McusPerRow, 3);
    EXPECT_EQ(parser.McuRows, 2);
    const TkestScanComponent& y = parser.ScanComponents[0];
    const TkestScanComponent& cr = parser.ScanComponents[2];
    EXPECT_EQ(y.BlockWidth, 8);
    EXPECT_EQ(y.BlocksAcross, 2);
    EXPECT_EQ(y.BlocksDown, 2);
    EXPECT_EQ(cr.BlockWidth, 16);
    EXPECT_EQ(cr.BlocksAcross, 1);
    EXPECT_EQ(cr.FrameIndex, 2);
    EXPECT_EQ(cr.QuantTable, 1);
    EXPECT_EQ(cr.DcTable, 1);
    EXPECT_EQ(cr.AcTable, 1);
    EXPECT_TRUE(parser.FrameComponents[2].Scanned);
}

TEST(ScanHeader, SingleComponentGeometryAndScannedMarks) {
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC2, 33, 17, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}});
    b.Sos({{2, 0, 1}}, 1, 63, 0, 0);
    TkestBaseJpegParser parser(0);
    ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
    EXPECT_EQ(parser.McuWidth, 16);
    EXPECT_EQ(parser.McuHeight, 16);
    EXPECT_EQ(parser.McusPerRow, 3);
    EXPECT_EQ(parser.McuRows, 2);
    EXPECT_EQ(parser.ScanComponents[0].BlocksAcross, 1);
    EXPECT_EQ(parser.SpectralStart, 1);
    EXPECT_EQ(parser.SpectralEnd, 63);
    EXPECT_FALSE(parser.FrameComponents[0].Scanned);
    EXPECT_TRUE(parser.FrameComponents[1].Scanned);
}

TEST(ScanHeader, PendingHeightGivesNoMcuRows) {
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 32, 0, {{1, 1, 1, 0}}).Sos({{1, 0, 0}});
    TkestBaseJpegParser parser(0);
    ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
    EXPECT_TRUE(parser.HeightPending);
    EXPECT_EQ(parser.McuRows, 0);
    EXPECT_EQ(parser.McusPerRow, 4);
}

// ---------------------------------------------------------------------------------------
// APP facts and the colour model

struct ColorCase {
    const char* name;
    std::vector<Bytes> apps;  // APPn segments: first byte is n, the rest the payload
    std::vector<FrameComponent> components;
    std::uint8_t expected;
    std::uint8_t preset = 0;
};

Bytes AppOf(int n, const Bytes& payload) { return Concat({Bytes{static_cast<std::uint8_t>(n)}, payload}); }

class ColorModel : public testing::TestWithParam<ColorCase> {};

TEST_P(ColorModel, Chosen) {
    JpegBuilder b;
    b.Soi();
    for (const Bytes& app : GetParam().apps) b.App(app[0], Bytes(app.begin() + 1, app.end()));
    b.Sof(0xC0, 16, 16, GetParam().components);
    TkestBaseJpegParser parser(0);
    ParseBytes(parser, b.Data(), poHeadersOnly, GetParam().preset);
    EXPECT_EQ(parser.ChooseColorModel(), GetParam().expected);
}

const std::vector<FrameComponent> kYcc420 = {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}};
const std::vector<FrameComponent> kRgb420 = {{'R', 2, 2, 0}, {'G', 1, 1, 1}, {'B', 1, 1, 1}};
const std::vector<FrameComponent> kFour420 = {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}, {4, 2, 2, 0}};
const std::vector<FrameComponent> kOther444 = {{7, 1, 1, 0}, {8, 1, 1, 1}, {9, 1, 1, 1}};
const std::vector<FrameComponent> kOther420 = {{7, 2, 2, 0}, {8, 1, 1, 1}, {9, 1, 1, 1}};
const std::vector<FrameComponent> kFourOther444 = {{7, 1, 1, 0}, {8, 1, 1, 1}, {9, 1, 1, 1}, {10, 1, 1, 0}};
const std::vector<FrameComponent> kFourOther420 = {{7, 2, 2, 0}, {8, 1, 1, 1}, {9, 1, 1, 1}, {10, 1, 1, 0}};

INSTANTIATE_TEST_SUITE_P(
    Cases, ColorModel,
    testing::Values(
        ColorCase{"OneComponent", {}, {{1, 1, 1, 0}}, cmGray},
        ColorCase{"TwoComponents", {}, {{1, 1, 1, 0}, {2, 1, 1, 0}}, cmGrayA},
        ColorCase{"Ids123", {}, kYcc420, cmYCbCr},
        ColorCase{"Ids012At444", {}, {{0, 1, 1, 0}, {1, 1, 1, 1}, {2, 1, 1, 1}}, cmYCbCr},
        ColorCase{"OtherIdsAt444", {}, kOther444, cmRGB},
        ColorCase{"OtherIdsSubsampled", {}, kOther420, cmYCbCr},
        ColorCase{"RgbIdsSubsampled", {}, kRgb420, cmRGB},
        ColorCase{"JfifWithRgbIds", {AppOf(0, JfifPayload())}, kRgb420, cmYCbCr},
        ColorCase{"JfifTooShort", {AppOf(0, Text("JFIF\0abcdefgh"sv))}, kRgb420, cmRGB},
        ColorCase{"JfifOnAppOne", {AppOf(1, JfifPayload())}, kRgb420, cmRGB},
        ColorCase{"YccIds", {}, {{'Y', 1, 1, 0}, {'C', 1, 1, 1}, {'c', 1, 1, 1}}, cmPhotoYCC},
        ColorCase{"Four1234", {}, kFour420, cmYCbCrA},
        ColorCase{"Four1234WithIcc", {AppOf(2, Text("ICC_PROFILE\0\1\1"sv))}, kFour420, cmYCbCrK},
        ColorCase{"FourRgba", {}, {{'R', 1, 1, 0}, {'G', 1, 1, 0}, {'B', 1, 1, 0}, {'A', 1, 1, 0}}, cmRGBA},
        ColorCase{"FourYcca", {}, {{'Y', 1, 1, 0}, {'C', 1, 1, 0}, {'c', 1, 1, 0}, {'A', 1, 1, 0}}, cmPhotoYCCA},
        ColorCase{"FourOtherAt444", {}, kFourOther444, cmCMYK},
        ColorCase{"FourOtherSubsampled", {}, kFourOther420, cmYCCK},
        ColorCase{"AdobeTransform0Three", {AppOf(14, AdobePayload(0))}, kYcc420, cmRGB},
        ColorCase{"AdobeTransform0Four", {AppOf(14, AdobePayload(0))}, kFour420, cmCMYK},
        ColorCase{"AdobeTransform0One", {AppOf(14, AdobePayload(0))}, {{1, 1, 1, 0}}, cmGray},
        ColorCase{"AdobeTransform1", {AppOf(14, AdobePayload(1))}, kOther444, cmYCbCr},
        ColorCase{"AdobeTransform2Three", {AppOf(14, AdobePayload(2))}, kYcc420, cmYCbCr},
        ColorCase{"AdobeTransform2Four", {AppOf(14, AdobePayload(2))}, kFourOther444, cmYCCK},
        ColorCase{"AdobeTransform7", {AppOf(14, AdobePayload(7))}, kOther444, cmYCbCr},
        // A colour model has as many components as the frame (libjpeg's jdapimin.c reads
        // the transform so): one component is grey whatever the transform, four are CMYK
        // or YCCK, and other counts leave the transform aside.
        ColorCase{"AdobeTransform1One", {AppOf(14, AdobePayload(1))}, {{1, 1, 1, 0}}, cmGray},
        ColorCase{"AdobeTransform2One", {AppOf(14, AdobePayload(2))}, {{1, 1, 1, 0}}, cmGray},
        ColorCase{"AdobeOneWithG3Fax", {AppOf(14, AdobePayload(1)), AppOf(1, Text("G3FAX\0\1"sv))}, {{1, 1, 1, 0}},
                  cmGray},
        ColorCase{"AdobeTransform1Four", {AppOf(14, AdobePayload(1))}, kFourOther444, cmYCCK},
        ColorCase{"AdobeTransform7Four", {AppOf(14, AdobePayload(7))}, kFourOther444, cmYCCK},
        ColorCase{"AdobeTransform0Two", {AppOf(14, AdobePayload(0))}, {{1, 1, 1, 0}, {2, 1, 1, 0}}, cmGrayA},
        ColorCase{"AdobeTransform1Two", {AppOf(14, AdobePayload(1))}, {{1, 1, 1, 0}, {2, 1, 1, 0}}, cmGrayA},
        ColorCase{"AdobeTransform2Two", {AppOf(14, AdobePayload(2))}, {{1, 1, 1, 0}, {2, 1, 1, 0}}, cmGrayA},
        ColorCase{"AdobeTwoWithG3Fax", {AppOf(14, AdobePayload(2)), AppOf(1, Text("G3FAX\0\1"sv))},
                  {{1, 1, 1, 0}, {2, 1, 1, 0}}, cmITUCieLAB},
        ColorCase{"AdobeThirteenBytes", {AppOf(14, Concat({AdobePayload(0), Bytes{0}}))}, kYcc420, cmYCbCr},
        ColorCase{"JfifBeforeAdobe", {AppOf(0, JfifPayload()), AppOf(14, AdobePayload(0))}, kOther444, cmYCbCr},
        ColorCase{"JfifFourComponentsAdobe", {AppOf(0, JfifPayload()), AppOf(14, AdobePayload(0))}, kFour420,
                  cmCMYK},
        ColorCase{"G3Fax", {AppOf(1, Text("G3FAX\0\1"sv))}, kYcc420, cmITUCieLAB},
        ColorCase{"G3FaxTooShort", {AppOf(1, Text("G3FAX"))}, kYcc420, cmYCbCr},
        ColorCase{"Preset", {}, kYcc420, cmYCbCrK, cmYCbCrK}),
    [](const testing::TestParamInfo<ColorCase>& info) { return info.param.name; });

TEST(ColorModel, NoFrameGivesZero) {
    TkestBaseJpegParser parser(0);
    ParseBytes(parser, Bytes{0xFF, 0xD8}, poHeadersOnly, cmRGB);
    EXPECT_EQ(parser.ChooseColorModel(), 0);
}

TEST(ColorModel, Names) {
    EXPECT_STREQ(ColorModelName(cmGray), "Gray");
    EXPECT_STREQ(ColorModelName(cmYCbCrA), "YCbCrA");
    EXPECT_STREQ(ColorModelName(cmITUCieLAB), "ITUCieLAB");
    EXPECT_STREQ(ColorModelName(0), "");
    EXPECT_STREQ(ColorModelName(6), "");
    EXPECT_STREQ(ColorModelName(14), "");
}

TEST(AppFacts, Recognised) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).App(1, Text("Exif\0\0IIxxxxxxxx"sv)).App(14, AdobePayload(2));
    b.App(1, Text("G3FAX\0"sv)).App(2, Text("ICC_PROFILE\0"sv));
    TkestBaseJpegParser parser(0);
    ParseBytes(parser, b.Data());
    EXPECT_TRUE(parser.HasJfif);
    EXPECT_TRUE(parser.HasExif);
    EXPECT_TRUE(parser.HasAdobe);
    EXPECT_EQ(parser.AdobeTransform, 2);
    EXPECT_TRUE(parser.HasG3Fax);
    EXPECT_TRUE(parser.HasIccProfile);
}

TEST(AppFacts, CutSegmentsAndOtherMarkersAreNotRecognised) {
    JpegBuilder b;
    b.Soi().App(3, JfifPayload()).App(0, Text("JFIF\0"sv)).App(2, Text("ICC_PROFILE")).App(1, Text("Exif\0\0x"sv));
    b.App(0, JfifPayload());
    TkestBaseJpegParser parser(0);
    ParseBytes(parser, b.Cut(b.Size() - 1));
    EXPECT_FALSE(parser.HasJfif);
    EXPECT_FALSE(parser.HasIccProfile);
    EXPECT_FALSE(parser.HasExif);
}

struct ExifNameCase {
    const char* name;
    std::vector<std::string> payloads;  // after "Exif\0\0"
    std::string expected;
};

class ExifFileName : public testing::TestWithParam<ExifNameCase> {};

TEST_P(ExifFileName, Found) {
    JpegBuilder b;
    b.Soi();
    for (const std::string& p : GetParam().payloads)
        b.App(1, Concat({Text(std::string_view("Exif\0\0", 6)), Text(p), Bytes(8, 0)}));
    TkestBaseJpegParser parser(0);
    ParseBytes(parser, b.Data());
    EXPECT_EQ(parser.ExifFileName, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExifFileName,
    testing::Values(ExifNameCase{"Plain", {"II*\x08\x01photo_01.JPG\x00"}, "photo_01.JPG"},
                    ExifNameCase{"SpaceBefore", {"file .JPG"}, ""},
                    ExifNameCase{"LowerCase", {"photo_01.jpg"}, ""},
                    ExifNameCase{"DashStops", {"my-file9.JPG"}, "file9.JPG"},
                    ExifNameCase{"FirstOccurrence", {"ab.JPG cd.JPG"}, "ab.JPG"},
                    ExifNameCase{"FirstOccurrenceWithoutName", {" .JPG cd.JPG"}, ""},
                    ExifNameCase{"AfterZeroBytes", {std::string("\0\0\0x_1.JPG", 10)}, "x_1.JPG"},
                    ExifNameCase{"LaterReplaces", {"one.JPG", "two.JPG"}, "two.JPG"},
                    ExifNameCase{"LaterWithoutNameKeeps", {"one.JPG", "none"}, "one.JPG"}),
    [](const testing::TestParamInfo<ExifNameCase>& info) { return info.param.name; });

}  // namespace

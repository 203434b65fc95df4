// The marker walk: where a stream may start, what may come next, how segments are read
// and how the hooks see them.
#include "parse_helpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

using namespace jpeg_fixture;
using namespace std::string_view_literals;

namespace {

Bytes Hex(std::initializer_list<int> bytes) {
    Bytes out;
    for (int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

// Headers of a baseline image after its SOI.
Bytes HeadersAfterSoi() {
    const Bytes all = BaselineHeaders().Data();
    return Bytes(all.begin() + 2, all.end());
}

struct WalkCase {
    const char* name;
    Bytes bytes;
    int expected;
};

class WalkResult : public testing::TestWithParam<WalkCase> {};

TEST_P(WalkResult, HeadersOnlyParse) {
    for (std::uint32_t buffer : {0u, 65536u}) {
        TkestBaseJpegParser parser(buffer);
        EXPECT_EQ(ParseBytes(parser, GetParam().bytes), GetParam().expected) << "buffer " << buffer;
    }
}

Bytes WithSegment(std::initializer_list<int> segment) {
    JpegBuilder b;
    b.Soi().Raw(Hex(segment));
    b.Raw(HeadersAfterSoi());
    return b.Data();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WalkResult,
    testing::Values(
        WalkCase{"Empty", {}, prEndOfData},
        WalkCase{"OneByte", Hex({0xFF}), prEndOfData},
        WalkCase{"SoiOnly", Hex({0xFF, 0xD8}), prEndOfData},
        WalkCase{"StartsWithOtherMarker", Hex({0xFF, 0xE0, 0x00, 0x02}), prUnexpected},
        WalkCase{"Complete", BaselineHeaders().Data(), prOk},
        WalkCase{"TwoJunkBytesBeforeSoi", Concat({Hex({0x12, 0x34}), BaselineHeaders().Data()}), prOk},
        // The byte after a single junk byte is skipped unseen; the next (0xD8) is no 0xFF.
        WalkCase{"OneJunkByteBeforeSoi", Concat({Hex({0x12}), BaselineHeaders().Data()}), prCorrupt},
        WalkCase{"JunkThenEnd", Hex({0x12, 0x34}), prEndOfData},
        WalkCase{"FillBytesBeforeSoi", Concat({Hex({0xFF, 0xFF, 0xFF, 0xD8}), HeadersAfterSoi()}), prOk},
        WalkCase{"ZeroBeforeSoiCode", Concat({Hex({0xFF, 0x00, 0xD8}), HeadersAfterSoi()}), prOk},
        WalkCase{"EoiAfterSoi", Hex({0xFF, 0xD8, 0xFF, 0xD9}), prUnexpected},
        WalkCase{"SecondSoi", Hex({0xFF, 0xD8, 0xFF, 0xD8}), prUnexpected},
        WalkCase{"Dnl", WithSegment({0xFF, 0xDC, 0x00, 0x04, 0x00, 0x10}), prUnexpected},
        WalkCase{"Dac", WithSegment({0xFF, 0xCC, 0x00, 0x04, 0x00, 0x10}), prUnexpected},
        WalkCase{"Jpg", WithSegment({0xFF, 0xC8, 0x00, 0x02}), prUnexpected},
        WalkCase{"Restart", WithSegment({0xFF, 0xD0}), prUnexpected},
        WalkCase{"LowCode", WithSegment({0xFF, 0x01}), prUnexpected},
        WalkCase{"CodeDE", WithSegment({0xFF, 0xDE, 0x00, 0x02}), prUnexpected},
        WalkCase{"CodeF0", WithSegment({0xFF, 0xF0, 0x00, 0x02}), prUnexpected},
        WalkCase{"CodeFD", WithSegment({0xFF, 0xFD, 0x00, 0x02}), prUnexpected},
        WalkCase{"LengthZero", WithSegment({0xFF, 0xFE, 0x00, 0x00}), prEndOfData},
        WalkCase{"LengthOne", WithSegment({0xFF, 0xFE, 0x00, 0x01}), prEndOfData},
        WalkCase{"LengthTwo", WithSegment({0xFF, 0xFE, 0x00, 0x02}), prOk},
        WalkCase{"LengthCut", Hex({0xFF, 0xD8, 0xFF, 0xFE, 0x00}), prEndOfData},
        WalkCase{"SegmentCut", Hex({0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00, 0x01}), prEndOfData},
        WalkCase{"AppCut", Hex({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10, 'E', 'x'}), prEndOfData},
        WalkCase{"TwoStrayBytesBetweenSegments", WithSegment({0xFF, 0xFE, 0x00, 0x02, 0x55, 0x66}), prOk},
        WalkCase{"OneStrayByteBetweenSegments", WithSegment({0xFF, 0xFE, 0x00, 0x02, 0x55}), prCorrupt},
        WalkCase{"FillBytesBetweenSegments", WithSegment({0xFF, 0xFE, 0x00, 0x02, 0xFF, 0xFF}), prOk},
        WalkCase{"SecondFrameHeader",
                 Concat({Hex({0xFF, 0xD8}),
                         JpegBuilder().Sof(0xC0, 8, 8, {{1, 1, 1, 0}}).Sof(0xC2, 8, 8, {{1, 1, 1, 0}}).Data()}),
                 prUnexpected},
        // No frame component matches the scan's selector.
        WalkCase{"ScanBeforeFrame", Concat({Hex({0xFF, 0xD8}), JpegBuilder().DhtAnnexK().Sos({{1, 0, 0}}).Data()}),
                 prCorrupt}),
    [](const testing::TestParamInfo<WalkCase>& info) { return info.param.name; });

TEST(Walk, HeadersOnlyStopsAtTheScanHeaderWithoutScanData) {
    const Bytes bytes = BaselineHeaders().Data();
    TkestBaseJpegParser parser(65536);
    ASSERT_EQ(ParseBytes(parser, bytes), prOk);
    EXPECT_EQ(parser.ScanCount, 0);
    EXPECT_EQ(parser.Position, bytes.size());
    EXPECT_TRUE(parser.FrameSeen);
}

TEST(Walk, StopsAtTheFirstScanEvenWithDataAndLaterSegments) {
    JpegBuilder b = BaselineHeaders();
    const std::size_t headers = b.Size();
    b.SequentialScanData().Dqt(0, ScaledAnnexK(false, 10)).Eoi();
    TkestBaseJpegParser parser(65536);
    ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
    EXPECT_EQ(parser.Position, headers);
    // The DQT after the first scan is not collected.
    EXPECT_EQ(parser.QuantTableDataLength(), 130u);
}

TEST(Walk, NoSoiOptionStartsAtAnySegment) {
    EXPECT_EQ(ParseBytes(HeadersAfterSoi(), poHeadersOnly | poNoSoi), prOk);
    EXPECT_EQ(ParseBytes(HeadersAfterSoi(), poHeadersOnly), prUnexpected);
}

TEST(Walk, LosslessAndHierarchicalScansAreUnsupported) {
    for (int code : {0xC3, 0xC5, 0xCB, 0xCD, 0xCF}) {
        const auto sof = static_cast<std::uint8_t>(code);
        JpegBuilder b;
        b.Soi().DqtAnnexK(50).Sof(sof, 8, 8, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}).Raw({0x00}).Eoi();
        TkestBaseJpegParser parser(65536);
        EXPECT_EQ(ParseBytes(parser, b.Data(), 0), prUnsupported) << int{sof};
        EXPECT_EQ(parser.FrameMarker, sof);
        EXPECT_EQ(parser.ScanCount, 0);
        EXPECT_EQ(ParseBytes(parser, b.Data(), poHeadersOnly), prOk) << int{sof};
    }
}

TEST(Walk, OffsetsAreRelativeToTheStreamPositionAtParse) {
    JpegBuilder b;
    b.Raw(Bytes(10, 0x55)).Soi().App(0, JfifPayload()).Raw(HeadersAfterSoi());
    TMemoryStream stream(b.Data());
    stream.Seek(10);
    RecordingParser parser;
    ASSERT_EQ(parser.Parse(stream, poHeadersOnly, 0), prOk);
    const auto groups = parser.Calls("group");
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].offset, 2u);
    EXPECT_EQ(parser.Position, b.Size() - 10);
}

TEST(Walk, ReadLimitEndsTheWalkPast16MiB) {
    JpegBuilder b;
    b.Soi();
    const Bytes big(65533, 'x');
    while (b.Size() < 16777216 + 200000) b.Com(std::string_view(reinterpret_cast<const char*>(big.data()), big.size()));
    b.Raw(HeadersAfterSoi());
    TkestBaseJpegParser parser(65536);
    EXPECT_EQ(ParseBytes(parser, b.Data(), poHeadersOnly | poReadLimit), prEndOfData);
    EXPECT_GT(parser.Position, 16777216u);
    EXPECT_LE(parser.Position, 16777216u + 65536u);
    EXPECT_EQ(ParseBytes(parser, b.Data(), poHeadersOnly), prOk);
}

// ---------------------------------------------------------------------------------------
// Hooks

TEST(Hooks, EverySegmentIsReportedWithItsPayload) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).Com("hello").Raw(HeadersAfterSoi());
    RecordingParser parser;
    ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
    std::vector<std::pair<std::string, int>> seen;
    for (const HookCall& c : parser.calls)
        if (c.hook != "group") seen.emplace_back(c.hook, c.marker);
    const std::vector<std::pair<std::string, int>> expected = {
        {"app", 0xE0},     {"app", 0xFE},     {"segment", 0xDB}, {"segment", 0xC4}, {"segment", 0xC4},
        {"segment", 0xC4}, {"segment", 0xC4}, {"segment", 0xC0}, {"segment", 0xDA}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(parser.calls[1].data, Text("hello"));
    EXPECT_EQ(parser.calls[1].length, 5);
}

TEST(Hooks, OneGroupPerRunOfAppSegments) {
    JpegBuilder b;
    b.Soi();
    const std::size_t runStart = b.Size();
    b.App(0, JfifPayload()).App(1, Text("Exif\0\0abc"sv)).Com("c");
    const Bytes run(b.Data().begin() + static_cast<std::ptrdiff_t>(runStart), b.Data().end());
    b.Raw(HeadersAfterSoi());
    RecordingParser parser;
    ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
    const auto groups = parser.Calls("group");
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].offset, runStart);
    EXPECT_EQ(groups[0].data, run);
}

TEST(Hooks, WithoutAGroupHandlerNothingIsCollected) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).Raw(HeadersAfterSoi());
    RecordingParser parser(65536, false);
    ASSERT_EQ(ParseBytes(parser, b.Data()), prOk);
    EXPECT_TRUE(parser.Calls("group").empty());
    EXPECT_EQ(parser.Calls("app").size(), 1u);
}

struct RunCase {
    const char* name;
    Bytes between;  // bytes between the first and the second APP segment
    std::size_t groups;
    int result;
};

class AppRunSplit : public testing::TestWithParam<RunCase> {};

TEST_P(AppRunSplit, RunEndsWhereExpected) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).Raw(GetParam().between).App(2, Text("MPF\0"sv)).Raw(HeadersAfterSoi());
    RecordingParser parser;
    EXPECT_EQ(ParseBytes(parser, b.Data()), GetParam().result);
    EXPECT_EQ(parser.Calls("group").size(), GetParam().groups);
}

INSTANTIATE_TEST_SUITE_P(Cases, AppRunSplit,
                         testing::Values(RunCase{"Adjacent", {}, 1, prOk}, RunCase{"FillByte", {0xFF}, 2, prOk},
                                         RunCase{"TwoFillBytes", {0xFF, 0xFF}, 2, prOk},
                                         RunCase{"StrayBytes", {0x01, 0x02}, 2, prOk},
                                         RunCase{"ZeroAfterFill", {0xFF, 0x00}, 2, prOk},
                                         RunCase{"RefusedMarker", {0xFF, 0x01}, 1, prUnexpected},
                                         RunCase{"Eoi", {0xFF, 0xD9}, 1, prUnexpected},
                                         RunCase{"Dqt", {0xFF, 0xDB, 0x00, 0x02}, 2, prOk}),
                         [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

TEST(Hooks, TruncatedAppSegmentIsStillReportedAndEndsTheRun) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).App(1, Bytes(100, 'x'));
    const Bytes cut = b.Cut(b.Size() - 40);
    for (std::uint32_t buffer : {0u, 65536u}) {
        RecordingParser parser(buffer);
        ASSERT_EQ(ParseBytes(parser, cut), prEndOfData);
        const auto apps = parser.Calls("app");
        ASSERT_EQ(apps.size(), 2u);
        EXPECT_EQ(apps[1].length, 100);
        EXPECT_EQ(apps[1].data.size(), 60u);
        const auto groups = parser.Calls("group");
        ASSERT_EQ(groups.size(), 1u);
        // The run holds the segments as they stood, the last one with its bytes present.
        EXPECT_EQ(groups[0].data, Bytes(cut.begin() + 2, cut.end()));
    }
}

TEST(Hooks, TruncatedHeaderSegmentIsReportedToDoSegment) {
    JpegBuilder b = BaselineHeaders();
    RecordingParser parser;
    ASSERT_EQ(ParseBytes(parser, b.Cut(30)), prEndOfData);
    const HookCall last = parser.calls.back();
    EXPECT_EQ(last.hook, "segment");
    EXPECT_EQ(last.marker, 0xDB);
    EXPECT_EQ(last.length, 130);
    EXPECT_EQ(last.data.size(), 30u - 6u);
}

TEST(Hooks, RunAtTheEndOfTheDataIsReported) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).Com("end");
    RecordingParser parser;
    ASSERT_EQ(ParseBytes(parser, b.Data()), prEndOfData);
    ASSERT_EQ(parser.Calls("group").size(), 1u);
    EXPECT_EQ(parser.Calls("group")[0].data.size(), b.Size() - 2);
}

// Damaged copies of a file with every kind of segment: every walk ends with one of the
// result codes (under the sanitizers: without reading out of bounds).
TEST(Walk, DamagedStreamsEndWithAResultCode) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).App(2, Text("ICC_PROFILE\0\1\1abc"sv)).Com("c").DqtAnnexK(80).DhtAnnexK();
    b.Dri(3).Sof(0xC2, 24, 16, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}).Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}}, 0, 0);
    const Bytes original = b.Data();
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        Bytes bytes = original;
        const int edits = 1 + round % 8;
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % bytes.size();
            switch (random() % 4) {
                case 0: bytes[at] = static_cast<std::uint8_t>(random()); break;
                case 1: bytes[at] = 0xFF; break;
                case 2: bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at)); break;
                default: bytes.resize(at + 1); break;
            }
            if (bytes.empty()) break;
        }
        TkestJpeg parser(round % 2 ? 0 : 64, true);
        const int result = ParseBytes(parser, bytes, round % 3 ? poHeadersOnly : 0);
        EXPECT_TRUE(result == prOk || result == prEndOfData || result == prUnexpected || result == prUnsupported ||
                    result == prCorrupt)
            << result;
        EXPECT_LE(parser.ComponentCount, 4);
        EXPECT_LE(parser.ScanComponentCount, 4);
        EXPECT_LE(parser.Position, bytes.size());
        parser.SegmentsText();
        parser.IccStream();
        parser.ChooseColorModel();
    }
}

// ---------------------------------------------------------------------------------------
// Reading

TEST(Reading, HeaderPassReadsAtMostOneBufferBeyondTheScanHeader) {
    // Over half a megabyte of real Huffman-coded data after the headers.
    const Bytes image = BaselineImage(4096, 2048);
    ASSERT_GT(image.size(), 500000u);
    TMemoryStream memory(image);
    for (std::uint32_t buffer : {0u, 4096u, 65536u}) {
        memory.Seek(0);
        CountingStream counting(memory);
        TkestBaseJpegParser parser(buffer);
        ASSERT_EQ(parser.Parse(counting, poHeadersOnly, 0), prOk);
        EXPECT_LE(counting.bytes, parser.Position + buffer) << "buffer " << buffer;
        if (buffer == 0) {
            EXPECT_EQ(counting.bytes, parser.Position);
        }
        std::printf("buffer %6u: %llu bytes read of %zu, %llu reads, headers %llu bytes\n", buffer,
                    static_cast<unsigned long long>(counting.bytes), image.size(),
                    static_cast<unsigned long long>(counting.reads),
                    static_cast<unsigned long long>(parser.Position));
    }
}

TEST(Reading, RefillsAreWholeBufferReads) {
    const Bytes bytes = BaselineHeaders().Data();
    TMemoryStream memory(bytes);
    CountingStream counting(memory);
    TkestBaseJpegParser parser(64);
    ASSERT_EQ(parser.Parse(counting, poHeadersOnly, 0), prOk);
    EXPECT_EQ(counting.reads, (bytes.size() + 63) / 64);
}

}  // namespace

// The APP catalogue and the reassembly of an ICC profile from APP2 chunks.
#include "parse_helpers.h"

#include <gtest/gtest.h>

using namespace jpeg_fixture;
using namespace std::string_view_literals;

namespace {

struct App {
    std::uint8_t marker;
    Bytes payload;
};

// SOI, the segments, then the headers of a small image.
Bytes FileWith(const std::vector<App>& apps) {
    JpegBuilder b;
    b.Soi();
    for (const App& a : apps) b.Segment(a.marker, a.payload);
    const Bytes headers = BaselineHeaders().Data();
    b.Raw(Bytes(headers.begin() + 2, headers.end()));
    return b.Data();
}

const Bytes kXmp = Text("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>"sv);
const Bytes kExif = Text("Exif\0\0II*\0"sv);

struct CatalogueCase {
    const char* name;
    std::vector<App> apps;
    std::string expected;
};

class Catalogue : public testing::TestWithParam<CatalogueCase> {};

TEST_P(Catalogue, Text) {
    TkestJpeg parser(65536);
    ASSERT_EQ(ParseBytes(parser, FileWith(GetParam().apps)), prOk);
    EXPECT_EQ(parser.SegmentsText(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Catalogue,
    testing::Values(
        CatalogueCase{"Example",
                      {{0xE0, JfifPayload()},
                       {0xE1, kExif},
                       {0xE2, Text("FPXR\0\0\1"sv)},
                       {0xE2, Text("FPXR\0\0\2"sv)},
                       {0xE3, Text("\x10Meta"sv)},
                       {0xFE, Text("a comment")}},
                      "JFIF, EXIF, FPXR2 (2), APP3, COM"},
        CatalogueCase{"UnknownName", {{0xEF, Text("Foo\0bar"sv)}}, "Foo [APP15]"},
        CatalogueCase{"TwoXmp", {{0xE1, kXmp}, {0xE1, kXmp}}, "XAP (2)"},
        CatalogueCase{"XmpBetweenExif", {{0xE1, kExif}, {0xE1, kXmp}, {0xE1, kExif}}, "EXIF, XAP, EXIF"},
        CatalogueCase{"ExtendedXmp", {{0xE1, Text("http://ns.adobe.com/xmp/extension/\0ABC"sv)}}, "XMP"},
        CatalogueCase{"PrefixOfAnotherMarker", {{0xE1, JfifPayload()}}, "JFIF [APP1]"},
        CatalogueCase{"NameCutAt40", {{0xE5, Bytes(50, 'A')}}, std::string(40, 'A') + " [APP5]"},
        CatalogueCase{"LongNameCutToPrefix", {{0xED, Text("Photoshop 3.0 and more text\0"sv)}}, "PS"},
        CatalogueCase{"EmptyPayload", {{0xE7, {}}}, "APP7"},
        CatalogueCase{"UnprintableName", {{0xE9, Text("\x80\x81")}}, "APP9"},
        CatalogueCase{"SameMarkerOtherName", {{0xE3, Text("Meta\0"sv)}, {0xE3, Text("META\0"sv)}}, "Meta, META"},
        CatalogueCase{"Comments", {{0xFE, Text("one")}, {0xFE, Text("two")}}, "COM (2)"},
        CatalogueCase{"CommentSplitsARun", {{0xE1, kExif}, {0xFE, Text("x")}, {0xE1, kExif}}, "EXIF, COM, EXIF"},
        CatalogueCase{"Icc", {{0xE2, Text("ICC_PROFILE\0\1\2ab"sv)}, {0xE2, Text("ICC_PROFILE\0\2\2cd"sv)}}, "ICC (2)"},
        CatalogueCase{"Vendors",
                      {{0xE4, Text("Qualcomm Camera Debug\0"sv)},
                       {0xE5, Text("Qualcomm Camera Debug\0"sv)},
                       {0xE4, Text("QTI Debug Metadata\0"sv)},
                       {0xE4, Text("FPXR\0"sv)},
                       {0xEA, Text("Nikon Image Info\0"sv)},
                       {0xEB, Text("HDR_RI ver=11"sv)},
                       {0xEC, Text("Ducky\0"sv)},
                       {0xEE, AdobePayload(1)},
                       {0xE2, Text("MPF\0"sv)}},
                      "Qualcomm, Qualcomm, QTIData, FPXR4, NikonInfo, HDR, Ducky, Adobe, MPF"},
        CatalogueCase{"TableRowOfAnotherMarker", {{0xE3, kExif}, {0xE6, Text("Qualcomm Camera Debug 2")}},
                      "Exif [APP3], Qualcomm"},
        CatalogueCase{"None", {}, ""}),
    [](const testing::TestParamInfo<CatalogueCase>& info) { return info.param.name; });

TEST(Catalogue, CutSegmentIsCatalogued) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).App(13, Text("Photoshop 3.0\0 resources"sv));
    TkestJpeg parser(65536);
    ASSERT_EQ(ParseBytes(parser, b.Cut(b.Size() - 5)), prEndOfData);
    EXPECT_EQ(parser.SegmentsText(), "JFIF, PS");
    EXPECT_EQ(parser.SegmentCount(), 2);
}

TEST(Catalogue, HeaderPassStopsAtTheFirstScan) {
    JpegBuilder b = BaselineHeaders();
    b.SequentialScanData().Com("after").Eoi();
    TkestJpeg parser(65536);
    ASSERT_EQ(ParseBytes(parser, Concat({Bytes{0xFF, 0xD8}, JpegBuilder().App(0, JfifPayload()).Data(),
                                         Bytes(b.Data().begin() + 2, b.Data().end())})),
              prOk);
    EXPECT_EQ(parser.SegmentsText(), "JFIF");
}

// ---------------------------------------------------------------------------------------
// ICC profile chunks (ICC.1 B.4)

App Chunk(int sequence, int count, std::string_view data) {
    Bytes p = Text("ICC_PROFILE\0"sv);
    p.push_back(static_cast<std::uint8_t>(sequence));
    p.push_back(static_cast<std::uint8_t>(count));
    p.insert(p.end(), data.begin(), data.end());
    return {0xE2, p};
}

struct IccCase {
    const char* name;
    std::vector<App> apps;
    bool present;
    std::string profile;
};

class IccAssembly : public testing::TestWithParam<IccCase> {};

TEST_P(IccAssembly, Stream) {
    TkestJpeg parser(65536);
    ASSERT_EQ(ParseBytes(parser, FileWith(GetParam().apps)), prOk);
    const auto stream = parser.IccStream();
    ASSERT_EQ(stream != nullptr, GetParam().present);
    if (!stream) return;
    EXPECT_EQ(stream->Position(), 0u);
    EXPECT_EQ(stream->Bytes(), Text(GetParam().profile));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IccAssembly,
    testing::Values(IccCase{"ThreeInOrder", {Chunk(1, 3, "one-"), Chunk(2, 3, "two-"), Chunk(3, 3, "three")}, true,
                            "one-two-three"},
                    IccCase{"Single", {Chunk(1, 1, "whole")}, true, "whole"},
                    IccCase{"Missing", {Chunk(1, 3, "one-"), Chunk(3, 3, "three")}, false, ""},
                    IccCase{"Repeated", {Chunk(1, 2, "a"), Chunk(1, 2, "b")}, false, ""},
                    IccCase{"Reversed", {Chunk(2, 2, "second"), Chunk(1, 2, "first-")}, true, "first-second"},
                    IccCase{"CountZero", {Chunk(0, 0, "x")}, false, ""},
                    IccCase{"SequenceZero", {Chunk(0, 1, "x")}, false, ""},
                    IccCase{"SequenceAboveCount", {Chunk(1, 2, "a"), Chunk(3, 2, "c")}, false, ""},
                    IccCase{"CountsDiffer", {Chunk(1, 2, "a"), Chunk(2, 3, "b")}, false, ""},
                    IccCase{"EmptyChunk", {Chunk(1, 2, ""), Chunk(2, 2, "b")}, true, "b"},
                    IccCase{"OtherSegmentsIgnored",
                            {{0xE1, Text("ICC_PROFILE\0\1\1x"sv)},
                             {0xE2, Text("ICC_PROFILE\0\1"sv)},
                             {0xE2, Text("ICC_PROFILEX\1\1x"sv)},
                             Chunk(1, 1, "real")},
                            true, "real"},
                    IccCase{"None", {{0xE0, JfifPayload()}}, false, ""},
                    IccCase{"BrokenIsFinal", {Chunk(0, 0, "x"), Chunk(1, 1, "whole")}, false, ""}),
    [](const testing::TestParamInfo<IccCase>& info) { return info.param.name; });

TEST(IccAssembly, ChunkCutShortByTheEndOfTheFile) {
    JpegBuilder b;
    b.Soi().Segment(0xE2, Chunk(1, 2, "first").payload).Segment(0xE2, Chunk(2, 2, std::string(100, 'x')).payload);
    TkestJpeg parser(65536);
    ASSERT_EQ(ParseBytes(parser, b.Cut(b.Size() - 10)), prEndOfData);
    EXPECT_TRUE(parser.IccBroken);
    EXPECT_EQ(parser.IccStream(), nullptr);
}

TEST(IccAssembly, LargestChunksAreCopiedWhole) {
    const std::string big(65533 - 14, 'p');
    TkestJpeg parser(0);
    ASSERT_EQ(ParseBytes(parser, FileWith({Chunk(1, 2, big), Chunk(2, 2, big)})), prOk);
    const auto stream = parser.IccStream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Size(), 2 * big.size());
}

}  // namespace

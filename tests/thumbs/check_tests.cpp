// The checks a candidate preview goes through before it is listed: raw pixels measured by
// the bytes present, JPEG streams parsed in place, PNG streams by their header chunk.
#include "thumb_helpers.h"

#include <gtest/gtest.h>

#include <climits>

using jpeg_fixture::Concat;
using jpeg_fixture::Text;

namespace {

enum class Raw { Rgb, Palette, YCbCr };

TEST(RawChecks, MeasureTheBytesPresentAgainstTheBytesRequired) {
    struct Case {
        Raw helper;
        std::int32_t width, height, hs, vs;
        std::uint64_t available;
        bool reported;
        std::int32_t percent;
        std::int64_t size;
    };
    const Case cases[] = {
        {Raw::Rgb, 160, 120, 0, 0, 57600, true, 100, 57600},
        {Raw::Rgb, 160, 120, 0, 0, 60000, true, 100, 57600},  // more present than needed
        {Raw::Rgb, 160, 120, 0, 0, 57599, true, 99, 57599},   // rounds to 100, shown as 99
        {Raw::Rgb, 160, 120, 0, 0, 100, true, 0, 100},        // still listed
        {Raw::Rgb, 160, 120, 0, 0, 0, false, 0, 0},
        {Raw::Palette, 8, 8, 0, 0, 768, false, 0, 0},     // the palette alone
        {Raw::Palette, 8, 8, 0, 0, 769, true, 92, 769},   // 76,900 / 832 = 92.4
        {Raw::Palette, 8, 29, 0, 0, 985, true, 98, 985},  // 98.5: halves to even
        {Raw::Palette, 8, 29, 0, 0, 975, true, 98, 975},  // 97.5
        {Raw::YCbCr, 160, 120, 2, 1, 38400, true, 100, 38400},  // 19,200 + 9,600 x 2
        {Raw::YCbCr, 160, 120, 2, 1, 19200, true, 50, 19200},
        {Raw::YCbCr, 160, 120, 2, 2, 28800, true, 100, 28800},
        // Sizes whose products overflow 32 bits are measured in 64 bits.
        {Raw::Rgb, INT32_MAX, INT32_MAX, 0, 0, 1000, true, 0, 1000},
        {Raw::Rgb, 65536, 65536, 0, 0, 1u << 30, true, 8, 1 << 30},
    };
    for (const Case& c : cases) {
        TkestJpegThumbs thumbs;
        TkestJpegThumbBaseHandler handler(thumbs);
        switch (c.helper) {
            case Raw::Rgb: handler.AddRgbThumb(5, c.available, c.width, c.height, "RGB"); break;
            case Raw::Palette: handler.AddPaletteThumb(5, c.available, c.width, c.height, "Bmp8"); break;
            case Raw::YCbCr: handler.AddYCbCrThumb(5, c.available, c.width, c.height, c.hs, c.vs, "YCrCb"); break;
        }
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + " with " +
                                 std::to_string(c.available);
        ASSERT_EQ(thumbs.Thumbs.size(), c.reported ? 1u : 0u) << what;
        if (!c.reported) continue;
        const TkestJpegThumb& t = thumbs.Thumbs[0];
        EXPECT_EQ(t.Percent, c.percent) << what;
        EXPECT_EQ(t.Size, c.size) << what;
        EXPECT_EQ(t.Offset, 5) << what;
        EXPECT_FALSE(t.Corrupted) << what;
        EXPECT_EQ(t.Kind, c.helper == Raw::Rgb ? tkRgb : c.helper == Raw::Palette ? tkPalette : tkYCbCr) << what;
        EXPECT_EQ(t.SubsamplingX, c.hs) << what;
        EXPECT_EQ(t.SubsamplingY, c.vs) << what;
        // Raw previews are not compressed previews: their offsets stay new.
        EXPECT_TRUE(handler.IsNewOffset(5)) << what;
    }
}

Bytes Be32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v)};
}

// A PNG signature, a chunk of another type, IHDR (ISO/IEC 15948 11.2.2), then padding.
Bytes Png(std::uint32_t width, std::uint32_t height, const Bytes& firstType = Text("tEXt")) {
    return Concat({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, Be32(3), firstType, Text("abc"), Be32(0),
                   Be32(13), Text("IHDR"), Be32(width), Be32(height), {8, 2, 0, 0, 0}, Be32(0), Bytes(16, 0)});
}

TEST(ScanForPng, ReportsTheSizeOfTheHeaderChunk) {
    TkestJpegThumbs thumbs;
    TkestJpegThumbBaseHandler handler(thumbs);
    handler.ScanForPng(ByteView(Concat({Text("junk"), Png(80, 60)})));
    ASSERT_EQ(Found(thumbs), (Names{"UNK*:PNG 80x60 100"}));
    EXPECT_EQ(thumbs.Thumbs[0].Offset, 4);
    EXPECT_EQ(thumbs.Thumbs[0].Size, 0);

    TkestJpegThumbs stopped;
    TkestJpegThumbBaseHandler second(stopped);
    second.ScanForPng(ByteView(Png(80, 60, {0x34, 0xAB, 0x66, 0x79})));
    EXPECT_TRUE(stopped.Thumbs.empty());
}

TEST(ScanForJpeg, TwentyBytesOrFewerAreNotExamined) {
    Bytes data = {0xFF, 0xD8, 0xFF, 0xE0};
    data.resize(20, 0);
    TkestJpegThumbs thumbs;
    TkestJpegThumbBaseHandler handler(thumbs);
    handler.ScanForJpeg(ByteView(data));
    EXPECT_TRUE(thumbs.Thumbs.empty());
}

TEST(ScanForJpeg, FindsStreamsOneAfterTheOther) {
    const Bytes first = jpeg_fixture::BaselineImage(32, 16);
    const Bytes second = jpeg_fixture::BaselineImage(48, 8, 1);
    const Bytes data = Concat({Text("xyz"), first, second, Bytes(30, 0)});
    TkestJpegThumbs thumbs;
    TkestJpegThumbBaseHandler handler(thumbs);
    handler.ScanForJpeg(ByteView(data));
    ASSERT_EQ(Found(thumbs), (Names{"UNK*:C 32x16 100", "UNK*:C 48x8 100"}));
    EXPECT_EQ(thumbs.Thumbs[0].Offset, 3);
    // The check stops after the scan that completes the image, before EOI.
    EXPECT_EQ(thumbs.Thumbs[0].Size, static_cast<std::int64_t>(first.size() - 2));
    EXPECT_EQ(thumbs.Thumbs[1].Offset, static_cast<std::int64_t>(3 + first.size()));
    EXPECT_EQ(thumbs.Thumbs[0].ColorModel, 0);
}

TEST(ScanForJpeg, SkipsAStreamTheHandlerReportedButLooksFurther) {
    // The handler reported the stream at 6 itself: the scan does not list 6 again, but goes
    // on from 7 and finds the stream after it.
    const Bytes first = jpeg_fixture::BaselineImage(32, 16);
    const Bytes data = Concat({Bytes(6, 0), first, jpeg_fixture::BaselineImage(16, 16), Bytes(30, 0)});
    TkestJpegThumbs thumbs;
    TkestJpegThumbBaseHandler handler(thumbs);
    handler.AddJpegThumb(ByteView(data).Sub(6), 6, 0, "Jpg");
    handler.ScanForJpeg(ByteView(data));
    EXPECT_EQ(Found(thumbs), (Names{"UNK*:Jpg 32x16 100", "UNK*:C 16x16 100"}));
}

TEST(AddJpegThumb, StreamCutInItsScanIsCorruptAndIncomplete) {
    const Bytes image = jpeg_fixture::BaselineImage(256, 128);
    const Bytes cut(image.begin(), image.end() - 300);
    TkestJpegThumbs thumbs;
    TkestJpegThumbBaseHandler handler(thumbs);
    handler.AddJpegThumb(ByteView(cut), 0, 3, "");
    ASSERT_EQ(thumbs.Thumbs.size(), 1u);
    const TkestJpegThumb& t = thumbs.Thumbs[0];
    EXPECT_TRUE(t.Corrupted);
    EXPECT_GT(t.Percent, 0);
    EXPECT_LT(t.Percent, 100);
    EXPECT_EQ(t.Size, static_cast<std::int64_t>(cut.size()));
    EXPECT_EQ(t.ColorModel, 3);  // the preset the check ran with
    EXPECT_FALSE(handler.IsNewOffset(0));
}

TEST(AddJpegThumb, NothingDecodedNothingListed) {
    // Headers without any scan data: nothing of the image can be read.
    jpeg_fixture::JpegBuilder headers;
    headers.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 64, 64, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}).Eoi();
    TkestJpegThumbs thumbs;
    TkestJpegThumbBaseHandler handler(thumbs);
    handler.AddJpegThumb(ByteView(headers.Data()), 0, 0, "");
    handler.AddJpegThumb(ByteView(Text("not a JPEG stream at all")), 0, 0, "");
    EXPECT_TRUE(thumbs.Thumbs.empty());
}

}  // namespace

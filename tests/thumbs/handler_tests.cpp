// The JFIF, JFXX, Exif (with maker notes) and MPF handlers, each on segments written by
// the fixture builders: the layouts they read, and what hostile layouts do to them.
#include "thumb_helpers.h"
#include "thumbs/exif.h"
#include "thumbs/header_template.h"
#include "thumbs/jfif.h"
#include "thumbs/mpf.h"
#include "tiff_builder.h"

#include "jpeg/annex_k.h"

#include <gtest/gtest.h>

#include <random>

using jpeg_fixture::Concat;
using jpeg_fixture::Text;
using namespace tiff_fixture;

namespace {

Bytes Jfif(std::uint8_t width, std::uint8_t height, const Bytes& after) {
    Bytes p = jpeg_fixture::JfifPayload();
    p[12] = width;
    p[13] = height;
    return Concat({p, after});
}

Bytes Jfxx(std::uint8_t code, const Bytes& after) { return Concat({Text(std::string_view("JFXX\0", 5)), {code}, after}); }

TEST(Jfif, ThumbnailsAndScans) {
    EXPECT_TRUE(Collect({{0xE0, jpeg_fixture::JfifPayload()}})->Thumbs.empty());  // 14 bytes: no thumbnail
    EXPECT_EQ(Found(*Collect({{0xE0, Jfif(2, 2, Bytes(10, 1))}})), (Names{"JFIF 2x2 83"}));  // 10 of 12 bytes
    EXPECT_EQ(Found(*Collect({{0xE0, Jfif(4, 3, Bytes(36, 1))}})), (Names{"JFIF 4x3 100"}));
    EXPECT_TRUE(Collect({{0xE0, Jfif(0, 3, Bytes(36, 1))}})->Thumbs.empty());
}

TEST(Jfif, EmbeddedStreamIsFoundByTheScan) {
    const Bytes thumb = jpeg_fixture::BaselineImage(40, 24);
    EXPECT_EQ(Found(*Collect({{0xE0, Jfif(0, 0, Concat({thumb, Bytes(25, 0)}))}})), (Names{"JFIF:C 40x24 100"}));
}

TEST(Jfxx, ThumbnailForms) {
    EXPECT_TRUE(Collect({{0xE0, Jfxx(0x13, {2, 2, 0})}})->Thumbs.empty());  // 9 payload bytes
    EXPECT_EQ(Found(*Collect({{0xE0, Jfxx(0x13, Concat({{4, 2}, Bytes(24, 7)}))}})), (Names{"JFXX:Bmp32 4x2 100"}));
    // A palette needs more than its 768 bytes.
    EXPECT_TRUE(Collect({{0xE0, Jfxx(0x11, Concat({{8, 8}, Bytes(768, 7)}))}})->Thumbs.empty());
    EXPECT_EQ(Found(*Collect({{0xE0, Jfxx(0x11, Concat({{8, 8}, Bytes(832, 7)}))}})), (Names{"JFXX:Bmp8 8x8 100"}));
    EXPECT_TRUE(Collect({{0xE0, Jfxx(0x12, Concat({{8, 8}, Bytes(832, 7)}))}})->Thumbs.empty());
}

TEST(Jfxx, JpegThumbnailIsListedOnce) {
    const auto thumbs = Collect({{0xE0, Jfxx(0x10, Concat({jpeg_fixture::BaselineImage(80, 60), Bytes(40, 0)}))}});
    EXPECT_EQ(Found(*thumbs), (Names{"JFXX:Jpg 80x60 100"}));
    EXPECT_EQ(thumbs->Thumbs[0].Offset, 6);
}

// ---------------------------------------------------------------------------------------
// Exif

constexpr std::uint16_t kCompression = 259, kJpegOffset = 513, kJpegLength = 514, kExifIfd = 34665,
                        kMakerNote = 37500;

// IFD0 at 8 with one entry and IFD1 after it, holding `ifd1`.
TiffBuilder ExifChain(bool bigEndian, const std::vector<Entry>& ifd1) {
    TiffBuilder t(bigEndian);
    const std::uint32_t ifd1At = 8 + 18;
    t.Ifd(8, {Short(274, 1)}, ifd1At);
    t.Ifd(ifd1At, ifd1, 0);
    return t;
}

// The entries of an uncompressed thumbnail; bits per sample stored at `bitsAt`.
std::vector<Entry> Uncompressed(std::uint32_t w, std::uint32_t h, std::uint16_t photometric, std::uint32_t stripAt,
                                std::uint32_t bitsAt) {
    return {Long(256, w), Long(257, h), Shorts(258, 3, bitsAt), Short(kCompression, 1), Short(262, photometric),
            Long(273, stripAt), Short(277, 3), Long(279, w * h * 3)};
}

TEST(Exif, JpegThumbnailOfIfd1InEitherByteOrder) {
    const Bytes thumb = jpeg_fixture::BaselineImage(160, 120);
    for (bool bigEndian : {false, true}) {
        TiffBuilder t = ExifChain(bigEndian, {Short(kCompression, 6), Long(kJpegOffset, 200),
                                              Long(kJpegLength, static_cast<std::uint32_t>(thumb.size()))});
        t.Put(200, thumb);
        t.Put(t.Size(), Bytes(40, 0));
        const auto thumbs = Collect({{0xE1, ExifPayload(t)}});
        EXPECT_EQ(Found(*thumbs), (Names{"EXIF 160x120 100"})) << bigEndian;  // the scan does not list it again
        ASSERT_FALSE(thumbs->Thumbs.empty());
        EXPECT_EQ(thumbs->Thumbs[0].Offset, 206);
        EXPECT_TRUE(thumbs->PostThumbs.empty());
    }
}

TEST(Exif, JpegOffsetToOtherBytesReportsNothingFromTheIfd) {
    // JPEGInterchangeFormat present but not pointing at FF D8 FF: the uncompressed facts
    // of the same IFD are not looked at.
    for (std::uint32_t jpegAt : {300u, 0x7FFFFFF0u, 0xFFFFFFF0u}) {
        std::vector<Entry> ifd1 = Uncompressed(4, 4, 2, 300, 250);
        ifd1.push_back(Long(kJpegOffset, jpegAt));
        TiffBuilder t = ExifChain(false, ifd1);
        t.ShortValues(250, {8, 8, 8});
        t.Put(300, Bytes(48, 9));
        EXPECT_TRUE(Collect({{0xE1, ExifPayload(t)}})->Thumbs.empty()) << jpegAt;
    }
}

TEST(Exif, UncompressedThumbnails) {
    struct Case {
        const char* what;
        std::uint32_t w, h;
        std::uint16_t photometric;
        std::vector<std::uint16_t> bits;
        std::vector<Entry> extra;
        std::uint32_t present;
        Names found;
    };
    const Case cases[] = {
        {"RGB", 160, 120, 2, {8, 8, 8}, {}, 57600, {"EXIF:RGB 160x120 100"}},
        {"RGB cut short", 160, 120, 2, {8, 8, 8}, {}, 28800, {"EXIF:RGB 160x120 50"}},
        {"16-bit blue", 160, 120, 2, {8, 8, 16}, {}, 57600, {}},
        // Without YCbCrSubSampling the factors are 2 x 2 and the size rounds up to them.
        {"YCbCr", 159, 119, 6, {8, 8, 8}, {}, 28800, {"EXIF:YCrCb 160x120 100"}},
        {"YCbCr 4:2:2", 159, 119, 6, {8, 8, 8}, {ShortPair(530, 2, 1)}, 38400, {"EXIF:YCrCb 160x119 100"}},
        {"YCbCr factor 3", 159, 119, 6, {8, 8, 8}, {ShortPair(530, 3, 1)}, 38400, {}},
        {"CMYK", 16, 16, 5, {8, 8, 8}, {}, 1024, {}},
    };
    for (const Case& c : cases) {
        std::vector<Entry> ifd1 = Uncompressed(c.w, c.h, c.photometric, 1000, 900);
        ifd1.insert(ifd1.end(), c.extra.begin(), c.extra.end());
        TiffBuilder t = ExifChain(false, ifd1);
        t.ShortValues(900, c.bits);
        t.Put(1000, Bytes(c.present, 0x40));
        const auto thumbs = Collect({{0xE1, ExifPayload(t)}});
        EXPECT_EQ(Found(*thumbs), c.found) << c.what;
        if (!thumbs->Thumbs.empty()) {
            EXPECT_EQ(thumbs->Thumbs[0].Offset, 1006) << c.what;
        }
    }
}

TEST(Exif, CompressedStripBecomesAPostThumb) {
    struct Case {
        std::uint32_t strip;
        std::int64_t fileOffset;  // of the strip; the segment's marker is at 2
    };
    // TIFF offsets are unsigned: one near 4 GiB lies far beyond any file, not before it.
    const Case cases[] = {{0x400, 2 + 10 + 0x400}, {0xFFFFFFF0u, 2 + 10 + std::int64_t{0xFFFFFFF0u}}};
    for (const Case& c : cases) {
        TiffBuilder t = ExifChain(true, {Short(kCompression, 6), Long(273, c.strip), Long(279, 5000)});
        const auto thumbs = Collect({{0xE1, ExifPayload(t)}});
        ASSERT_EQ(thumbs->PostThumbs.size(), 1u);
        EXPECT_EQ(thumbs->PostThumbs[0].Offset, c.fileOffset);
        EXPECT_EQ(thumbs->PostThumbs[0].Size, 5000);
        EXPECT_EQ(thumbs->PostThumbs[0].Name, "EXIF");
    }
}

TEST(Exif, LoopsOfIfdsEndAtTheFirstRepeat) {
    // IFD0 holds a 4 x 4 RGB thumbnail; a loop would list it again (or never end).
    for (int loop = 0; loop < 3; ++loop) {
        TiffBuilder t(false);
        std::vector<Entry> ifd0 = Uncompressed(4, 4, 2, 500, 450);
        if (loop == 1) ifd0.push_back(Long(kExifIfd, 8));  // the Exif IFD is IFD0 itself
        if (loop == 2) ifd0.push_back(Long(kExifIfd, 200));
        t.Ifd(8, ifd0, loop == 0 ? 8 : 0);  // next IFD: IFD0 again
        t.Ifd(200, {Short(1, 1)}, 8);        // an Exif IFD whose chain leads back to IFD0
        t.ShortValues(450, {8, 8, 8});
        t.Put(500, Bytes(48, 1));
        EXPECT_EQ(Found(*Collect({{0xE1, ExifPayload(t)}})), (Names{"EXIF:RGB 4x4 100"})) << loop;
    }
}

TEST(Exif, DeepChainOfExifIfdsIsWalkedWithoutRecursion) {
    // As many IFDs as the segment holds, each pointing to the next as its Exif IFD; the last
    // holds a thumbnail. The nested IFD's thumbnail comes before those of the IFDs above it.
    TiffBuilder t(false);
    constexpr std::uint32_t kStep = 18, kFirst = 8;
    const std::uint32_t count = (60000 - kFirst) / kStep;
    for (std::uint32_t i = 0; i + 1 < count; ++i)
        t.Ifd(kFirst + i * kStep, {Long(kExifIfd, kFirst + (i + 1) * kStep)}, 0);
    const std::uint32_t last = kFirst + (count - 1) * kStep;
    const std::uint32_t end = last + 2 + 8 * 12 + 4;  // after the last IFD's eight entries
    t.Ifd(last, Uncompressed(2, 2, 2, end + 6, end), 0);
    t.ShortValues(end, {8, 8, 8});
    t.Put(end + 6, Bytes(12, 3));
    ASSERT_LT(t.Size() + 6, 65533u);
    EXPECT_EQ(Found(*Collect({{0xE1, ExifPayload(t)}})), (Names{"EXIF:RGB 2x2 100"}));
}

TEST(Exif, IfdCutShortReportsNothing) {
    // Nine entries announced; the segment ends after four of them.
    TiffBuilder t(false);
    t.Ifd(8, Uncompressed(4, 4, 2, 400, 300), 0);
    t.U16(8, 9);
    Bytes payload = ExifPayload(t);
    payload.resize(6 + 8 + 2 + 4 * 12);
    EXPECT_TRUE(Collect({{0xE1, payload}})->Thumbs.empty());
}

TEST(Exif, SegmentAcceptedOnlyWithSignatureAndTiffHeader) {
    const Bytes good = ExifPayload(ExifChain(false, {Short(kCompression, 6)}));
    EXPECT_TRUE(TkestJpegThumbExifHandler::CanHandle(0xE1, ByteView(good), static_cast<std::uint32_t>(good.size())));
    EXPECT_FALSE(TkestJpegThumbExifHandler::CanHandle(0xE2, ByteView(good), 100));
    const Bytes fourteen(good.begin(), good.begin() + 14);
    EXPECT_FALSE(TkestJpegThumbExifHandler::CanHandle(0xE1, ByteView(fourteen), 14));
    Bytes wrongMagic = good;
    wrongMagic[8] = 43;
    EXPECT_FALSE(TkestJpegThumbExifHandler::CanHandle(0xE1, ByteView(wrongMagic), 100));
    Bytes mixed = good;
    mixed[6] = 'M';  // "MI"
    EXPECT_FALSE(TkestJpegThumbExifHandler::CanHandle(0xE1, ByteView(mixed), 100));
}

// ---------------------------------------------------------------------------------------
// Maker notes, in the Exif IFD that IFD0 points to.

// An Exif segment whose Exif IFD holds a MakerNote of these bytes at TIFF offset 100.
Bytes WithMakerNote(bool bigEndian, const Bytes& note) {
    TiffBuilder t(bigEndian);
    t.Ifd(8, {Long(kExifIfd, 40)}, 0);
    t.Ifd(40, {Undefined(kMakerNote, static_cast<std::uint32_t>(note.size()), 100)}, 0);
    t.Put(100, note);
    return ExifPayload(t);
}
constexpr std::int64_t kMakerNoteFile = 2 + 10 + 100;  // file offset of the maker note

TEST(MakerNote, OlympusPreviewReferenceInEitherByteOrder) {
    for (bool be : {false, true}) {
        for (bool exifBe : {false, true}) {
            const auto thumbs = Collect({{0xE1, WithMakerNote(exifBe, OlympusMakerNote(be, 1, 0x1000, 0x2000))}});
            ASSERT_EQ(thumbs->PostThumbs.size(), 1u) << be << exifBe;
            EXPECT_EQ(thumbs->PostThumbs[0].Offset, kMakerNoteFile + 0x1000);
            EXPECT_EQ(thumbs->PostThumbs[0].Size, 0x2000);
            EXPECT_EQ(thumbs->PostThumbs[0].Name, "EXIF");
        }
    }
    EXPECT_TRUE(Collect({{0xE1, WithMakerNote(false, OlympusMakerNote(false, 0, 0x1000, 0x2000))}})->PostThumbs.empty());
    EXPECT_TRUE(Collect({{0xE1, WithMakerNote(false, OlympusMakerNote(false, 1, 0, 0x2000))}})->PostThumbs.empty());
    // Not identified: a leading byte outside printable ASCII.
    for (int first : {0x00, 0x80, 0xC4}) {
        Bytes note = OlympusMakerNote(false, 1, 0x1000, 0x2000);
        note[0] = static_cast<std::uint8_t>(first);
        EXPECT_TRUE(Collect({{0xE1, WithMakerNote(false, note)}})->PostThumbs.empty()) << first;
    }
}

// The entropy-coded data of a 640 x 480 frame sampled 2x1, 1x1, 1x1 with the Annex K
// Huffman tables, what the maker-note header templates expect: blocks of zeros but for a
// first DC value of 1000, whose category-10 code makes the first byte 0xFE, so that the
// data cannot be read as part of a maker note's leading text.
Bytes ScanData640x480() {
    jpeg_fixture::JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 640, 480, {{1, 2, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}});
    b.Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}});
    const std::size_t start = b.Size();
    b.SequentialScanData([](std::size_t component, std::size_t block) {
        jpeg_fixture::Block zeros{};
        if (component == 0 && block == 0) zeros[0] = 1000;
        return zeros;
    });
    return Bytes(b.Data().begin() + static_cast<std::ptrdiff_t>(start), b.Data().end());
}

// "KYOCERA" and 12 spaces, a zero byte, then at 22 one entry (tag 1, UNDEFINED) whose value
// counts from the entry to "BK" and the data.
Bytes EntryRelative(std::string_view vendor, const Bytes& data) {
    Bytes head = Text(vendor);
    head.resize(22, 0);
    return Concat({head, U16Of(false, 1), EntryOf(false, 1, 7, static_cast<std::uint32_t>(data.size() + 2), 16),
                   U32Of(false, 0), Text("BK"), data});
}

TEST(MakerNote, EntryRelativeAndBarePreviews) {
    const Bytes data = ScanData640x480();
    const Bytes half(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(data.size() / 2));
    EXPECT_EQ(Found(*Collect({{0xE1, WithMakerNote(false, EntryRelative("KYOCERA            \0", data))}})),
              (Names{"EXIF:KYOCERA 640x480 100"}));
    EXPECT_EQ(Found(*Collect({{0xE1, WithMakerNote(true, EntryRelative("Rollei             ", data))}})),
              (Names{"EXIF:Rollei 640x480 100"}));
    const auto cut = Collect({{0xE1, WithMakerNote(false, EntryRelative("TOSHIBA            \0", half))}});
    ASSERT_EQ(cut->Thumbs.size(), 1u);
    EXPECT_LT(cut->Thumbs[0].Percent, 100);
    EXPECT_TRUE(cut->Thumbs[0].Corrupted);
    EXPECT_TRUE(Collect({{0xE1, WithMakerNote(false, EntryRelative("KYOCERA\0", data))}})->Thumbs.empty());
    EXPECT_EQ(Found(*Collect({{0xE1, WithMakerNote(false, Concat({Text("BK"), data}))}})),
              (Names{"EXIF:BK 640x480 100"}));
}

TEST(MakerNote, BareSignatureWithoutDataYieldsNothing) {
    EXPECT_TRUE(Collect({{0xE1, WithMakerNote(false, Concat({Text("BK"), Bytes(3, 0)}))}})->Thumbs.empty());
    // The entry-relative layout with its pointer far outside the maker note.
    Bytes note = EntryRelative("KONICA             \0", Bytes(100, 0));
    note[24 + 8] = 0xF0;
    note[24 + 11] = 0xFF;
    EXPECT_TRUE(Collect({{0xE1, WithMakerNote(false, note)}})->Thumbs.empty());
}

TEST(HeaderTemplates, TablesAndSizes) {
    const TkestHeaderTemplate& b = MakerNoteTemplateB();
    EXPECT_EQ(b[0], 0xFF);
    EXPECT_EQ(b[1], 0xD8);
    EXPECT_EQ(b[575], 0xFF);
    EXPECT_EQ(b[576], 0xDA);
    EXPECT_EQ(b[588], 0);
    EXPECT_EQ((b[kTemplateHeight] << 8) | b[kTemplateHeight + 1], 480);
    EXPECT_EQ((b[kTemplateWidth] << 8) | b[kTemplateWidth + 1], 640);
    // Row 4, columns 5 and 8 of K.1 changed to 61 and 94 (zigzag positions of 28 and 31).
    EXPECT_EQ(b[kTemplateQuant0 + annex_k::kZigzagOrder[28]], 61);
    EXPECT_EQ(b[kTemplateQuant0 + annex_k::kZigzagOrder[31]], 94);
    EXPECT_EQ(b[kTemplateQuant0], 16);
    const TkestHeaderTemplate& a = MakerNoteTemplateA();
    EXPECT_EQ(a[kTemplateQuant0], 18);  // (16 x 113 + 50) / 100
    EXPECT_EQ(a[kTemplateQuant0 + annex_k::kZigzagOrder[28]], 69);
    EXPECT_EQ((a[kTemplateHeight] << 8) | a[kTemplateHeight + 1], 120);
    const TkestHeaderTemplate& q = Quality85Template();
    EXPECT_EQ(Bytes(q.begin() + kTemplateQuant0, q.begin() + kTemplateQuant0 + 8), (Bytes{5, 3, 4, 4, 4, 3, 5, 4}));
    EXPECT_EQ(Bytes(q.begin() + kTemplateQuant1, q.begin() + kTemplateQuant1 + 8), (Bytes{5, 5, 5, 7, 6, 7, 14, 8}));
    EXPECT_EQ(Bytes(q.begin() + kTemplateQuant1 + 14, q.begin() + kTemplateQuant1 + 64), Bytes(50, 30));
}

// ---------------------------------------------------------------------------------------
// MPF

struct MpEntry {
    std::uint32_t attributes, size, offset;
    std::uint16_t dependent1, dependent2;
};

// An MP Index IFD at 8: the given entries (NumberOfImages, MPEntry ...), the MP entries at 100.
Bytes Mpf(bool be, const std::vector<Entry>& ifd, const std::vector<MpEntry>& entries) {
    TiffBuilder t(be);
    t.Ifd(8, ifd, 0);
    std::uint32_t at = 100;
    for (const MpEntry& e : entries) {
        t.U32(at, e.attributes);
        t.U32(at + 4, e.size);
        t.U32(at + 8, e.offset);
        t.U16(at + 12, e.dependent1);
        t.U16(at + 14, e.dependent2);
        at += 16;
    }
    t.Put(at, Bytes(4, 0));
    return MpfPayload(t);
}
Entry Images(std::uint32_t n) { return Long(0xB001, n); }
Entry MpEntries(std::uint32_t count) { return Undefined(0xB002, count, 100); }
constexpr std::int64_t kMpHeader = 2 + 8;  // file offset of the MP header: marker at 2

using Posts = std::vector<std::pair<std::int64_t, std::int32_t>>;
Posts PostsOf(const TkestJpegThumbs& thumbs) {
    Posts out;
    for (const auto& p : thumbs.PostThumbs) {
        EXPECT_EQ(p.Name, "MPF");
        out.emplace_back(p.Offset, p.Size);
    }
    return out;
}

TEST(Mpf, DependentImagesBecomePairsOfPostThumbs) {
    const MpEntry primary = {0x80000000u | 0x030000, 1000, 0, 2, 0};
    const MpEntry preview = {0x010001, 5000, 0x3000, 0, 0};
    struct Case {
        const char* what;
        bool be;
        std::vector<Entry> ifd;
        std::vector<MpEntry> entries;
        Posts posts;
    };
    const Case cases[] = {
        {"dependent preview", false, {Images(2), MpEntries(32)}, {primary, preview},
         {{kMpHeader + 0x3000, 5000}, {0x3000, 5000}}},
        {"big-endian", true, {Images(2), MpEntries(32)}, {primary, preview},
         {{kMpHeader + 0x3000, 5000}, {0x3000, 5000}}},
        {"stereo pair: independent images", false, {Images(2), MpEntries(32)},
         {{0x020002, 1000, 0, 0, 0}, {0x020002, 5000, 0x3000, 0, 0}}, {}},
        {"MPEntry before NumberOfImages", false, {MpEntries(32), Images(2)}, {primary, preview}, {}},
        {"one image announced", false, {Images(1), MpEntries(32)}, {primary, preview}, {}},
        {"count of 4 or less", false, {Images(2), MpEntries(4)}, {primary, preview}, {}},
        {"same entry twice", false, {Images(2), MpEntries(32)}, {{0x80000000u, 1000, 0, 2, 2}, preview},
         {{kMpHeader + 0x3000, 5000}, {0x3000, 5000}}},
        {"entry number beyond the list", false, {Images(2), MpEntries(32)}, {{0x80000000u, 1000, 0, 7, 0}, preview},
         {}},
        // 2^28 images: 16 times that wraps to 0 in 32 bits; the entries present are still read.
        {"hostile image count", false, {Images(0x10000000u), MpEntries(32)}, {primary, preview},
         {{kMpHeader + 0x3000, 5000}, {0x3000, 5000}}},
        {"size of 2 GiB or more", false, {Images(2), MpEntries(32)}, {primary, {0, 0x90000000u, 0x3000, 0, 0}},
         {{kMpHeader + 0x3000, static_cast<std::int32_t>(0x90000000u)}, {0x3000, static_cast<std::int32_t>(0x90000000u)}}},
    };
    for (const Case& c : cases) {
        const auto thumbs = Collect({{0xE2, Mpf(c.be, c.ifd, c.entries)}});
        EXPECT_EQ(PostsOf(*thumbs), c.posts) << c.what;
        EXPECT_TRUE(thumbs->Thumbs.empty()) << c.what;
    }
}

TEST(Mpf, SegmentAcceptedOnlyWithSignatureAndTiffHeader) {
    const Bytes good = Mpf(false, {Images(2)}, {});
    EXPECT_TRUE(TkestJpegThumbMPFHandler::CanHandle(0xE2, ByteView(good), 100));
    EXPECT_FALSE(TkestJpegThumbMPFHandler::CanHandle(0xE1, ByteView(good), 100));
    const Bytes twelve(good.begin(), good.begin() + 12);
    EXPECT_FALSE(TkestJpegThumbMPFHandler::CanHandle(0xE2, ByteView(twelve), 12));
}

// ---------------------------------------------------------------------------------------
// Hostile segments

TEST(HostileSegments, MutatedSegmentsAreReadWithinTheirBytes) {
    // Sane segments of every handler, then copies with bytes changed (often to large 32-bit
    // values) and cut short. Each copy is the last segment of its run, in a buffer of its
    // exact size, so that a read past the bytes present is a read past the buffer, which
    // the sanitizer build reports.
    const Bytes thumb = jpeg_fixture::BaselineImage(24, 16);
    std::vector<Bytes> seeds;
    {
        std::vector<Entry> ifd1 = Uncompressed(4, 4, 6, 400, 300);
        ifd1.push_back(Long(kJpegOffset, 500));
        TiffBuilder t = ExifChain(false, ifd1);
        t.ShortValues(300, {8, 8, 8});
        t.Put(400, Bytes(24, 1));
        t.Put(500, thumb);
        seeds.push_back(ExifPayload(t));
    }
    seeds.push_back(WithMakerNote(true, OlympusMakerNote(false, 1, 0x100, 0x200)));
    seeds.push_back(WithMakerNote(false, EntryRelative("KYOCERA            \0", Bytes(64, 0x55))));
    seeds.push_back(Mpf(false, {Images(3), MpEntries(48)},
                        {{0x80000000u, 10, 0, 2, 3}, {0, 20, 0x100, 0, 0}, {0, 30, 0x200, 0, 0}}));
    seeds.push_back(Jfxx(0x10, thumb));
    seeds.push_back(Jfxx(0x11, Concat({{4, 4}, Bytes(800, 2)})));
    seeds.push_back(Jfif(2, 2, Concat({Bytes(12, 3), thumb})));
    const std::uint8_t markers[] = {0xE1, 0xE1, 0xE1, 0xE2, 0xE0, 0xE0, 0xE0};

    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t which = static_cast<std::size_t>(round) % seeds.size();
        Bytes payload = seeds[which];
        const int changes = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < changes; ++i) {
            const std::size_t at = random() % payload.size();
            const std::uint8_t value = (random() % 2) ? 0xFF : static_cast<std::uint8_t>(random());
            payload[at] = value;
            if (random() % 3 == 0 && at + 1 < payload.size()) payload[at + 1] = 0xFF;
        }
        jpeg_fixture::JpegBuilder b;
        b.Segment(markers[which], payload);
        Bytes run = b.Data();
        if (random() % 2) run.resize(4 + random() % payload.size());  // cut short
        run.shrink_to_fit();
        TkestJpegThumbs thumbs;
        thumbs.ProcessSegments(kRunOffset, run);
        for (const TkestJpegThumb& t : thumbs.Thumbs) {
            EXPECT_GE(t.Offset, 0) << round;
            EXPECT_LE(t.Offset + t.Size, static_cast<std::int64_t>(payload.size())) << round;
        }
    }
}

}  // namespace

// The "Thumbnails" field of whole files, through the plugin's root: files exiftool wrote
// thumbnails into, files the fixture builder wrote JFIF, JFXX and MPF previews into (with
// every header field beside them), and every file of the corpus that exiftool finds a
// preview in.
#include "analysis/info.h"
#include "analysis/root.h"
#include "frame/wdx.h"
#include "icc/icc_digest.h"
#include "support/temp_files.h"
#include "thumb_helpers.h"
#include "png_builder.h"
#include "tiff_builder.h"
#include "trailer_builder.h"
#include "xmp_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <regex>
#include <set>
#include <sstream>

using jpeg_fixture::Concat;
using jpeg_fixture::Text;

namespace {

std::filesystem::path FromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return std::filesystem::path(value && *value ? value : fallback);
}
std::filesystem::path ToolDir() { return FromEnvironment("ORVANE_THUMBS_TOOL_DIR", ORVANE_THUMBS_TOOL_DIR); }
std::filesystem::path CorpusDir() { return FromEnvironment("ORVANE_CORPUS", ORVANE_CORPUS_DEFAULT); }

bool HasTool(const std::string& tool) {
    std::ifstream in(ToolDir() / "tools.txt");
    std::string line;
    while (std::getline(in, line))
        if (line == tool) return true;
    return false;
}

std::vector<std::vector<std::string>> ReadTsv(const std::filesystem::path& path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        std::string field;
        std::stringstream s(line);
        while (std::getline(s, field, '\t')) fields.push_back(field);
        if (!line.empty() && line.back() == '\t') fields.emplace_back();
        rows.push_back(fields);
    }
    return rows;
}

TOrvaneRoot& Root() {
    static const auto root = [] {
        auto r = std::make_unique<TOrvaneRoot>();
        r->CreateDefaultFields();
        return r;
    }();
    return *root;
}

// The "Thumbnails" field of a file as the host would read it (field 8, 8-bit text).
std::string Thumbnails(const std::filesystem::path& file) {
    std::array<char, 4096> buffer{};
    const int type = Root().GetFieldValue(WideName(file), 8, 0, buffer.data(), static_cast<int>(buffer.size()), 0, false);
    if (type == ft_fieldempty) return "";
    EXPECT_EQ(type, ft_string) << file;
    return buffer.data();
}

// ---------------------------------------------------------------------------------------
// Files made by real tools

TEST(ToolFiles, ExifThumbnailsWrittenByExiftool) {
    if (!HasTool("exiftool")) GTEST_SKIP() << "exiftool was not found by the setup step";
    const auto rows = ReadTsv(ToolDir() / "expected.tsv");
    ASSERT_EQ(rows.size(), 4u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 2u);
        // cjpeg's main image has a JFIF segment without thumbnail: the Exif one is all there is.
        EXPECT_EQ(Thumbnails(ToolDir() / row[0]), "EXIF:" + row[1] + " ") << row[0];
    }
    EXPECT_EQ(Thumbnails(ToolDir() / "main.jpg"), "");
}

// ---------------------------------------------------------------------------------------
// Files the fixture builder writes

TEST(BuiltFiles, JfifAndJfxxThumbnails) {
    Bytes jfif = jpeg_fixture::JfifPayload();
    jfif[12] = 3;
    jfif[13] = 2;
    jfif.resize(jfif.size() + 18, 0x33);
    const Bytes jfxx = Concat({Text(std::string_view("JFXX\0\x10", 6)), jpeg_fixture::BaselineImage(80, 60)});
    TempDir dir;
    const auto file = dir / "jfif.jpg";
    WriteFile(file, ImageWith({{0xE0, jfif}, {0xE0, jfxx}}));
    EXPECT_EQ(Thumbnails(file), "JFXX:Jpg:80x60 , JFIF:3x2 ");
    // Nothing a handler noted without showing it: "Debug" has no value (it is never false).
    std::int32_t debug = 7;
    EXPECT_EQ(Root().GetFieldValue(WideName(file), 28, 0, &debug, sizeof debug, 0, false), ft_fieldempty);
}

// An MPF payload (little-endian) listing the primary image, a dependent parent, and one
// dependent image of `size` bytes at `offset` from the MP header.
Bytes MpfListing(std::uint32_t offset, std::uint32_t size) {
    tiff_fixture::TiffBuilder t(false);
    t.Ifd(8, {tiff_fixture::Long(0xB001, 2), tiff_fixture::Undefined(0xB002, 32, 50)}, 0);
    t.U32(50, 0x80030000u);  // dependent parent, primary image
    t.U32(54, 1000);
    t.U32(58, 0);
    t.U16(62, 2);            // the second entry depends on it
    t.U16(64, 0);
    t.U32(66, 0x00010001u);
    t.U32(70, size);
    t.U32(74, offset);
    t.Put(78, Bytes(8, 0));
    return tiff_fixture::MpfPayload(t);
}

// File offset of segment `index` of an image made by ImageWith: SOI, then the segments.
std::uint32_t SegmentAt(const Segments& segments, std::size_t index) {
    std::size_t at = 2;
    for (std::size_t i = 0; i < index; ++i) at += 4 + segments[i].second.size();
    return static_cast<std::uint32_t>(at);
}

// ImageWith(`segments`, `tail`) where segment `mpf` is an MPF listing of `tail` (`size`
// bytes declared), stored after the main image's EOI.
Bytes ImageWithMpfTail(Segments segments, std::size_t mpf, const Bytes& tail, std::uint32_t size) {
    segments[mpf].second = MpfListing(0, size);
    const auto mainSize = static_cast<std::uint32_t>(ImageWith(segments).size());
    segments[mpf].second = MpfListing(mainSize - (SegmentAt(segments, mpf) + 8), size);
    return ImageWith(segments, tail);
}

// An image whose MPF segment lists a dependent preview stored after its EOI, at an offset
// from the MP header (as the format defines it) or from the file's start (as some writers
// store it); either way one of the pair of places holds the preview.
TEST(BuiltFiles, MpfPreviewAfterTheMainImage) {
    const Bytes preview = jpeg_fixture::BaselineImage(320, 240);
    const auto size = static_cast<std::uint32_t>(preview.size());
    for (bool absolute : {false, true}) {
        const std::size_t mainSize = ImageWith({{0xE2, MpfListing(0, size)}}).size();
        const auto offset = static_cast<std::uint32_t>(absolute ? mainSize : mainSize - (2 + 8));
        TempDir dir;
        const auto file = dir / "mpf.jpg";
        WriteFile(file, ImageWith({{0xE2, MpfListing(offset, size)}}, preview));
        EXPECT_EQ(Thumbnails(file), "MPF:320x240 ") << absolute;
    }
}

// ---------------------------------------------------------------------------------------
// Previews beside the other header fields. What a preview's check meets stays with that
// preview; the same bytes give the same status wherever they lie; a preview (the bytes at
// one file offset) is listed once.

// The fields the header pass fills.
struct HeaderFields {
    std::string ExifFileName, Segments, ComponentIds, ColorSpace, Encoding;
    std::int32_t RestartInterval = 0;
    std::string QTables;
    std::int32_t Quality = 0;
    std::string Thumbnails;
    bool Debug = false;
    std::int32_t IccSize = 0;
    bool operator==(const HeaderFields&) const = default;
};

void PrintTo(const HeaderFields& h, std::ostream* os) {
    *os << "{exif \"" << h.ExifFileName << "\", segments \"" << h.Segments << "\", ids \"" << h.ComponentIds
        << "\", " << h.ColorSpace << ", " << h.Encoding << ", restart " << h.RestartInterval << ", qtables "
        << h.QTables << ", quality " << h.Quality << ", thumbnails \"" << h.Thumbnails << "\", debug " << h.Debug
        << ", icc " << h.IccSize << "}";
}

HeaderFields HeaderOf(const Bytes& bytes) {
    TempDir dir;
    const auto file = dir / "file.jpg";
    WriteFile(file, bytes);
    const auto record = Root().AnalyseFile(WideName(file));
    const auto& info = static_cast<const TkestInfo&>(*record);
    EXPECT_EQ(info.Kind, fkJpeg);
    return {info.ExifFileName, info.Segments, info.ComponentIdText, info.ColorSpace, info.Encoding,
            info.RestartInterval, DigestToHex(info.QTablesDigest), info.Quality, info.Thumbnails, info.Debug,
            info.IccSize};
}

// The header fields of ImageWith's main image with these segments and previews.
HeaderFields MainImage(const std::string& segments, const std::string& thumbnails, bool debug = false) {
    static const HeaderFields main = [] {
        HeaderFields h = HeaderOf(ImageWith({}));
        EXPECT_EQ(h.ComponentIds, "01 02 03");
        EXPECT_EQ(h.ColorSpace, "YCbCr");
        EXPECT_EQ(h.Encoding, "Baseline DCT, Huffman coding");
        EXPECT_EQ(h.Quality, 75);
        EXPECT_NE(h.QTables, std::string(32, '0'));
        return h;
    }();
    HeaderFields h = main;
    h.Segments = segments;
    h.Thumbnails = thumbnails;
    h.Debug = debug;
    return h;
}

struct FileCase {
    const char* what;
    Bytes file;
    HeaderFields expected;
};

void ExpectHeaders(const std::vector<FileCase>& cases) {
    for (const FileCase& c : cases) EXPECT_EQ(HeaderOf(c.file), c.expected) << c.what;
}

// A progressive stream of a 65,535 x 65,535 frame with three components and one DC first
// pass: the coefficient maps of its scan would pass the limit a parse may keep.
Bytes HugeProgressiveStream() {
    jpeg_fixture::JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK();
    b.Sof(0xC2, 65535, 65535, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}});
    b.Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}}, 0, 0).Raw(Bytes(16, 0)).Eoi();
    return b.Data();
}

// A progressive grey 1024 x 1024 stream whose DC pass decodes, followed by `scans` AC first
// passes made of end-of-band runs of 32,767 blocks (EOB14 as the one code of the AC table):
// few bytes for the blocks they pass, so that the work budget of its parse runs out.
Bytes ProgressiveBeyondItsBudget(int scans) {
    jpeg_fixture::JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC2, 1024, 1024, {{1, 1, 1, 0}});
    b.Sos({{1, 0, 0}}, 0, 0).ProgressiveScanData();
    Bytes dht = {0x10, 1};
    dht.resize(17, 0);
    dht.push_back(0xE0);
    b.Segment(0xC4, dht);
    for (int s = 0; s < scans; ++s) {
        b.Segment(0xDA, {1, 1, 0x00, 1, 63, 0});
        Bytes data;
        jpeg_fixture::BitWriter bits(data);
        bits.Put(0x3FFF, 15);  // "0", then 14 one bits: 32,767 blocks
        bits.Flush();
        b.Raw(data);
    }
    b.Eoi();
    return b.Data();
}

TEST(HeaderFields, AHeavyPreviewEndsOnlyItsOwnCheck) {
    const Bytes huge = HugeProgressiveStream();
    const Bytes beyond = ProgressiveBeyondItsBudget(400);
    // Each alone ends its parse like a failed allocation.
    for (const Bytes* stream : {&huge, &beyond}) {
        TMemoryStream in(*stream);
        TkestBaseJpegParser parser(0);
        EXPECT_THROW(parser.Parse(in, 0, 0), std::bad_alloc);
    }
    ExpectHeaders({
        {"a frame whose maps pass the limit, in a COM segment", ImageWith({{0xFE, huge}}), MainImage("COM", "")},
        {"the same through an MPF entry",
         ImageWithMpfTail({{0xE2, {}}}, 0, huge, static_cast<std::uint32_t>(huge.size())), MainImage("MPF", "")},
        {"a stream beyond its work budget, in a COM segment", ImageWith({{0xFE, beyond}}),
         MainImage("COM", "UNK*:C:1024x1024 (Corrupted 99%)")},
    });
}

// A Photoshop APP13 payload: image resource blocks, each a signature, an identifier, an empty
// name padded to two bytes, the data size and the data padded to an even size.
Bytes PhotoshopPayload(const std::vector<std::pair<std::string, std::pair<std::uint16_t, Bytes>>>& resources) {
    Bytes out = Text(std::string_view("Photoshop 3.0\0", 14));
    for (const auto& [signature, resource] : resources) {
        const auto& [id, data] = resource;
        const auto size = static_cast<std::uint32_t>(data.size());
        out = Concat({out, Text(signature), {static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id), 0, 0},
                      {static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                       static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)},
                      data});
        if (size % 2) out.push_back(0);
    }
    return out;
}

TEST(HeaderFields, PhotoshopResourceSignaturesInEitherByteOrder) {
    Bytes thumbnail(28, 0);
    thumbnail[3] = 1;  // format 1: JPEG
    thumbnail = Concat({thumbnail, jpeg_fixture::BaselineImage(80, 60)});
    std::vector<FileCase> cases;
    for (const char* signature : {"8BIM", "PHUT", "AgHg", "DCSR", "MeSa", "gHgA", "RSCD", "aSeM"}) {
        const Bytes ps = PhotoshopPayload({{signature, {0x0404, Bytes(6, 1)}}, {signature, {0x040C, thumbnail}}});
        cases.push_back({signature, ImageWith({{0xED, ps}}), MainImage("PS", "PS:80x60 ")});
    }
    ExpectHeaders(cases);
}

// A baseline 160 x 120 image with a restart interval of 10 MCUs, whose second restart marker
// carries the wrong number.
Bytes WrongRestartMarker() {
    jpeg_fixture::JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 160, 120, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}).Dri(10);
    b.Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}}).SequentialScanData().Eoi();
    Bytes bytes = b.Data();
    const std::uint8_t marker[] = {0xFF, 0xD1};
    const auto rst1 = std::search(bytes.begin(), bytes.end(), std::begin(marker), std::end(marker));
    EXPECT_NE(rst1, bytes.end());
    if (rst1 != bytes.end()) rst1[1] = 0xD5;
    return bytes;
}

// An Exif payload whose IFD1 holds `ifd1`, the thumbnail at TIFF offset 200.
Bytes ExifWithIfd1(const std::vector<tiff_fixture::Entry>& ifd1, const Bytes& thumbnail) {
    tiff_fixture::TiffBuilder t(false);
    t.Ifd(8, {tiff_fixture::Short(274, 1)}, 26);
    t.Ifd(26, ifd1, 0);
    t.Put(200, thumbnail);
    return tiff_fixture::ExifPayload(t);
}

TEST(HeaderFields, SameBytesSameStatusWhereverTheyLie) {
    const Bytes preview = jpeg_fixture::BaselineImage(320, 240);
    const Bytes cut(preview.begin(), preview.begin() + static_cast<std::ptrdiff_t>(preview.size() * 6 / 10));
    const Bytes restart = WrongRestartMarker();
    const auto restartSize = static_cast<std::uint32_t>(restart.size());
    // The strip's offset counts from the TIFF header, at file offset 2 + 10.
    auto strip = [&](std::uint32_t at) {
        return ExifWithIfd1({tiff_fixture::Short(259, 6), tiff_fixture::Long(273, at), tiff_fixture::Long(279, restartSize)},
                            {});
    };
    const auto stripAt = static_cast<std::uint32_t>(ImageWith({{0xE1, strip(0)}}).size()) - 12;
    ExpectHeaders({
        {"cut short at the end of the file",
         ImageWithMpfTail({{0xE2, {}}}, 0, cut, static_cast<std::uint32_t>(preview.size())),
         MainImage("MPF", "MPF:320x240 (Corrupted 55%)")},
        {"the same bytes in a segment", ImageWith({{0xE2, cut}}), MainImage("APP2", "APP2v1:C:320x240 (Corrupted 55%)")},
        {"a wrong restart marker in an IFD1 thumbnail",
         ImageWith({{0xE1, ExifWithIfd1({tiff_fixture::Long(513, 200), tiff_fixture::Long(514, restartSize)}, restart)}}),
         MainImage("EXIF", "EXIF:160x120 (Corrupted 38%)")},
        {"the same thumbnail as a strip after the main image", ImageWith({{0xE1, strip(stripAt)}}, restart),
         MainImage("EXIF", "EXIF:160x120 (Corrupted 38%)")},
    });
}

// An Exif payload whose Exif IFD (pointed to by a SHORT or a LONG) holds the maker note
// `note` at TIFF offset 100.
Bytes ExifWithMakerNote(bool bigEndian, bool shortPointer, const Bytes& note) {
    tiff_fixture::TiffBuilder t(bigEndian);
    t.Ifd(8, {shortPointer ? tiff_fixture::Short(34665, 40) : tiff_fixture::Long(34665, 40)}, 0);
    t.Ifd(40, {tiff_fixture::Undefined(37500, static_cast<std::uint32_t>(note.size()), 100)}, 0);
    t.Put(100, note);
    return tiff_fixture::ExifPayload(t);
}
// File offset of that maker note in an image whose first segment is the Exif one.
constexpr std::uint32_t kMakerNoteAt = 2 + 10 + 100;

TEST(HeaderFields, OnePreviewIsListedOnce) {
    const Bytes thumb = jpeg_fixture::BaselineImage(160, 120);
    const Bytes preview = jpeg_fixture::BaselineImage(320, 240);
    const auto thumbSize = static_cast<std::uint32_t>(thumb.size());
    const auto previewSize = static_cast<std::uint32_t>(preview.size());
    // An Olympus preview inside the maker note, after its 72 bytes.
    const Bytes inside = Concat({tiff_fixture::OlympusMakerNote(false, 1, 80, thumbSize), Bytes(8, 0), thumb});
    // An Olympus reference and an MPF entry to the same preview after the main image.
    Segments both = {{0xE1, ExifWithMakerNote(false, false, tiff_fixture::OlympusMakerNote(false, 1, 0, previewSize))},
                     {0xE2, {}}};
    both[1].second = MpfListing(0, previewSize);
    const auto mainSize = static_cast<std::uint32_t>(ImageWith(both).size());
    both[0].second = ExifWithMakerNote(false, false, tiff_fixture::OlympusMakerNote(false, 1, mainSize - kMakerNoteAt, previewSize));
    ExpectHeaders({
        {"an IFD1 strip inside its own segment",
         ImageWith({{0xE1, ExifWithIfd1({tiff_fixture::Short(259, 6), tiff_fixture::Long(273, 200),
                                         tiff_fixture::Long(279, thumbSize)}, thumb)}}),
         MainImage("EXIF", "EXIF:160x120 ")},
        {"an Olympus preview inside its own segment", ImageWith({{0xE1, ExifWithMakerNote(false, false, inside)}}),
         MainImage("EXIF", "EXIF:160x120 ")},
        {"an Olympus reference and an MPF entry to one preview", ImageWithMpfTail(both, 1, preview, previewSize),
         MainImage("EXIF, MPF", "EXIF:320x240 ")},
    });
}

// Little-endian bytes of a maker note: text, 16- and 32-bit numbers, 12-byte IFD entries.
struct NoteWriter {
    Bytes Data;
    NoteWriter& Raw(std::string_view text) {
        Data.insert(Data.end(), text.begin(), text.end());
        return *this;
    }
    NoteWriter& U16(std::uint16_t v) {
        Data.insert(Data.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
        return *this;
    }
    NoteWriter& U32(std::uint32_t v) { return U16(static_cast<std::uint16_t>(v)).U16(static_cast<std::uint16_t>(v >> 16)); }
    NoteWriter& Long(std::uint16_t tag, std::uint32_t v) { return U16(tag).U16(4).U32(1).U32(v); }
    // An IFD of LONG entries and a zero next-IFD offset.
    NoteWriter& Ifd(std::initializer_list<std::pair<std::uint16_t, std::uint32_t>> entries) {
        U16(static_cast<std::uint16_t>(entries.size()));
        for (const auto& [tag, v] : entries) Long(tag, v);
        return U32(0);
    }
};

// An Exif payload (little-endian) whose IFD0 names the camera's maker and whose Exif IFD
// holds the maker note `note` at TIFF offset 100.
Bytes ExifWithMakeAndMakerNote(const std::string& make, const Bytes& note) {
    tiff_fixture::TiffBuilder t(false);
    t.Ifd(8, {{271, 2, static_cast<std::uint32_t>(make.size() + 1), 60}, tiff_fixture::Long(34665, 40)}, 0);
    t.Ifd(40, {tiff_fixture::Undefined(37500, static_cast<std::uint32_t>(note.size()), 100)}, 0);
    t.Put(60, Concat({Text(make), Bytes{0}}));
    t.Put(100, note);
    return tiff_fixture::ExifPayload(t);
}

// Maker notes that point to a preview after the main image, each with the base its offsets
// count from: the TIFF header (file offset 12) or a place in the maker note.
TEST(HeaderFields, MakerNotePreviewsAtFileOffsets) {
    const Bytes thumb = jpeg_fixture::BaselineImage(160, 120);
    const Bytes preview = jpeg_fixture::BaselineImage(320, 240);
    const auto previewSize = static_cast<std::uint32_t>(preview.size());
    constexpr std::uint32_t kTiffAt = 2 + 10;
    struct Layout {
        const char* what;
        std::string make;
        std::uint32_t base;  // file offset the preview's offset counts from
        std::function<Bytes(std::uint32_t)> note;
    };
    const std::vector<Layout> layouts = {
        {"Nikon preview IFD, from the maker note's own TIFF header", "NIKON", kMakerNoteAt + 10,
         [&](std::uint32_t start) {
             NoteWriter w;
             w.Raw(std::string_view("Nikon\0\x02\x10\0\0II*\0", 14)).U32(8).Ifd({{0x0011, 26}});
             return w.Ifd({{0x0201, start}, {0x0202, previewSize}}).Data;
         }},
        {"Pentax AOC, from the TIFF header", "Asahi", kTiffAt,
         [&](std::uint32_t start) {
             NoteWriter w;
             return w.Raw(std::string_view("AOC\0II", 6)).Ifd({{0x0004, start}, {0x0003, previewSize}}).Data;
         }},
        {"PENTAX, from the maker note", "PENTAX", kMakerNoteAt,
         [&](std::uint32_t start) {
             NoteWriter w;
             return w.Raw(std::string_view("PENTAX \0II", 10)).Ifd({{0x0004, start}, {0x0003, previewSize}}).Data;
         }},
        {"Minolta, a bare IFD, from the TIFF header", "Minolta Co., Ltd.", kTiffAt,
         [&](std::uint32_t start) { return NoteWriter().Ifd({{0x0088, start}, {0x0089, previewSize}}).Data; }},
        {"Konica Minolta, a bare IFD, from the TIFF header", "KONICA MINOLTA", kTiffAt,
         [&](std::uint32_t start) { return NoteWriter().Ifd({{0x0088, start}, {0x0089, previewSize}}).Data; }},
        {"Minolta MINOL, from the TIFF header", "MINOLTA CO.,LTD", kTiffAt,
         [&](std::uint32_t start) {
             NoteWriter w;
             return w.Raw(std::string_view("MINOL\0II", 8)).Ifd({{0x0088, start}, {0x0089, previewSize}}).Data;
         }},
        {"Minolta CAMER, from the TIFF header", "Minolta Co., Ltd.", kTiffAt,
         [&](std::uint32_t start) {
             NoteWriter w;
             return w.Raw(std::string_view("CAMER\0II", 8)).Ifd({{0x0088, start}, {0x0089, previewSize}}).Data;
         }},
        {"Casio QVC, from the TIFF header", "CASIO COMPUTER CO.,LTD.", kTiffAt,
         [&](std::uint32_t start) {
             NoteWriter w;
             return w.Raw(std::string_view("QVC\0\0\0", 6)).Ifd({{0x0004, start}, {0x0003, previewSize}}).Data;
         }},
        {"Sony, from the TIFF header", "SONY", kTiffAt,
         [&](std::uint32_t start) {
             NoteWriter w;
             return w.Raw(std::string_view("SONY DSC \0\0\0", 12)).Ifd({{0x0201, start}, {0x0202, previewSize}}).Data;
         }},
        {"Samsung STMN, from the TIFF header", "SAMSUNG", kTiffAt,
         [&](std::uint32_t start) { return NoteWriter().Raw(std::string_view("STMN100\0", 8)).U32(start).U32(previewSize).Data; }},
    };
    std::vector<FileCase> cases;
    for (const Layout& l : layouts) {
        const auto mainSize = static_cast<std::uint32_t>(ImageWith({{0xE1, ExifWithMakeAndMakerNote(l.make, l.note(0))}}).size());
        cases.push_back({l.what, ImageWith({{0xE1, ExifWithMakeAndMakerNote(l.make, l.note(mainSize - l.base))}}, preview),
                         MainImage("EXIF", "EXIF:320x240 ")});
    }
    // A pointer into the segment: the segment's scan lists what lies there, as before.
    NoteWriter pentax;
    pentax.Raw(std::string_view("PENTAX \0II", 10)).Ifd({{0x0004, 40}, {0x0003, static_cast<std::uint32_t>(thumb.size())}});
    pentax.Data.resize(40, 0);
    cases.push_back({"a pointer into the segment",
                     ImageWith({{0xE1, ExifWithMakeAndMakerNote("PENTAX", Concat({pentax.Data, thumb}))}}, preview),
                     MainImage("EXIF", "EXIF:C:160x120 ")});
    // Counted from the TIFF header instead of the maker note, the same number lands on no
    // JPEG stream.
    {
        const Layout& l = layouts[2];
        const auto mainSize = static_cast<std::uint32_t>(ImageWith({{0xE1, ExifWithMakeAndMakerNote(l.make, l.note(0))}}).size());
        cases.push_back({"PENTAX counted from the wrong base",
                         ImageWith({{0xE1, ExifWithMakeAndMakerNote(l.make, l.note(mainSize - kTiffAt))}}, preview),
                         MainImage("EXIF", "")});
    }
    ExpectHeaders(cases);
}

TEST(HeaderFields, ExifIfdPointerOfEitherTypeInEitherByteOrder) {
    const Bytes preview = jpeg_fixture::BaselineImage(320, 240);
    const auto previewSize = static_cast<std::uint32_t>(preview.size());
    std::vector<FileCase> cases;
    for (const bool bigEndian : {false, true})
        for (const bool shortPointer : {false, true}) {
            auto exif = [&](std::uint32_t start) {
                return ExifWithMakerNote(bigEndian, shortPointer, tiff_fixture::OlympusMakerNote(bigEndian, 1, start, previewSize));
            };
            const auto mainSize = static_cast<std::uint32_t>(ImageWith({{0xE1, exif(0)}}).size());
            cases.push_back({bigEndian ? (shortPointer ? "MM SHORT" : "MM LONG") : (shortPointer ? "II SHORT" : "II LONG"),
                             ImageWith({{0xE1, exif(mainSize - kMakerNoteAt)}}, preview),
                             MainImage("EXIF", "EXIF:320x240 ")});
        }
    ExpectHeaders(cases);
}

TEST(HeaderFields, AnotherHandlersSignatureEndsARun) {
    const Bytes small = jpeg_fixture::BaselineImage(40, 24);
    const Bytes preview = jpeg_fixture::BaselineImage(320, 240);
    const auto previewSize = static_cast<std::uint32_t>(preview.size());
    const Bytes scrnail = Concat({Text(std::string_view("SCRNAIL\0", 8)), Bytes(15360, 0x80)});
    const Bytes pdbigtn = Concat({Text(std::string_view("PDBigTN\0", 8)), Bytes(10, 0), jpeg_fixture::BaselineImage(80, 60)});
    ExpectHeaders({
        {"APP2v1, then MPF", ImageWithMpfTail({{0xE2, small}, {0xE2, {}}}, 1, preview, previewSize),
         MainImage("APP2, MPF", "MPF:320x240 , APP2v1:C:40x24 ")},
        {"MPF, then APP2v1", ImageWithMpfTail({{0xE2, {}}, {0xE2, small}}, 0, preview, previewSize),
         MainImage("MPF, APP2", "MPF:320x240 , APP2v1:C:40x24 ")},
        {"SCRNAIL, then PDBigTN", ImageWith({{0xE4, scrnail}, {0xE4, pdbigtn}}),
         MainImage("SCRNAIL [APP4], PDBigTN", "SCRNAIL:320x240 (10%), PDBigTN:80x60 ")},
    });
}

// ---------------------------------------------------------------------------------------
// Trailers after the main image that index images of their own

TEST(HeaderFields, ImagesThatTrailersIndex) {
    const Bytes thumb = jpeg_fixture::BaselineImage(160, 120);
    const Bytes preview = jpeg_fixture::BaselineImage(320, 240);
    const Bytes png = png_fixture::RgbImage(64, 48);
    // Half of the rows' bytes: 48 rows of a filter byte and 64 x 3 samples.
    const Bytes halfPng(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png_fixture::kRowsAt + 48 * 193 / 2));
    const Bytes iptc = Concat({Bytes{0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x02}});
    const Bytes fotoStation =
        Concat({trailer_fixture::FotoStationRecord(4, preview), trailer_fixture::FotoStationRecord(3, thumb), trailer_fixture::FotoStationRecord(1, iptc)});
    Bytes tooLong = trailer_fixture::FotoStationRecord(3, thumb);
    tooLong[tooLong.size() - 6] = 0x7F;  // a length reaching before the start of the file
    ExpectHeaders({
        {"FotoStation thumbnail and preview", ImageWith({}, fotoStation),
         MainImage("", "FotoStation:320x240 , FotoStation:160x120 ")},
        {"a FotoStation record longer than the file", ImageWith({}, tooLong), MainImage("", "")},
        {"Samsung JPEG and PNG blocks", ImageWith({}, trailer_fixture::SamsungTrailer({png, preview})),
         MainImage("", "Samsung:320x240 , Samsung:PNG:64x48 ")},
        {"a Samsung PNG cut short", ImageWith({}, trailer_fixture::SamsungTrailer({halfPng})),
         MainImage("", "Samsung:PNG:64x48 (Corrupted 50%)")},
        {"a Samsung block before the start of the file", ImageWith({}, trailer_fixture::SamsungTrailer({preview}, 100000)),
         MainImage("", "")},
    });
}

// ---------------------------------------------------------------------------------------
// Images in XMP

TEST(HeaderFields, ImagesInXmp) {
    using namespace xmp_fixture;
    const Bytes thumb = jpeg_fixture::BaselineImage(160, 120);
    const Bytes preview = jpeg_fixture::BaselineImage(320, 240);
    const Bytes png = png_fixture::RgbImage(64, 48);
    const std::string guid = "0123456789ABCDEF0123456789ABCDEF";
    const std::string names = Attribute("xmpNote:HasExtendedXMP", guid);
    const std::string depth = Packet(Attribute("GImage:Data", Base64(preview)) + Attribute("GDepth:Data", Base64(png)));
    // Extended chunks in any order, each placed by its offset.
    auto extended = [&](const std::string& packetGuid, std::uint32_t total = 0) {
        Segments s = {{0xE1, MainXmp(Packet(names))}};
        std::vector<Bytes> chunks = ExtendedXmp(packetGuid, depth, 4000, total);
        std::reverse(chunks.begin(), chunks.end());
        for (const Bytes& c : chunks) s.push_back({0xE1, c});
        return s;
    };
    const std::string thumbnails =
        "<xmp:Thumbnails><rdf:Alt><rdf:li rdf:parseType=\"Resource\"><xmpGImg:image>" + Base64(thumb, "&#xA;") +
        "</xmpGImg:image></rdf:li></rdf:Alt></xmp:Thumbnails>";
    // A depth map whose extended packet declares more bytes than its chunks hold: the PNG is
    // cut in its rows' data.
    const std::string cutPng = Packet(Attribute("GDepth:Data", Base64(png)));
    Segments cut = {{0xE1, MainXmp(Packet(names))}, {0xE1, ExtendedXmp(guid, cutPng, 65000)[0]}};
    cut[1].second.resize(cut[1].second.size() - 4000);
    ExpectHeaders({
        {"an attribute of the main packet", ImageWith({{0xE1, MainXmp(Packet(Attribute("GImage:Data", Base64(thumb))))}}),
         MainImage("XAP", "XMP:160x120 ")},
        {"xmp:Thumbnails with line breaks as character references",
         ImageWith({{0xE1, MainXmp(Packet("", thumbnails))}}), MainImage("XAP", "XMP:160x120 ")},
        {"extended XMP assembled by offsets", ImageWith(extended(guid)),
         MainImage("XAP, XMP (6)", "XMP:320x240 , XMP:PNG:64x48 ")},
        {"extended XMP of another GUID", ImageWith(extended("FEDCBA9876543210FEDCBA9876543210")),
         MainImage("XAP, XMP (6)", "")},
        {"a depth map cut short", ImageWith(cut), MainImage("XAP, XMP", "XMP:PNG:64x48 (Corrupted 68%)")},
        {"Base64 of no image", ImageWith({{0xE1, MainXmp(Packet(Attribute("GImage:Data", Base64(Bytes(300, 7)))))}}),
         MainImage("XAP", "")},
    });
}

// ---------------------------------------------------------------------------------------
// The corpus

// Previews exiftool lists that "Thumbnails" does not show, and why.
constexpr const char* kStereo =
    "stereo pair (MP type Multi-frame Disparity): the second image is an independent image, not a preview "
    "that depends on the first, and the MPF handler lists dependent images only";
const std::map<std::string, std::string> kExceptions = {
    {"jpeg/bad/mdx-its-c3018ebe53d0046eecb58858ca869a99.jpg IFD1:ThumbnailImage",
     "the thumbnail's DHT segment is broken (djpeg: \"Bogus Huffman table definition\"), nothing of it decodes; "
     "the Exif TIFF header's magic number is not 42 either"},
    {"jpeg/pillow-frame_size.mpo MPImage2:MPImage2",
     "MP set whose first entry is not a dependent parent (attribute bit 31 clear): the second image is "
     "independent, and the MPF handler lists dependent images only"},
    {"jpeg/pillow-frozenpond.mpo MPImage2:MPImage2", kStereo},
    {"jpeg/pillow-ignore_frame_size.mpo MPImage2:MPImage2", kStereo},
    {"jpeg/pillow-sugarshack.mpo MPImage2:MPImage2", kStereo},
};

// An entry of the MANIFEST's previews_exiftool column: "Group:Tag=NB kind WxH ...".
struct ExiftoolPreview {
    std::string tag;   // Group:Tag
    std::string size;  // WxH, empty when exiftool decodes none (stubs, TIFF, raw data)
};

std::vector<ExiftoolPreview> PreviewsOf(const std::string& column) {
    static const std::regex entry(R"(^\s*([^:=]+:[^=]+)=\S+\s*(\S*)\s*(\d+x\d+)?)");
    std::vector<ExiftoolPreview> out;
    std::stringstream s(column);
    std::string part;
    while (std::getline(s, part, ';')) {
        std::smatch m;
        if (!std::regex_search(part, m, entry)) continue;
        const std::string tag = m[1];
        const std::string name = tag.substr(tag.find(':') + 1);
        const std::string group = tag.substr(0, tag.find(':'));
        const bool wanted = name == "ThumbnailImage" || name == "PreviewImage" || name.rfind("MPImage", 0) == 0 ||
                            ((group == "JFIF" || group == "JFXX") && name.rfind("Thumbnail", 0) == 0);
        if (!wanted) continue;
        const std::string kind = m[2];
        out.push_back({tag, (kind == "jpeg" || kind == "png") && m[3].matched ? std::string(m[3]) : ""});
    }
    return out;
}

std::set<std::string> SizesIn(const std::string& thumbnails) {
    static const std::regex size(R"((\d+x\d+))");
    std::set<std::string> out;
    for (auto it = std::sregex_iterator(thumbnails.begin(), thumbnails.end(), size); it != std::sregex_iterator(); ++it)
        out.insert((*it)[1]);
    return out;
}

TEST(Corpus, EveryPreviewExiftoolDecodesIsListedWithItsSize) {
    if (!std::filesystem::exists(CorpusDir() / "MANIFEST.tsv"))
        GTEST_SKIP() << "no corpus at " << CorpusDir() << " (set ORVANE_CORPUS)";
    int files = 0, matched = 0, excepted = 0, sizeless = 0;
    std::set<std::string> exceptionsUsed;
    for (const auto& row : ReadTsv(CorpusDir() / "MANIFEST.tsv")) {
        if (row.size() < 8 || row[0].rfind("jpeg/", 0) != 0) continue;
        const auto previews = PreviewsOf(row[7]);
        if (previews.empty()) continue;
        ++files;
        const std::string ours = Thumbnails(CorpusDir() / row[0]);
        const auto sizes = SizesIn(ours);
        std::printf("%-60s %s\n", row[0].c_str(), ours.c_str());
        for (const ExiftoolPreview& p : previews) {
            const std::string key = row[0] + " " + p.tag;
            if (p.size.empty()) {
                ++sizeless;
                std::printf("    %s: exiftool decodes no size (stub, TIFF or raw data)\n", p.tag.c_str());
                continue;
            }
            const auto exception = kExceptions.find(key);
            if (sizes.count(p.size)) {
                ++matched;
                EXPECT_EQ(exception, kExceptions.end()) << key << " is listed now: drop its exception";
                continue;
            }
            if (exception != kExceptions.end()) {
                ++excepted;
                exceptionsUsed.insert(key);
                std::printf("    %s %s: %s\n", p.tag.c_str(), p.size.c_str(), exception->second.c_str());
                continue;
            }
            ADD_FAILURE() << key << " " << p.size << " is not in \"" << ours << "\"";
        }
    }
    std::printf("%d files with previews; %d previews listed with their size, %d exceptions, %d without a size\n",
                files, matched, excepted, sizeless);
    for (const auto& [key, reason] : kExceptions)
        EXPECT_TRUE(exceptionsUsed.count(key)) << key << ": exception for a file or tag no longer in the corpus";
}

// exiftool's view of the corpus against the plugin's, per exiftool preview tag: of the
// images exiftool extracts with a decodable size (JPEG or PNG), how many "Thumbnails" lists
// with that size. Each one not listed is one of the exceptions above.
TEST(Corpus, PreviewsListedPerExiftoolTag) {
    if (!std::filesystem::exists(CorpusDir() / "MANIFEST.tsv"))
        GTEST_SKIP() << "no corpus at " << CorpusDir() << " (set ORVANE_CORPUS)";
    static const std::regex entry(R"(^\s*([^:=]+:[^=]+)=\S+\s*(jpeg|png)\s+(\d+x\d+))");
    std::map<std::string, std::pair<int, int>> perTag;  // tag: listed, extracted
    for (const auto& row : ReadTsv(CorpusDir() / "MANIFEST.tsv")) {
        if (row.size() < 8 || row[0].rfind("jpeg/", 0) != 0) continue;
        std::stringstream s(row[7]);
        std::string part;
        std::set<std::string> sizes;
        bool read = false;
        while (std::getline(s, part, ';')) {
            std::smatch m;
            if (!std::regex_search(part, m, entry)) continue;
            if (!read) {
                sizes = SizesIn(Thumbnails(CorpusDir() / row[0]));
                read = true;
            }
            const std::string tag = m[1], size = m[3];
            auto& [listed, extracted] = perTag[tag];
            ++extracted;
            if (sizes.count(size)) {
                ++listed;
                continue;
            }
            EXPECT_TRUE(kExceptions.count(row[0] + " " + tag)) << row[0] << " " << tag << " " << size << " is not listed";
        }
    }
    int listed = 0, extracted = 0;
    std::printf("%-40s %8s %9s\n", "exiftool tag", "listed", "extracted");
    for (const auto& [tag, counts] : perTag) {
        std::printf("%-40s %8d %9d\n", tag.c_str(), counts.first, counts.second);
        listed += counts.first;
        extracted += counts.second;
    }
    std::printf("%-40s %8d %9d\n", "all", listed, extracted);
    EXPECT_GT(extracted, 0);
}

}  // namespace

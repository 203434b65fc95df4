// The vendor handlers on segments written by the fixture builder: previews split over
// several segments, single-segment previews (rebuilt ones included), sequenced previews with
// their headers, the registry that decides between classes, and hostile runs.
#include "analysis/root.h"
#include "frame/wdx.h"
#include "support/temp_files.h"
#include "thumb_helpers.h"
#include "thumbs/registry.h"
#include "thumbs/vendor_multi.h"
#include "thumbs/vendor_sequenced.h"
#include "thumbs/vendor_single.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <set>
#include <string_view>

using jpeg_fixture::Concat;
using jpeg_fixture::Text;

namespace {

Bytes Be16(std::uint32_t v) { return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}; }
Bytes Be32(std::uint32_t v) { return Concat({Be16(v >> 16), Be16(v & 0xFFFF)}); }
Bytes Le16(std::uint32_t v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}; }
Bytes Sig(std::string_view text) { return Text(text); }

// `bytes` cut into `parts` pieces of about equal size.
std::vector<Bytes> Split(const Bytes& bytes, std::size_t parts) {
    std::vector<Bytes> out;
    const std::size_t step = (bytes.size() + parts - 1) / parts;
    for (std::size_t at = 0; at < bytes.size(); at += step)
        out.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + step)));
    return out;
}

// One segment per piece, each payload `prefix` + the piece.
Segments Pieces(std::uint8_t marker, const Bytes& prefix, const std::vector<Bytes>& pieces) {
    Segments out;
    for (const Bytes& piece : pieces) out.push_back({marker, Concat({prefix, piece})});
    return out;
}

// The records whose label starts with `name`.
std::vector<const TkestJpegThumb*> Named(const TkestJpegThumbs& thumbs, std::string_view name) {
    std::vector<const TkestJpegThumb*> out;
    for (const TkestJpegThumb& t : thumbs.Thumbs)
        if (std::string_view(t.Name).substr(0, name.size()) == name) out.push_back(&t);
    return out;
}

// Like Found, but "part" instead of the percentage of a preview that is incomplete: how much
// of a cut stream decodes depends on where it was cut.
Names Brief(const TkestJpegThumbs& thumbs) {
    Names out;
    for (const TkestJpegThumb& t : thumbs.Thumbs)
        out.push_back(t.Name + " " + std::to_string(t.Width) + "x" + std::to_string(t.Height) + " " +
                      (t.Percent == 100 ? "100" : "part") + (t.Corrupted ? " corrupt" : ""));
    return out;
}

const Bytes& Image() {
    static const Bytes image = jpeg_fixture::BaselineImage(320, 240);
    return image;
}
const Bytes& SmallImage() {
    static const Bytes image = jpeg_fixture::BaselineImage(40, 24);
    return image;
}

// ---------------------------------------------------------------------------------------
// Registry

TEST(VendorRegistry, AllClassesInTheirOrderWithTheirNames) {
    struct Row {
        const char* className;
        const char* name;
        bool multi;
    };
    const Row rows[] = {
        {"TkestJpegThumbBaseHandler", "UNK*", false},
        {"TkestJpegThumbAPP2v1Handler", "APP2v1", true},
        {"TkestJpegThumbAPP2v2Handler", "APP2v2", true},
        {"TkestJpegThumbAPP3Handler", "APP3", true},
        {"TkestJpegThumbAPP4Handler", "APP4", false},
        {"TkestJpegThumbAPP5Handler", "APP5", false},
        {"TkestJpegThumbJFIFHandler", "JFIF", false},
        {"TkestJpegThumbJFXXHandler", "JFXX", false},
        {"TkestJpegThumbExifHandler", "EXIF", false},
        {"TkestJpegThumbMPFHandler", "MPF", false},
        {"TkestJpegThumbFPXR2Handler", "FPXR2", true},
        {"TkestJpegThumbFPXR4Handler", "FPXR4", true},
        {"TkestJpegThumbFLIRHandler", "FLIR", true},
        {"TkestJpegThumbPhotoshopHandler", "PS", true},
        {"TkestJpegThumbH3X0Handler", "H3X0", true},
        {"TkestJpegThumbHPSCHandler2", "HPSCv2", true},
        {"TkestJpegThumbHPSCHandler1", "HPSCv1", true},
        {"TkestJpegThumbSCRNAILHandler", "SCRNAIL", true},
        {"TkestJpegThumbPDBigTNHandler", "PDBigTN", false},
        {"TkestJpegThumbQVGAHandler", "QVGA", false},
        {"TkestJpegThumbBGTHHandler", "BGTH", false},
        {"TkestJpegThumbPrvHandler", "PRV", true},
        {"TkestJpegThumbSamsungHandler", "Samsung", true},
        {"TkestJpegThumbXMTHHandler", "XMTH", true},
        {"TkestJpegThumbRICOHHandler", "RICOH", true},
        {"TkestJpegThumbPENTAXHandler", "PENTAX", true},
        {"TkestJpegThumbSCALADOHandler", "SCALADO", true},
        {"TkestJpegThumbQTIDebugMetadataHandler", "QTIDebug", true},
        {"TkestJpegThumbQualcommHandler", "Qualcomm", true},
    };
    const auto classes = ThumbHandlers();
    ASSERT_EQ(classes.size(), std::size(rows));
    TkestJpegThumbs owner;
    for (std::size_t i = 0; i < classes.size(); ++i) {
        EXPECT_STREQ(classes[i].ClassName, rows[i].className) << i;
        EXPECT_EQ(classes[i].IsMultiSegment, rows[i].multi) << rows[i].className;
        EXPECT_EQ(classes[i].Create(owner)->GetName(), rows[i].name) << rows[i].className;
    }
}

// The indices of the registered classes that accept a segment.
std::vector<std::size_t> AcceptedBy(std::uint8_t marker, const Bytes& payload) {
    std::vector<std::size_t> out;
    const auto classes = ThumbHandlers();
    for (std::size_t i = 0; i < classes.size(); ++i)
        if (classes[i].CanHandle(marker, ByteView(payload), static_cast<std::uint32_t>(payload.size())))
            out.push_back(i);
    return out;
}

// HP header: signature, BE32 at 4, width, height, 4 bytes, sequence number, count, then
// `extra` header bytes before the pixels.
Bytes HpHeader(std::string_view sig, std::uint32_t at4, std::uint32_t w, std::uint32_t h, std::uint32_t seq,
               std::uint32_t count, std::size_t extra) {
    return Concat({Sig(sig), Be32(at4), Be32(w), Be32(h), Be32(0), Be32(seq), Be32(count), Bytes(extra, 0)});
}

Bytes Fpxr(std::uint8_t type, std::uint16_t index, const Bytes& data) {
    return Concat({Sig(std::string_view("FPXR\0\0", 6)), {type}, Be16(index), Bytes(4, 0), data});
}

TEST(VendorRegistry, SegmentTwoClassesAcceptGoesToTheLaterRegistered) {
    struct Case {
        const char* what;
        std::uint8_t marker;
        Bytes payload;
        std::vector<std::size_t> accepted;
        Names found;
    };
    const Case cases[] = {
        {"FPXR stream data with FF D8 FF at 60 is also an APP2v2 segment", 0xE2,
         Fpxr(2, 1, Concat({Bytes(47, 0), Image()})), {0, 2, 10}, {"FPXR2:1:C 320x240 100"}},
        {"HPSC with 1 at offset 4 and 36 bytes or more: both HPSC classes and APP4", 0xE4,
         Concat({HpHeader("HPSC", 1, 2, 2, 1, 1, 4), Bytes(8, 0x80), Bytes(130, 0xFF)}), {0, 4, 15, 16},
         {"HPSCv1 2x2 100"}},
        {"SCALADO with more than 136 bytes is also a bare APP4 segment", 0xE4,
         Concat({Sig(std::string_view("SCALADO\0", 8)), Image()}), {0, 4, 26}, {"SCALADO:C 320x240 100"}},
        {"PDBigTN is also a bare APP4 segment", 0xE4, Concat({Sig(std::string_view("PDBigTN\0", 8)), Bytes(10, 1), Image()}),
         {0, 4, 18}, {"PDBigTN 320x240 100"}},
        {"QVGA", 0xE2, Concat({Sig(std::string_view("QVGA\0", 5)), Image()}), {0, 19}, {"QVGA 320x240 100"}},
        {"a JPEG stream at the start of APP2", 0xE2, Image(), {0, 1}, {"APP2v1:C 320x240 100"}},
        {"nothing specific: the catch-all", 0xE9, Concat({Sig("junk"), Image()}), {0}, {"UNK*:C 320x240 100"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AcceptedBy(c.marker, c.payload), c.accepted) << c.what;
        EXPECT_EQ(Found(*Collect({{c.marker, c.payload}})), c.found) << c.what;
    }
}

// ---------------------------------------------------------------------------------------
// Multi-segment handlers

Bytes Resource(std::string_view signature, std::uint16_t id, std::string_view name, const Bytes& data,
               std::uint32_t declared) {
    Bytes out = Concat({Sig(signature), Be16(id), {static_cast<std::uint8_t>(name.size())}, Sig(name)});
    if (name.size() % 2 == 0) out.push_back(0);
    out = Concat({out, Be32(declared), data});
    if (data.size() % 2 != 0) out.push_back(0);
    return out;
}
Bytes Resource(std::string_view signature, std::uint16_t id, std::string_view name, const Bytes& data) {
    return Resource(signature, id, name, data, static_cast<std::uint32_t>(data.size()));
}
// A thumbnail resource's data: the 28-byte header (format first), then the stream.
Bytes ThumbnailData(std::uint32_t format, const Bytes& stream) {
    return Concat({Be32(format), Be32(80), Be32(60), Be32(240), Be32(14400), Be32(static_cast<std::uint32_t>(stream.size())),
                   Be16(24), Be16(1), stream});
}
const Bytes kPhotoshop = Sig(std::string_view("Photoshop 3.0\0", 14));

struct MultiCase {
    const char* what;
    Segments segments;
    Names found;
};

std::vector<MultiCase> MultiCases() {
    const Bytes& image = Image();
    const auto halves = Split(image, 2);
    const auto thirds = Split(image, 3);
    const Bytes qualcomm = Sig(std::string_view("Qualcomm Camera Debug\0", 22));
    const Bytes resources = Concat({Resource("8BIM", 0x0404, "", Bytes(10, 1)), Resource("8BIM", 0x040C, "", ThumbnailData(1, image))});
    Segments qualcommRun = Pieces(0xE4, qualcomm, thirds);
    qualcommRun[1].first = 0xE5;
    qualcommRun[2].first = 0xE6;
    Segments app3Run = Pieces(0xE3, {}, thirds);
    app3Run[1].first = 0xE4;
    app3Run[2].first = 0xE5;
    return {
        {"APP2v1, stream at 0", Pieces(0xE2, {}, halves), {"APP2v1:C 320x240 100"}},
        {"APP2v1, stream at 1: the leading byte is collected too", {{0xE2, Concat({{0}, halves[0]})}, {0xE2, halves[1]}},
         {"APP2v1:C 320x240 100"}},
        {"APP2v2: bytes from 60 of every segment", Pieces(0xE2, Bytes(60, 'x'), halves), {"APP2v2:C 320x240 100"}},
        {"APP3 continued in APP4 and APP5", app3Run, {"APP3:C 320x240 100"}},
        {"FLIR", Pieces(0xE1, Sig(std::string_view("FLIR\0\1\2\3", 8)), halves), {"FLIR:C 320x240 100"}},
        {"RICOH", Pieces(0xE7, Sig(std::string_view("RICOH\0\0\0", 8)), halves), {"RICOH:C 320x240 100"}},
        {"PENTAX", Pieces(0xE7, Sig(std::string_view("PENTAX \0", 8)), halves), {"PENTAX:C 320x240 100"}},
        {"SCALADO", Pieces(0xE4, Sig(std::string_view("SCALADO\0", 8)), halves), {"SCALADO:C 320x240 100"}},
        {"QTI Debug Metadata", Pieces(0xE4, Sig(std::string_view("QTI Debug Metadata\0", 19)), halves),
         {"QTIDebug:C 320x240 100"}},
        {"Qualcomm in APP4, APP5, APP6", qualcommRun, {"Qualcomm:C 320x240 100"}},
        {"FPXR2 layout 2: any stream index continues",
         {{0xE2, Fpxr(2, 0, halves[0])}, {0xE2, Fpxr(2, 7, halves[1])}}, {"FPXR2:2:C 320x240 100"}},
        {"FPXR2 layout 1: 47 bytes skipped in every segment",
         {{0xE2, Fpxr(2, 1, Concat({Bytes(47, 'a'), halves[0]}))}, {0xE2, Fpxr(2, 1, Concat({Bytes(47, 'b'), halves[1]}))}},
         {"FPXR2:1:C 320x240 100"}},
        {"FPXR4", {{0xE4, Fpxr(2, 0, halves[0])}, {0xE4, Fpxr(2, 0, halves[1])}}, {"FPXR4:2:C 320x240 100"}},
        {"Photoshop thumbnail resource, listed once", {{0xED, Concat({kPhotoshop, resources})}}, {"PS 320x240 100"}},
        {"Photoshop resources over two segments", Pieces(0xED, kPhotoshop, Split(resources, 2)), {"PS 320x240 100"}},
    };
}

TEST(VendorMulti, EachClassCollectsItsRunAndFindsThePreview) {
    for (const MultiCase& c : MultiCases()) EXPECT_EQ(Found(*Collect(c.segments)), c.found) << c.what;
}

TEST(VendorMulti, RunCutShortByTheEndOfDataIsListedIncomplete) {
    for (const MultiCase& c : MultiCases()) {
        Bytes run = AppRun(c.segments);
        run.resize(run.size() - c.segments.back().second.size() / 3);  // the last segment arrives cut
        TkestJpegThumbs thumbs;
        thumbs.ProcessSegments(kRunOffset, run);
        const std::string name = c.found[0].substr(0, c.found[0].find(' '));
        const auto found = Named(thumbs, name);
        ASSERT_EQ(found.size(), 1u) << c.what;
        EXPECT_LT(found[0]->Percent, 100) << c.what;
        EXPECT_TRUE(found[0]->Corrupted) << c.what;
    }
}

TEST(VendorMulti, RefusedSegmentEndsTheRun) {
    for (const MultiCase& c : MultiCases()) {
        if (c.segments.size() < 2) continue;
        // A COM segment continues no run: the preview is cut after the first segment.
        Segments broken = c.segments;
        broken.insert(broken.begin() + 1, {0xFE, Text("break")});
        const auto thumbs = Collect(broken);
        const std::string name = c.found[0].substr(0, c.found[0].find(' '));
        const auto found = Named(*thumbs, name);
        ASSERT_FALSE(found.empty()) << c.what;
        EXPECT_LT(found[0]->Percent, 100) << c.what;
    }
}

TEST(VendorMulti, RunOfTwoSegmentsMapsToTwoFileRanges) {
    const auto halves = Split(Image(), 2);
    const Bytes ricoh = Sig(std::string_view("RICOH\0\0\0", 8));
    const auto thumbs = Collect(Pieces(0xE7, ricoh, halves));
    ASSERT_EQ(thumbs->Thumbs.size(), 1u);
    const TkestJpegThumb& t = thumbs->Thumbs[0];
    ASSERT_EQ(t.Blocks.size(), 2u);
    const std::int64_t first = static_cast<std::int64_t>(kRunOffset) + 4 + 8;
    const std::int64_t second = first + static_cast<std::int64_t>(halves[0].size()) + 4 + 8;
    EXPECT_EQ(t.Blocks[0].Offset, first);
    EXPECT_EQ(t.Blocks[0].Size, static_cast<std::int64_t>(halves[0].size()));
    EXPECT_EQ(t.Blocks[1].Offset, second);
    EXPECT_EQ(t.Blocks[0].Size + t.Blocks[1].Size, t.Size);
}

TEST(VendorMulti, ContinuationRules) {
    const Bytes& image = Image();
    const auto halves = Split(image, 2);
    const Bytes qualcomm = Sig(std::string_view("Qualcomm Camera Debug\0", 22));
    const Bytes icc = Concat({Sig(std::string_view("ICC_PROFILE\0\1\1", 14)), SmallImage()});
    const Bytes padded = Concat({SmallImage(), Bytes(30, 0)});
    struct Case {
        const char* what;
        Segments segments;
        Names found;
    };
    const Case cases[] = {
        {"an ICC_PROFILE segment after an APP2v1 preview is collected with it",
         {{0xE2, padded}, {0xE2, icc}}, {"APP2v1:C 40x24 100", "APP2v1:C 40x24 100"}},
        {"the same ICC_PROFILE segment alone goes to the catch-all", {{0xE2, icc}}, {"UNK*:C 40x24 100"}},
        {"APP3 after APP3 ends the run after the first", Pieces(0xE3, {}, halves), {"APP3:C 320x240 part corrupt"}},
        {"Qualcomm APP4 after APP4 starts a new run", Pieces(0xE4, qualcomm, halves), {"Qualcomm:C 320x240 part corrupt"}},
        {"Qualcomm APP5 without the signature ends the run",
         {{0xE4, Concat({qualcomm, halves[0]})}, {0xE5, halves[1]}}, {"Qualcomm:C 320x240 part corrupt"}},
        {"FPXR layout 1 keeps to one stream index",
         {{0xE2, Fpxr(2, 1, Concat({Bytes(47, 0), halves[0]}))}, {0xE2, Fpxr(2, 2, Concat({Bytes(47, 0), halves[1]}))}},
         {"FPXR2:1:C 320x240 part corrupt"}},
        {"FPXR segments of another type never share a run",
         {{0xE2, Fpxr(2, 0, halves[0])}, {0xE2, Fpxr(1, 0, halves[1])}}, {"FPXR2:2:C 320x240 part corrupt"}},
        {"FPXR stream data without a known layout keeps its name without a variant",
         {{0xE2, Fpxr(2, 0, Concat({Bytes(100, 'z'), image}))}}, {"FPXR2:C 320x240 100"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Brief(*Collect(c.segments)), c.found) << c.what;
}

TEST(VendorMulti, FlirFindsPngAndJpeg) {
    const Bytes png = Concat({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, Be32(13), Sig("IHDR"), Be32(90), Be32(70),
                              {8, 2, 0, 0, 0}, Be32(0), Be32(0), Sig("IEND"), Be32(0)});
    const Bytes record = Concat({png, Image(), Bytes(30, 0)});
    const auto thumbs = Collect(Pieces(0xE1, Sig(std::string_view("FLIR\0\1\2\3", 8)), Split(record, 2)));
    EXPECT_EQ(Found(*thumbs), (Names{"FLIR:PNG 90x70 100", "FLIR:C 320x240 100"}));
}

TEST(VendorMulti, PhotoshopResourceWalk) {
    const Bytes thumb = Resource("8BIM", 0x040C, "", ThumbnailData(1, Image()));
    struct Case {
        const char* what;
        Bytes resources;
        Names found;
        bool debug;
    };
    const Case cases[] = {
        {"name length 0: one padding byte", Concat({Resource("8BIM", 0x0404, "", Bytes(9, 1)), thumb}),
         {"PS 320x240 100"}, false},
        {"name length 3: no padding", Concat({Resource("8BIM", 0x03ED, "abc", Bytes(7, 1)), thumb}), {"PS 320x240 100"},
         false},
        {"name length 2: one padding byte", Concat({Resource("PHUT", 0x03ED, "ab", Bytes(8, 1)), thumb}),
         {"PS 320x240 100"}, false},
        {"the other signatures", Concat({Resource("aSeM", 1, "", {}), Resource("gHgA", 2, "", {}),
                                         Resource("RSCD", 0x040C, "", ThumbnailData(1, Image()))}),
         {"PS 320x240 100"}, false},
        {"BGR thumbnail resource", Resource("8BIM", 0x0409, "", ThumbnailData(1, Image())), {"PS 320x240 100"}, false},
        {"an unknown signature ends the walk; the scan still finds the stream",
         Concat({Resource("8BIX", 0x0404, "", Bytes(10, 1)), thumb}), {"PS:C 320x240 100"}, true},
        {"what was found before an unknown signature stays",
         Concat({thumb, Resource("XXXX", 0x0404, "", Bytes(10, 1))}), {"PS 320x240 100"}, true},
        {"raw thumbnail: noted, not shown", Resource("8BIM", 0x040C, "", ThumbnailData(0, Bytes(300, 7))), {}, true},
        {"other formats: nothing", Resource("8BIM", 0x040C, "", ThumbnailData(2, Bytes(300, 7))), {}, false},
        {"a header cut to 26 bytes: nothing", Resource("8BIM", 0x040C, "", Bytes(26, 1)), {}, false},
        {"a negative data size ends the walk",
         Concat({Resource("8BIM", 0x0404, "", Bytes(10, 1), 0xFFFFFFF0u), thumb}), {"PS:C 320x240 100"}, false},
        {"a data size beyond the bytes ends the walk",
         Concat({Resource("8BIM", 0x0404, "", Bytes(10, 1), 0x7FFFFFF0u), thumb}), {"PS:C 320x240 100"}, false},
    };
    for (const Case& c : cases) {
        const auto thumbs = Collect({{0xED, Concat({kPhotoshop, c.resources})}});
        EXPECT_EQ(Found(*thumbs), c.found) << c.what;
        EXPECT_EQ(thumbs->Debug, c.debug) << c.what;
    }
    // Resource 0x0409 is checked with colour-model preset 6, 0x040C with 0.
    EXPECT_EQ(Collect({{0xED, Concat({kPhotoshop, Resource("8BIM", 0x0409, "", ThumbnailData(1, Image()))})}})
                  ->Thumbs.at(0)
                  .ColorModel,
              6);
    EXPECT_EQ(Collect({{0xED, Concat({kPhotoshop, thumb})}})->Thumbs.at(0).ColorModel, 0);
}

TEST(VendorMulti, AcceptedOnlyWithMarkerSignatureAndEnoughBytes) {
    struct Case {
        const char* what;
        bool (*canHandle)(std::uint8_t, ByteView, std::uint32_t);
        std::uint8_t marker;
        Bytes payload;
        bool accepted;
    };
    const Bytes soi = {0xFF, 0xD8, 0xFF};
    const Case cases[] = {
        {"APP2v1: 5 bytes", &TkestJpegThumbAPP2v1Handler::CanHandle, 0xE2, Concat({soi, {0, 0}}), true},
        {"APP2v1: 4 bytes", &TkestJpegThumbAPP2v1Handler::CanHandle, 0xE2, Concat({{0}, soi}), false},
        {"APP2v1: in APP3", &TkestJpegThumbAPP2v1Handler::CanHandle, 0xE3, Concat({soi, {0, 0}}), false},
        {"APP2v2: 65 bytes", &TkestJpegThumbAPP2v2Handler::CanHandle, 0xE2, Concat({Bytes(60, 0), soi, {0, 0}}), true},
        {"APP2v2: 64 bytes", &TkestJpegThumbAPP2v2Handler::CanHandle, 0xE2, Concat({Bytes(60, 0), soi, {0}}), false},
        {"APP3: 4 bytes", &TkestJpegThumbAPP3Handler::CanHandle, 0xE3, Concat({soi, {0}}), true},
        {"APP3: 3 bytes", &TkestJpegThumbAPP3Handler::CanHandle, 0xE3, soi, false},
        {"FLIR: 9 bytes", &TkestJpegThumbFLIRHandler::CanHandle, 0xE1, Sig(std::string_view("FLIR\0abcd", 9)), true},
        {"FLIR: 8 bytes", &TkestJpegThumbFLIRHandler::CanHandle, 0xE1, Sig(std::string_view("FLIR\0abc", 8)), false},
        {"PS: the signature alone", &TkestJpegThumbPhotoshopHandler::CanHandle, 0xED, kPhotoshop, true},
        {"PS: in APP12", &TkestJpegThumbPhotoshopHandler::CanHandle, 0xEC, kPhotoshop, false},
        {"RICOH: 8 bytes", &TkestJpegThumbRICOHHandler::CanHandle, 0xE7, Sig(std::string_view("RICOH\0ab", 8)), false},
        {"RICOH: 9 bytes", &TkestJpegThumbRICOHHandler::CanHandle, 0xE7, Sig(std::string_view("RICOH\0abc", 9)), true},
        {"PENTAX without the space", &TkestJpegThumbPENTAXHandler::CanHandle, 0xE7,
         Sig(std::string_view("PENTAX\0\0a", 9)), false},
        {"SCALADO in APP5", &TkestJpegThumbSCALADOHandler::CanHandle, 0xE5, Sig(std::string_view("SCALADO\0a", 9)),
         false},
        {"QTI: the signature alone", &TkestJpegThumbQTIDebugMetadataHandler::CanHandle, 0xE4,
         Sig(std::string_view("QTI Debug Metadata\0", 19)), true},
        {"Qualcomm: cut signature", &TkestJpegThumbQualcommHandler::CanHandle, 0xE4,
         Sig(std::string_view("Qualcomm Camera Debug", 21)), false},
        {"FPXR2: 14 bytes", &TkestJpegThumbFPXR2Handler::CanHandle, 0xE2, Fpxr(2, 0, {1}), true},
        {"FPXR2: 13 bytes", &TkestJpegThumbFPXR2Handler::CanHandle, 0xE2, Fpxr(2, 0, {}), false},
        {"FPXR2 in APP4", &TkestJpegThumbFPXR2Handler::CanHandle, 0xE4, Fpxr(2, 0, {1}), false},
        {"FPXR4 in APP4", &TkestJpegThumbFPXR4Handler::CanHandle, 0xE4, Fpxr(2, 0, {1}), true},
        {"FPXR4 in APP2", &TkestJpegThumbFPXR4Handler::CanHandle, 0xE2, Fpxr(2, 0, {1}), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.canHandle(c.marker, ByteView(c.payload), static_cast<std::uint32_t>(c.payload.size())), c.accepted)
            << c.what;
}

// Collected bytes grow geometrically: a run of many segments does not copy what it has
// collected once for every segment.
class CapacityProbe final : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "CapacityProbe";
    static bool CanHandle(std::uint8_t m, ByteView, std::uint32_t) { return m == 0xE9; }
    void ProcessSegment(std::uint64_t, std::uint8_t, ByteView d, std::uint32_t) override {
        Owner.AppendSegmentData(0, d);
        capacities.insert(Owner.Data.capacity());
    }
    void Finish() override {}
    static inline std::set<std::size_t> capacities;
};

TEST(VendorMulti, CollectedBytesGrowGeometrically) {
    constexpr TkestJpegThumbHandlerClass classes[] = {HandlerClassOf<TkestJpegThumbBaseHandler>(),
                                                      HandlerClassOf<CapacityProbe>()};
    CapacityProbe::capacities.clear();
    TkestJpegThumbs thumbs(classes);
    thumbs.ProcessSegments(kRunOffset, AppRun(Segments(2000, {0xE9, Bytes(100, 1)})));
    // 200,000 bytes in 2,000 appends: a few dozen allocations at most, not one per append.
    EXPECT_LT(CapacityProbe::capacities.size(), 40u);
    EXPECT_GE(*CapacityProbe::capacities.rbegin(), 200000u);
}

// ---------------------------------------------------------------------------------------
// Single-segment handlers

// Entropy-coded data of a baseline image as the header template frames it: three
// components sampled 2x1, 1x1, 1x1, tables K.3-K.6, no EOI.
Bytes ScanData(std::uint16_t width, std::uint16_t height) {
    jpeg_fixture::JpegBuilder b;
    b.Soi().DqtAnnexK(85).DhtAnnexK();
    b.Sof(0xC0, width, height, {{1, 2, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}).Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}});
    const std::size_t start = b.Size();
    b.SequentialScanData();
    return Bytes(b.Data().begin() + static_cast<std::ptrdiff_t>(start), b.Data().end());
}

// Two quantization tables of 64 bytes in zigzag order.
Bytes Tables() {
    Bytes out;
    for (bool chroma : {false, true})
        for (std::uint16_t v : jpeg_fixture::ScaledAnnexK(chroma, 85)) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

Bytes App5(std::uint16_t width, std::uint16_t height, const Bytes& data, std::uint32_t magic = 1) {
    return Concat({Tables(), Be32(magic), Be16(width), Be16(height), data});
}

TEST(VendorSingle, SignedStreams) {
    const Bytes two = Concat({Image(), SmallImage(), Bytes(30, 0)});
    struct Case {
        const char* what;
        std::uint8_t marker;
        Bytes payload;
        Names found;
        std::int64_t offset;
    };
    const Case cases[] = {
        {"PDBigTN", 0xE4, Concat({Sig(std::string_view("PDBigTN\0", 8)), Bytes(10, 1), two}),
         {"PDBigTN 320x240 100", "PDBigTN:C 40x24 100"}, 18},
        {"QVGA", 0xE2, Concat({Sig(std::string_view("QVGA\0", 5)), two}), {"QVGA 320x240 100", "QVGA:C 40x24 100"}, 5},
        {"BGTH", 0xE2, Concat({Sig("BGTH"), two}), {"BGTH 320x240 100", "BGTH:C 40x24 100"}, 4},
    };
    for (const Case& c : cases) {
        const auto thumbs = Collect({{c.marker, c.payload}});
        EXPECT_EQ(Found(*thumbs), c.found) << c.what;
        ASSERT_FALSE(thumbs->Thumbs.empty()) << c.what;
        EXPECT_EQ(thumbs->Thumbs[0].Offset, c.offset) << c.what;
        EXPECT_EQ(thumbs->Thumbs[0].Kind, tkCompressed) << c.what;
    }
}

TEST(VendorSingle, AcceptedOnlyWithMarkerSignatureAndEnoughBytes) {
    struct Case {
        const char* what;
        bool (*canHandle)(std::uint8_t, ByteView, std::uint32_t);
        std::uint8_t marker;
        Bytes payload;
        std::uint32_t declared;
        bool accepted;
    };
    const Bytes soi = {0xFF, 0xD8, 0xFF};
    const Bytes pdbig = Concat({Sig(std::string_view("PDBigTN\0", 8)), Bytes(10, 0), soi, Bytes(9, 0)});  // 30 bytes
    Bytes app4Zero(137, 0);
    Bytes app4One = app4Zero;
    app4One[100] = 1;
    const Case cases[] = {
        {"PDBigTN: 30 of 40 declared bytes", &TkestJpegThumbPDBigTNHandler::CanHandle, 0xE4, pdbig, 40, true},
        {"PDBigTN: 22 declared", &TkestJpegThumbPDBigTNHandler::CanHandle, 0xE4, Bytes(pdbig.begin(), pdbig.begin() + 22),
         22, false},
        {"PDBigTN: stream start not present", &TkestJpegThumbPDBigTNHandler::CanHandle, 0xE4,
         Bytes(pdbig.begin(), pdbig.begin() + 19), 40, false},
        {"QVGA: 10 bytes", &TkestJpegThumbQVGAHandler::CanHandle, 0xE2,
         Concat({Sig(std::string_view("QVGA\0", 5)), soi, {0, 0}}), 10, true},
        {"QVGA: 9 bytes", &TkestJpegThumbQVGAHandler::CanHandle, 0xE2, Concat({Sig(std::string_view("QVGA\0", 5)), soi, {0}}),
         9, false},
        {"QVGA: byte 4 not 0", &TkestJpegThumbQVGAHandler::CanHandle, 0xE2, Concat({Sig("QVGA1"), soi, {0, 0}}), 10, false},
        {"BGTH: 9 bytes", &TkestJpegThumbBGTHHandler::CanHandle, 0xE2, Concat({Sig("BGTH"), soi, {0, 0}}), 9, true},
        {"BGTH: 8 bytes", &TkestJpegThumbBGTHHandler::CanHandle, 0xE2, Concat({Sig("BGTH"), soi, {0}}), 8, false},
        {"APP5", &TkestJpegThumbAPP5Handler::CanHandle, 0xE5, App5(160, 120, {1}), 137, true},
        {"APP5: 00 00 00 02", &TkestJpegThumbAPP5Handler::CanHandle, 0xE5, App5(160, 120, {1}, 2), 137, false},
        {"APP5: width 0", &TkestJpegThumbAPP5Handler::CanHandle, 0xE5, App5(0, 120, {1}), 137, false},
        {"APP5: no data", &TkestJpegThumbAPP5Handler::CanHandle, 0xE5, App5(160, 120, {}), 136, false},
        {"APP4: 137 zero bytes", &TkestJpegThumbAPP4Handler::CanHandle, 0xE4, app4Zero, 137, false},
        {"APP4: one byte not zero", &TkestJpegThumbAPP4Handler::CanHandle, 0xE4, app4One, 137, true},
        {"APP4: in APP5", &TkestJpegThumbAPP4Handler::CanHandle, 0xE5, app4One, 137, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.canHandle(c.marker, ByteView(c.payload), c.declared), c.accepted) << c.what;
}

TEST(VendorSingle, PDBigTNCutShortIsCheckedWithTheBytesPresent) {
    // 40 bytes declared, 30 present: accepted, and the 12 bytes after 18 decode nothing.
    const Bytes payload = Concat({Sig(std::string_view("PDBigTN\0", 8)), Bytes(10, 1), Image()});
    Bytes run = AppRun({{0xE4, Bytes(payload.begin(), payload.begin() + 40)}});
    run.resize(4 + 30);
    TkestJpegThumbs thumbs;
    thumbs.ProcessSegments(kRunOffset, run);
    EXPECT_TRUE(thumbs.Thumbs.empty());
}

TEST(VendorSingle, RebuiltPreviews) {
    const Bytes small = ScanData(320, 240);
    const Bytes large = ScanData(480, 360);
    const Bytes scan96 = ScanData(96, 32);
    Bytes bare = Concat({Bytes(11, 0x55), small});
    ASSERT_FALSE(bare[128] == 0 && bare[129] <= 1);  // not the layout with tables
    struct Case {
        const char* what;
        std::uint8_t marker;
        Bytes payload;
        Names found;
    };
    const Case cases[] = {
        {"APP5 announcing 96 x 32", 0xE5, App5(96, 32, scan96), {"APP5:1 96x32 100"}},
        {"APP5 cut in its data", 0xE5, App5(96, 32, Bytes(scan96.begin(), scan96.begin() + 100)),
         {"APP5:1 96x32 part corrupt"}},
        {"APP4 320 x 240 with tables 00 01: the second size decides", 0xE4, Concat({Tables(), {0, 1}, small}),
         {"APP4 320x240 100 corrupt"}},
        {"APP4 with tables 00 00", 0xE4, Concat({Tables(), {0, 0}, small}), {"APP4 320x240 100 corrupt"}},
        {"APP4 480 x 360: the first size decides", 0xE4, Concat({Tables(), {0, 1}, large}), {"APP4 480x360 100 corrupt"}},
        {"APP4 without tables: data from 11", 0xE4, bare, {"APP4 320x240 100 corrupt"}},
        {"APP4 at 5% or less: only the scan's find", 0xE4,
         Concat({Tables(), {0, 1}, Bytes(small.begin(), small.begin() + 40), Image()}), {"APP4:C 320x240 100"}},
    };
    for (const Case& c : cases) {
        const auto thumbs = Collect({{c.marker, c.payload}});
        EXPECT_EQ(Brief(*thumbs), c.found) << c.what;
        for (const TkestJpegThumb& t : thumbs->Thumbs) {
            if (t.Name.find(":C") != std::string::npos) continue;
            EXPECT_EQ(t.Kind, tkRebuilt) << c.what;
            EXPECT_EQ(t.Size, static_cast<std::int64_t>(c.payload.size())) << c.what;
            EXPECT_EQ(t.Offset, 0) << c.what;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Sequenced handlers

// An H3X0 run of a `w` x `h` preview: `pixels` bytes over `count` segments numbered from 1.
Segments H3x0Run(std::uint32_t w, std::uint32_t h, std::size_t pixels, std::uint32_t count) {
    Segments out;
    std::uint32_t seq = 1;
    for (const Bytes& piece : Split(Bytes(pixels, 0xFF), count))
        out.push_back({0xE4, Concat({HpHeader("H3X0", 0, w, h, seq++, count, 0), piece})});
    return out;
}

TEST(VendorSequenced, HpRunsMeasureTheirPixels) {
    Segments four = H3x0Run(100, 100, 10000, 3);
    four.push_back({0xE4, Concat({HpHeader("H3X0", 0, 100, 100, 4, 3, 0), Bytes(10000, 0xFF)})});
    Segments mixed = H3x0Run(100, 100, 20000, 3);
    mixed[1].second[15] = 99;  // another height in the second segment
    const Bytes pixels200(200, 0x80);
    Segments scrnail = {{0xE4, Concat({Sig(std::string_view("SCRNAIL\0", 8)), Bytes(60000, 0xFF)})},
                        {0xE4, Concat({Bytes(28, 0x11), Bytes(60000, 0xFF)})},
                        {0xE4, Bytes(33600 - 28, 0xFF)}};
    Segments signedAfter = scrnail;
    signedAfter[1].second = Concat({HpHeader("H3X0", 0, 1, 1, 1, 1, 0), Bytes(60000, 0xFF)});
    struct Case {
        const char* what;
        Segments segments;
        Names found;
        std::int64_t size;
    };
    const Case cases[] = {
        {"H3X0 1, 2, 3 of 3", H3x0Run(100, 100, 20000, 3), {"H3X0 100x100 100"}, 20000},
        {"H3X0 one byte short", H3x0Run(100, 100, 19999, 3), {"H3X0 100x100 99"}, 19999},
        {"H3X0 half", H3x0Run(100, 100, 10000, 3), {"H3X0 100x100 50"}, 10000},
        {"H3X0: a fourth segment numbered 4 is refused", four, {"H3X0 100x100 50"}, 10000},
        {"H3X0: a segment of another size ends the run", mixed, {"H3X0 100x100 33"}, 6667},
        {"HPSC with 1 at 4: version 1, pixels from 32", {{0xE4, Concat({HpHeader("HPSC", 1, 10, 10, 1, 1, 4), pixels200})}},
         {"HPSCv1 10x10 100"}, 200},
        {"HPSC with 2 at 4: version 2, pixels from 36", {{0xE4, Concat({HpHeader("HPSC", 2, 10, 10, 1, 1, 4), pixels200})}},
         {"HPSCv2 10x10 98"}, 196},
        {"SCRNAIL takes the APP4 segments after it, whatever they hold", scrnail, {"SCRNAIL 320x240 100"}, 153600},
        {"SCRNAIL: an APP4 segment of a signed format ends the run", signedAfter,
         {"SCRNAIL 320x240 39", "H3X0 1x1 100"}, 60000},
        {"SCRNAIL alone", {scrnail[0]}, {"SCRNAIL 320x240 39"}, 60000},
    };
    for (const Case& c : cases) {
        const auto thumbs = Collect(c.segments);
        EXPECT_EQ(Found(*thumbs), c.found) << c.what;
        if (thumbs->Thumbs.empty()) continue;
        const TkestJpegThumb& t = thumbs->Thumbs[0];
        EXPECT_EQ(t.Size, c.size) << c.what;
        EXPECT_EQ(t.Kind, tkYCbCr) << c.what;
        EXPECT_EQ(t.SubsamplingX, 0) << c.what;
    }
}

TEST(VendorSequenced, HpHeadersThatStartNoRun) {
    const Bytes pixels(100, 0xFF);
    Bytes cutHeader = HpHeader("H3X0", 0, 10, 10, 1, 1, 0);
    cutHeader.resize(27);
    for (const Bytes& payload : {Concat({HpHeader("H3X0", 0, 0, 10, 1, 1, 0), pixels}),   // width 0
                                 Concat({HpHeader("H3X0", 0, 10, 10, 2, 3, 0), pixels}),  // not number 1
                                 Concat({HpHeader("H3X0", 0, 10, 10, 1, 0, 0), pixels}),  // no segments
                                 cutHeader}) {
        EXPECT_FALSE(TkestJpegThumbH3X0Handler::CanHandle(0xE4, ByteView(payload), 200));
        EXPECT_TRUE(Named(*Collect({{0xE4, payload}}), "H3X0").empty());
    }
    // The largest sizes: 2 bytes a pixel, measured without overflow.
    const auto thumbs = Collect({{0xE4, Concat({HpHeader("H3X0", 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 1, 1, 0), pixels})}});
    ASSERT_EQ(Named(*thumbs, "H3X0").size(), 1u);
    EXPECT_EQ(thumbs->Thumbs[0].Percent, 0);
    EXPECT_EQ(thumbs->Thumbs[0].Size, 100);
}

Bytes PrvFirst(std::uint16_t count, std::uint16_t w, std::uint16_t h, const Bytes& tails, const Bytes& pixels) {
    return Concat({Sig("prv0"), Be16(count), Be16(w), Be16(h), tails, pixels});
}
Bytes PrvNext(char digit, const Bytes& pixels) { return Concat({Sig("prv"), {static_cast<std::uint8_t>(digit)}, pixels}); }

TEST(VendorSequenced, PrvCollectsPixelsAndTailBlocks) {
    const Bytes tails = Concat({Bytes(8, 't'), Bytes(8, 'u')});
    const Segments run = {{0xEA, PrvFirst(3, 100, 100, tails, Bytes(10000, 1))},
                          {0xEA, PrvNext('1', Bytes(9000, 2))},
                          {0xEA, PrvNext('2', Bytes(10984, 3))},
                          {0xEA, PrvNext('3', Bytes(5000, 4))}};  // refused: 3 of 3 taken
    const auto thumbs = Collect(run);
    ASSERT_EQ(Found(*thumbs), (Names{"PRV 100x100 100"}));
    const TkestJpegThumb& t = thumbs->Thumbs[0];
    EXPECT_EQ(t.Kind, tkRgb);
    EXPECT_EQ(t.Size, 30000);
    // First pixels, tail block 0, second pixels, tail block 1, third pixels; the tail blocks
    // are where they stand in the first segment.
    const std::int64_t p1 = static_cast<std::int64_t>(kRunOffset) + 4;
    const std::int64_t p2 = p1 + 10 + 16 + 10000 + 4;
    const std::int64_t p3 = p2 + 4 + 9000 + 4;
    ASSERT_EQ(t.Blocks.size(), 5u);
    const std::vector<std::pair<std::int64_t, std::int64_t>> blocks = {
        {p1 + 26, 10000}, {p1 + 10, 8}, {p2 + 4, 9000}, {p1 + 18, 8}, {p3 + 4, 10984}};
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(t.Blocks[i].Offset, blocks[i].first) << i;
        EXPECT_EQ(t.Blocks[i].Size, blocks[i].second) << i;
    }

    // 20,000 of 30,000 bytes, and a "prv3" that would have added the rest.
    const auto cut = Collect({{0xEA, PrvFirst(3, 100, 100, tails, Bytes(5000, 1))},
                              {0xEA, PrvNext('1', Bytes(5000, 2))},
                              {0xEA, PrvNext('2', Bytes(9984, 3))},
                              {0xEA, PrvNext('3', Bytes(10000, 4))}});
    EXPECT_EQ(Found(*cut), (Names{"PRV 100x100 67"}));
}

TEST(VendorSequenced, PrvFirstSegmentTooShortForItsTailBlocks) {
    // Five segments announced, 16 of 32 tail bytes present: nothing is collected, and the
    // next "prv0" is taken as a first segment.
    const auto thumbs = Collect({{0xEA, PrvFirst(5, 10, 10, Bytes(16, 't'), {})},
                                 {0xEA, PrvFirst(1, 10, 10, {}, Bytes(300, 1))}});
    EXPECT_EQ(Found(*thumbs), (Names{"PRV 10x10 100"}));
    ASSERT_EQ(thumbs->Thumbs[0].Blocks.size(), 1u);
    EXPECT_EQ(thumbs->Thumbs[0].Blocks[0].Size, 300);
    for (const Bytes& payload : {PrvFirst(0, 10, 10, {}, Bytes(9, 0)), PrvFirst(1, 2000, 10, {}, Bytes(9, 0)),
                                 PrvFirst(1, 10, 0, {}, Bytes(9, 0))})
        EXPECT_FALSE(TkestJpegThumbPrvHandler::CanHandle(0xEA, ByteView(payload), 100));
}

Bytes Samsung(std::uint16_t id, std::uint16_t seq, const Bytes& data) {
    return Concat({Sig(std::string_view("Samsung\0", 8)), Bytes(4, 0), Le16(id), Le16(seq), seq == 1 ? Bytes(2, 0) : Bytes{},
                   data});
}

TEST(VendorSequenced, SamsungStreamWithoutSoi) {
    const Bytes& image = Image();
    const Bytes stream(image.begin() + 2, image.end());  // from the marker after SOI
    const auto thirds = Split(stream, 3);
    const auto thumbs = Collect({{0xE5, Samsung(9, 1, thirds[0])}, {0xE5, Samsung(9, 2, thirds[1])},
                                 {0xE5, Samsung(9, 3, thirds[2])}});
    ASSERT_EQ(Found(*thumbs), (Names{"Samsung 320x240 100"}));
    const TkestJpegThumb& t = thumbs->Thumbs[0];
    EXPECT_EQ(t.Kind, tkWithoutSoi);
    EXPECT_EQ(t.Size, static_cast<std::int64_t>(stream.size()) - 2);  // the check stops before EOI
    EXPECT_FALSE(t.Corrupted);

    const auto other = Collect({{0xE5, Samsung(9, 1, thirds[0])}, {0xE5, Samsung(8, 2, thirds[1])},
                                {0xE5, Samsung(9, 3, thirds[2])}});
    const auto found = Named(*other, "Samsung");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_LT(found[0]->Percent, 100);
    EXPECT_TRUE(found[0]->Corrupted);
    EXPECT_FALSE(TkestJpegThumbSamsungHandler::CanHandle(0xE5, ByteView(Samsung(0, 1, thirds[0])), 100));
    EXPECT_FALSE(TkestJpegThumbSamsungHandler::CanHandle(0xE5, ByteView(Samsung(9, 2, thirds[0])), 100));
}

Bytes Xmth(std::uint8_t count, const Bytes& data) { return Concat({Sig("XMTH"), Be32(1), {count}, data}); }

TEST(VendorSequenced, XmthTakesTheAnnouncedSegments) {
    const auto thirds = Split(Image(), 3);
    const Segments three = {{0xE2, Xmth(3, thirds[0])}, {0xE2, Concat({Sig("XMTH"), thirds[1]})},
                            {0xE2, Concat({Sig("XMTH"), thirds[2]})}};
    const auto whole = Collect(three);
    EXPECT_EQ(Found(*whole), (Names{"XMTH 320x240 100"}));  // listed once, not again as XMTH:C
    EXPECT_EQ(whole->Thumbs.at(0).Kind, tkCompressed);

    Segments two = three;
    two[0].second[8] = 2;  // one more segment after the first, not two
    const auto cut = Collect(two);
    const auto found = Named(*cut, "XMTH");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_LT(found[0]->Percent, 100);
    EXPECT_FALSE(TkestJpegThumbXMTHHandler::CanHandle(0xE2, ByteView(Xmth(0, thirds[0])), 100));
}

// ---------------------------------------------------------------------------------------
// Hostile runs

TEST(VendorHostile, MutatedRunsAreReadWithinTheirBytes) {
    // Sane runs of every vendor class, then copies with bytes changed (often to 0xFF or to
    // values that make counts and sizes large) and cut short. The run is in a buffer of its
    // exact size, so that a read past the bytes present is a read past the buffer, which the
    // sanitizer build reports.
    std::vector<Segments> seeds;
    for (const MultiCase& c : MultiCases()) seeds.push_back(c.segments);
    seeds.push_back({{0xED, Concat({kPhotoshop, Resource("8BIM", 0x0404, "ab", Bytes(20, 1)),
                                    Resource("8BIM", 0x0409, "x", ThumbnailData(1, SmallImage()))})}});
    seeds.push_back({{0xE4, Concat({Tables(), {0, 1}, ScanData(64, 32)})}});
    seeds.push_back({{0xE5, App5(64, 32, ScanData(64, 32))}});
    seeds.push_back({{0xE2, Concat({Sig(std::string_view("QVGA\0", 5)), SmallImage()})}});
    seeds.push_back(H3x0Run(20, 20, 800, 3));
    seeds.push_back({{0xE4, Concat({HpHeader("HPSC", 1, 10, 10, 1, 2, 4), Bytes(100, 1)})},
                     {0xE4, Concat({HpHeader("HPSC", 1, 10, 10, 2, 2, 4), Bytes(100, 1)})}});
    seeds.push_back({{0xEA, PrvFirst(3, 8, 8, Bytes(16, 't'), Bytes(50, 1))},
                     {0xEA, PrvNext('1', Bytes(50, 2))},
                     {0xEA, PrvNext('2', Bytes(50, 3))}});
    {
        const auto halves = Split(Bytes(SmallImage().begin() + 2, SmallImage().end()), 2);
        seeds.push_back({{0xE5, Samsung(3, 1, halves[0])}, {0xE5, Samsung(3, 2, halves[1])}});
        seeds.push_back({{0xE2, Xmth(2, halves[0])}, {0xE2, Concat({Sig("XMTH"), halves[1]})}});
    }

    std::mt19937 random(20240612);
    for (int round = 0; round < 3000; ++round) {
        Segments segments = seeds[static_cast<std::size_t>(round) % seeds.size()];
        const int changes = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < changes; ++i) {
            Bytes& payload = segments[random() % segments.size()].second;
            // Headers are where the counts and sizes are: change them more often.
            const std::size_t at = random() % 2 ? random() % std::min<std::size_t>(payload.size(), 160)
                                                : random() % payload.size();
            payload[at] = (random() % 2) ? 0xFF : static_cast<std::uint8_t>(random());
            if (random() % 3 == 0 && at + 1 < payload.size()) payload[at + 1] = 0xFF;
        }
        Bytes run = AppRun(segments);
        std::uint64_t payloadBytes = 0;
        for (const auto& s : segments) payloadBytes += s.second.size();
        if (random() % 2) run.resize(4 + random() % (run.size() - 4));  // cut short
        run.shrink_to_fit();
        TkestJpegThumbs thumbs;
        thumbs.ProcessSegments(kRunOffset, run);
        for (const TkestJpegThumb& t : thumbs.Thumbs) {
            EXPECT_GE(t.Offset, 0) << round;
            EXPECT_GE(t.Size, 0) << round;
            EXPECT_LE(t.Offset + t.Size, static_cast<std::int64_t>(payloadBytes)) << round << " " << t.Name;
            for (const TkestJpegBlock& b : t.Blocks) {
                EXPECT_GE(b.Offset, static_cast<std::int64_t>(kRunOffset)) << round;
                EXPECT_LE(b.Offset + b.Size, static_cast<std::int64_t>(kRunOffset + run.size())) << round << " " << t.Name;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// A whole file through the plugin's root

TEST(VendorFiles, ThumbnailsOfABuiltFile) {
    const Bytes stream(Image().begin() + 2, Image().end());
    const auto halves = Split(stream, 2);
    const Bytes file = ImageWith({{0xE2, Concat({Sig(std::string_view("QVGA\0", 5)), SmallImage()})},
                                  {0xE4, Concat({HpHeader("H3X0", 0, 10, 10, 1, 1, 0), Bytes(100, 0xFF)})},
                                  {0xE5, App5(96, 32, ScanData(96, 32))},
                                  {0xE5, Samsung(4, 1, halves[0])},
                                  {0xE5, Samsung(4, 2, halves[1])}});
    TempDir dir;
    WriteFile(dir / "vendor.jpg", file);
    TOrvaneRoot root;
    root.CreateDefaultFields();
    std::array<char, 1024> buffer{};
    ASSERT_EQ(root.GetFieldValue(WideName(dir / "vendor.jpg"), 8, 0, buffer.data(), static_cast<int>(buffer.size()), 0,
                                 false),
              ft_string);
    // Largest first; the half-present H3X0 pixels show their share.
    EXPECT_STREQ(buffer.data(), "Samsung:320x240 , APP5:1:96x32 , QVGA:40x24 , H3X0:10x10 (50%)");
}

}  // namespace

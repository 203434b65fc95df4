// Writes the fuzzers' seed inputs made by the fixture builders: fuzz_seeds OUTDIR [FOLDER...].
// OUTDIR/jpeg gets JPEG files (sound ones of every coding process the decoder reads, and
// small versions of the hostile files), OUTDIR/icc ICC profiles, OUTDIR/segments the APP
// runs of those JPEG files and of every file below the FOLDERs, as the marker walk hands
// them to the preview collection.
#include "hostile/hostile_files.h"
#include "icc/icc_builder.h"
#include "jpeg/catalogue.h"
#include "support/jpeg_builder.h"
#include "support/temp_files.h"
#include "thumbs/png_builder.h"
#include "thumbs/tiff_builder.h"
#include "thumbs/trailer_builder.h"
#include "thumbs/xmp_builder.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace jpeg_fixture;
namespace fs = std::filesystem;

// Collects the APP runs of a header pass.
class RunCollector final : public TkestJpeg {
public:
    RunCollector() : TkestJpeg(65536, true) {}
    std::vector<Bytes> Runs;

protected:
    void DoAppGroup(std::uint64_t, std::span<const std::uint8_t> AData) override { Runs.emplace_back(AData.begin(), AData.end()); }
};

// A baseline image whose main XMP packet holds `thumb` in xmp:Thumbnails and a PNG depth map.
Bytes XmpThumbnailsImage(const Bytes& thumb) {
    using namespace xmp_fixture;
    const std::string elements = "<xmpGImg:image>" + Base64(thumb, "&#xA;") + "</xmpGImg:image>";
    JpegBuilder b;
    b.Soi().App(1, MainXmp(Packet(Attribute("GDepth:Data", Base64(png_fixture::RgbImage(8, 6))), elements)));
    b.DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 16, 16, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}).SequentialScanData().Eoi();
    return b.Data();
}

std::vector<Bytes> RunsOf(const Bytes& file) {
    TMemoryStream stream(file);
    RunCollector parser;
    try {
        parser.Parse(stream, poHeadersOnly, 0);
    } catch (const std::exception&) {
    }
    return parser.Runs;
}

// Arithmetic-coded frames (0xC9 sequential with restart intervals, 0xCA progressive): any
// bytes are decisions of the coder (zeros from a marker on), so a few bytes of a fixed
// pattern stand for the data of each scan and interval.
Bytes ArithmeticImage(bool progressive) {
    Bytes data;
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>((i * 37 + 11) % 251));
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).Sof(progressive ? 0xCA : 0xC9, 32, 16, {{1, 2, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
    b.Segment(0xCC, {0x00, 0x21, 0x10, 0x05});  // DC table 0: L 1, U 2; AC table 0: Kx 5
    if (!progressive) {
        b.Dri(1).Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
        for (std::uint8_t rst = 0xD0; rst < 0xD3; ++rst) b.Raw(data).Raw({0xFF, rst});
        return b.Raw(data).Eoi().Data();
    }
    b.Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, 0, 0, 0, 1).Raw(data);
    b.Sos({{1, 0, 0}}, 1, 63, 0, 1).Raw(data);
    b.Sos({{1, 0, 0}}, 1, 63, 1, 0).Raw(data);
    b.Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, 0, 0, 1, 0).Raw(data);
    return b.Eoi().Data();
}

Bytes ExifThumbnailImage() {
    const Bytes thumbnail = BaselineImage(40, 30);
    tiff_fixture::TiffBuilder t(false);
    t.Ifd(8, {tiff_fixture::Short(256, 640)}, 26);
    t.Ifd(26, {tiff_fixture::Long(513, 100), tiff_fixture::Long(514, static_cast<std::uint32_t>(thumbnail.size()))}, 0);
    t.Put(100, thumbnail);
    JpegBuilder b;
    b.Soi().App(1, tiff_fixture::ExifPayload(t)).DqtAnnexK(90).DhtAnnexK();
    b.Sof(0xC0, 48, 32, {{1, 2, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}).Dri(2);
    b.Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}}).SequentialScanData().Eoi();
    return b.Data();
}

// A baseline image whose Exif maker note (`signature`, then an IFD at `ifd` in it, its
// offsets counting from `base` in the file) points at `preview` stored after EOI with the
// tags `startTag` and `lengthTag`.
Bytes MakerNotePointerImage(std::string_view signature, std::uint32_t ifd, std::uint32_t base, std::uint16_t startTag,
                            std::uint16_t lengthTag, const Bytes& preview) {
    auto image = [&](std::uint32_t start) {
        tiff_fixture::TiffBuilder t(false);
        t.Ifd(8, {tiff_fixture::Long(34665, 40)}, 0);
        t.Ifd(40, {tiff_fixture::Undefined(37500, 60, 100)}, 0);
        t.Put(100, Text(signature));
        t.Ifd(100 + ifd, {tiff_fixture::Long(startTag, start), tiff_fixture::Long(lengthTag, static_cast<std::uint32_t>(preview.size()))}, 0);
        JpegBuilder b;
        b.Soi().App(1, tiff_fixture::ExifPayload(t)).DqtAnnexK(75).DhtAnnexK();
        b.Sof(0xC0, 16, 16, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}).SequentialScanData().Eoi();
        return b.Data();
    };
    const auto mainSize = static_cast<std::uint32_t>(image(0).size());
    return Concat({image(mainSize - base), preview});
}

Bytes SoundProfile() {
    icctest::IccBuilder builder;
    builder.Tag("desc", icctest::DescTag({"Orvane seed", u"Orvane seed", -1, -1}))
        .Tag("cprt", icctest::MlucTag({{"en", "US", u"No copyright"}, {"de", "DE", u"Kein Copyright"}}))
        .Tag("dmnd", icctest::TextTag("Orvane"));
    return builder.Build();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: fuzz_seeds OUTDIR [FOLDER...]\n", stderr);
        return 2;
    }
    const fs::path out = argv[1];
    for (const char* kind : {"jpeg", "icc", "segments"}) fs::create_directories(out / kind);

    const Bytes small = BaselineImage(32, 24);
    const std::vector<std::pair<std::string, Bytes>> jpegs = {
        {"baseline", BaselineImage(64, 48)},
        {"baseline-grey", BaselineImage(33, 17, 1)},
        {"progressive", ProgressiveImage(100, 60, 3, 4)},
        {"progressive-grey", ProgressiveImage(40, 30, 1, 0)},
        {"arithmetic-sequential", ArithmeticImage(false)},
        {"arithmetic-progressive", ArithmeticImage(true)},
        {"exif-thumbnail", ExifThumbnailImage()},
        {"icc", hostile::JpegWithIcc(SoundProfile())},
        {"end-of-band", hostile::EndOfBandFrame(2048, 2048, 1, 3)},
        {"tiny-app-run", hostile::TinyAppRun(60, false)},
        {"chained-ifds", hostile::ChainedIfds(40)},
        {"nested-ifds", hostile::NestedIfds(40)},
        {"icc-huge-counts", hostile::JpegWithIcc(hostile::HugeCountIcc())},
        {"mpf-past-the-end", hostile::MpfPastTheEnd(small)},
        {"photoshop-past-the-end", hostile::PhotoshopPastTheEnd(small)},
        {"huffman-overflow-dc", hostile::OverflowingHuffman(2, 0)},
        {"huffman-overflow-ac", hostile::OverflowingHuffman(0, 1)},
        {"fotostation-trailer",
         Concat({BaselineImage(64, 48), trailer_fixture::FotoStationRecord(4, small),
                 trailer_fixture::FotoStationRecord(3, small)})},
        {"pentax-maker-note", MakerNotePointerImage(std::string_view("PENTAX \0II", 10), 10, 2 + 10 + 100, 4, 3, small)},
        {"aoc-maker-note", MakerNotePointerImage(std::string_view("AOC\0II", 6), 6, 2 + 10, 4, 3, small)},
        {"xmp-past-its-length", hostile::XmpPastItsLength(small)},
        {"xmp-thumbnails", XmpThumbnailsImage(small)},
        {"samsung-trailer",
         Concat({BaselineImage(64, 48), trailer_fixture::SamsungTrailer({png_fixture::RgbImage(8, 6), small})})},
    };
    int runs = 0;
    for (const auto& [name, bytes] : jpegs) {
        WriteFile(out / "jpeg" / (name + ".jpg"), bytes);
        for (const Bytes& run : RunsOf(bytes)) WriteFile(out / "segments" / (name + "-" + std::to_string(runs++)), run);
    }
    WriteFile(out / "icc" / "sound.icc", SoundProfile());
    WriteFile(out / "icc" / "huge-counts.icc", hostile::HugeCountIcc());

    for (int i = 2; i < argc; ++i) {
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(argv[i], error)) {
            if (!entry.is_regular_file()) continue;
            for (const Bytes& run : RunsOf(ReadFile(entry.path())))
                WriteFile(out / "segments" / ("corpus-" + std::to_string(runs++)), run);
        }
    }
    std::printf("fuzz_seeds: %zu JPEG files, 2 profiles, %d APP runs in %s\n", jpegs.size(), runs, out.string().c_str());
    return 0;
}

#include "hostile/hostile_files.h"

#include "icc/icc_builder.h"
#include "thumbs/tiff_builder.h"
#include "thumbs/trailer_builder.h"
#include "thumbs/xmp_builder.h"

#include <algorithm>
#include <string_view>

namespace hostile {

namespace {

using namespace jpeg_fixture;
using namespace std::string_view_literals;

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value) { icctest::PutU32BE(bytes, at, value); }

// The header and scan of a small baseline grey image after whatever `b` holds.
Bytes FinishBaseline(JpegBuilder& b) {
    b.DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 16, 16, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}).SequentialScanData().Eoi();
    return b.Data();
}

}  // namespace

Bytes EndOfBandFrame(std::uint16_t width, std::uint16_t height, int components, int scans) {
    JpegBuilder b;
    b.Soi().DqtAnnexK(75);
    // AC table 0: a single code "0" for EOB14 (0xE0).
    Bytes dht = {0x10, 1};
    dht.resize(17, 0);
    dht.push_back(0xE0);
    b.Segment(0xC4, dht);
    if (components == 1)
        b.Sof(0xC2, width, height, {{1, 1, 1, 0}});
    else
        b.Sof(0xC2, width, height, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}});
    // The first component's blocks (T.81 A.2.2): it has the largest sampling factors.
    const std::uint64_t blocks = (std::uint64_t{width} + 7) / 8 * ((std::uint64_t{height} + 7) / 8);
    const std::uint64_t runs = (blocks + 32766) / 32767;
    for (int s = 0; s < scans; ++s) {
        b.Segment(0xDA, {1, 1, 0x00, 1, 63, 0});
        Bytes data;
        BitWriter bits(data);
        for (std::uint64_t r = 0; r < runs; ++r) bits.Put(0x3FFF, 15);  // "0", then 14 one bits
        bits.Flush();
        b.Raw(data);
    }
    b.Eoi();
    return b.Data();
}

Bytes TinyAppRun(int count, bool uniform) {
    static constexpr std::string_view kPrefixes[] = {"J"sv,    "JFIF"sv, "Exif"sv, "FPXR"sv, "ICC_PR"sv, "MPF\0"sv,
                                                     "Photo"sv, "8BIM"sv, "QVGA"sv, "BGTH"sv, "x"sv,      "\0"sv};
    JpegBuilder b;
    b.Soi();
    for (int i = 0; i < count; ++i) {
        if (uniform) {
            b.App(1, Text("x"));
            continue;
        }
        const std::size_t k = static_cast<std::size_t>(i);
        const Bytes payload = Text(kPrefixes[k % std::size(kPrefixes)]);
        if (k % 17 == 16)
            b.Segment(0xFE, payload);
        else
            b.App(static_cast<int>(k % 17), payload);
    }
    return FinishBaseline(b);
}

Bytes ChainedIfds(int count) {
    tiff_fixture::TiffBuilder t(false);
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<std::uint32_t>(8 + 6 * i);
        t.Ifd(at, {}, i + 1 < count ? at + 6 : 0);
    }
    JpegBuilder b;
    b.Soi().App(1, tiff_fixture::ExifPayload(t));
    return FinishBaseline(b);
}

Bytes NestedIfds(int count) {
    tiff_fixture::TiffBuilder t(true);
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<std::uint32_t>(8 + 18 * i);
        t.Ifd(at, {tiff_fixture::Long(34665, i + 1 < count ? at + 18 : 0)}, 0);
    }
    JpegBuilder b;
    b.Soi().App(1, tiff_fixture::ExifPayload(t));
    return FinishBaseline(b);
}

Bytes HugeCountIcc() {
    constexpr std::uint32_t kAll = 0xFFFFFFFF;
    Bytes mluc;
    icctest::Append(mluc, "mluc");
    icctest::AppendU32BE(mluc, 0);
    icctest::AppendU32BE(mluc, kAll);  // records
    icctest::AppendU32BE(mluc, kAll);  // record size
    icctest::Append(mluc, "enUS");
    icctest::AppendU32BE(mluc, kAll);  // string length
    icctest::AppendU32BE(mluc, kAll);  // string offset
    icctest::IccBuilder builder;
    builder.Tag("desc", icctest::DescTag({"ansi", u"unicode", kAll, kAll}))
        .Tag("dmnd", mluc)
        .RawEntry("dmdd", kAll, kAll)
        .Tag("cprt", icctest::TextTag("Orvane hostile"))
        .TagCount(kAll);
    Bytes profile = builder.Build();
    PutU32(profile, 0, kAll);
    return profile;
}

Bytes JpegWithIcc(const Bytes& profile) {
    constexpr std::size_t kChunk = 60000;
    const std::size_t chunks = std::max<std::size_t>(1, (profile.size() + kChunk - 1) / kChunk);
    JpegBuilder b;
    b.Soi();
    for (std::size_t i = 0; i < chunks; ++i) {
        Bytes payload = Text("ICC_PROFILE\0"sv);
        payload.push_back(static_cast<std::uint8_t>(i + 1));
        payload.push_back(static_cast<std::uint8_t>(chunks));
        const auto from = profile.begin() + static_cast<std::ptrdiff_t>(std::min(profile.size(), i * kChunk));
        const auto to = profile.begin() + static_cast<std::ptrdiff_t>(std::min(profile.size(), (i + 1) * kChunk));
        payload.insert(payload.end(), from, to);
        b.App(2, payload);
    }
    return FinishBaseline(b);
}

Bytes MpfPastTheEnd(const Bytes& preview) {
    // The MP header: an MP Index IFD with NumberOfImages and MPEntry (CIPA DC-007 5.2.3),
    // then four 16-byte entries: the first image (a dependent parent of images 2 and 3),
    // then images whose sizes and offsets reach past the end of the file.
    tiff_fixture::TiffBuilder t(true);
    t.Ifd(8, {tiff_fixture::Long(0xB001, 0xFFFFFFFF), tiff_fixture::Undefined(0xB002, 64, 50)}, 0);
    const auto entry = [&](std::uint32_t at, std::uint32_t attributes, std::uint32_t size, std::uint32_t offset,
                           std::uint16_t first, std::uint16_t second) {
        t.U32(at, attributes);
        t.U32(at + 4, size);
        t.U32(at + 8, offset);
        t.U16(at + 12, first);
        t.U16(at + 14, second);
    };
    entry(50, 0x80000000u, 0x7FFFFFFF, 0, 2, 3);
    entry(66, 0, 0x7FFFFFFF, 0, 0, 0);           // its offset is set below, once the file's length is known
    entry(82, 0, 0xFFFFFFFF, 0xFFFFFFF0u, 0, 0);  // past the end, and 2^32 - 1 bytes long
    entry(98, 0, 0x7FFFFFFF, 0x7FFFFFF0u, 0, 0);
    JpegBuilder b;
    b.Soi().App(2, tiff_fixture::MpfPayload(t));
    Bytes file = FinishBaseline(b);
    // The MP header stands after SOI (2), the marker and length (4) and "MPF\0" (4).
    const std::uint32_t header = 10;
    const std::uint32_t previewAt = static_cast<std::uint32_t>(file.size()) - header;
    const std::size_t field = header + 66 + 8;
    PutU32(file, field, previewAt);
    file.insert(file.end(), preview.begin(), preview.end());
    return file;
}

Bytes ManyMpfEntriesToOne(int count, const Bytes& preview) {
    // One MP Index IFD: the first image a dependent parent of image 2, whose offset is set
    // per segment below.
    tiff_fixture::TiffBuilder t(true);
    t.Ifd(8, {tiff_fixture::Long(0xB001, 2), tiff_fixture::Undefined(0xB002, 32, 50)}, 0);
    t.U32(50, 0x80000000u);
    t.U16(62, 2);
    t.U32(66 + 4, 0x7FFFFFFF);
    t.U32(66 + 8, 0);  // the offset, set below
    t.U32(66 + 12, 0);
    const Bytes payload = tiff_fixture::MpfPayload(t);
    JpegBuilder b;
    b.Soi();
    for (int i = 0; i < count; ++i) b.App(2, payload);
    Bytes file = FinishBaseline(b);
    const std::size_t segment = 4 + payload.size();
    for (int i = 0; i < count; ++i) {
        // Segment i's MP header stands after SOI, i segments, its marker and length and "MPF\0".
        const std::size_t header = 2 + static_cast<std::size_t>(i) * segment + 8;
        PutU32(file, header + 66 + 8, static_cast<std::uint32_t>(file.size() - header));
    }
    file.insert(file.end(), preview.begin(), preview.end());
    return file;
}

Bytes ManyFotoStationRecords(int count) {
    JpegBuilder b;
    b.Soi();
    Bytes file = FinishBaseline(b);
    const Bytes record = trailer_fixture::FotoStationRecord(4, {});
    for (int i = 0; i < count; ++i) file.insert(file.end(), record.begin(), record.end());
    return file;
}

Bytes ManySamsungEntriesToOne(int count, const Bytes& preview) {
    JpegBuilder b;
    b.Soi();
    Bytes file = FinishBaseline(b);
    Bytes trailer = trailer_fixture::SamsungTrailer({preview});
    // The directory's one entry, repeated: "SEFH", version, count, entries, length, "SEFT".
    const std::size_t dir = trailer.size() - 8 - 24;
    const Bytes entry(trailer.begin() + static_cast<std::ptrdiff_t>(dir + 12), trailer.end() - 8);
    trailer.resize(dir + 12);
    Bytes counted;
    trailer_fixture::PutU32LE(counted, static_cast<std::uint64_t>(count));
    std::copy(counted.begin(), counted.end(), trailer.begin() + static_cast<std::ptrdiff_t>(dir + 8));
    for (int i = 0; i < count; ++i) trailer.insert(trailer.end(), entry.begin(), entry.end());
    trailer_fixture::PutU32LE(trailer, 12 + 12 * static_cast<std::uint64_t>(count));
    trailer.insert(trailer.end(), {'S', 'E', 'F', 'T'});
    file.insert(file.end(), trailer.begin(), trailer.end());
    return file;
}

Bytes XmpPastItsLength(const Bytes& preview) {
    using namespace xmp_fixture;
    const std::string guid = "0123456789ABCDEF0123456789ABCDEF";
    const std::string packet = Packet(Attribute("GImage:Data", Base64(preview)));
    JpegBuilder b;
    b.Soi().App(1, MainXmp(Packet(Attribute("xmpNote:HasExtendedXMP", guid))));
    b.App(1, ExtendedXmp(guid, packet, 65000, 0xFFFFFFFFu)[0]);
    Bytes far = ExtendedXmp(guid, "far away", 65000, 0xFFFFFFFFu)[0];
    PutU32(far, 35 + 32 + 4, 0xFFFFFF00u);
    b.App(1, far);
    return FinishBaseline(b);
}

Bytes ManyXmpImageProperties(int count) {
    using namespace xmp_fixture;
    JpegBuilder b;
    b.Soi();
    // Main packets of at most 3,000 attributes, each within one segment.
    for (int done = 0; done < count;) {
        std::string attributes;
        for (int i = 0; i < 3000 && done < count; ++i, ++done) attributes += " GImage:Data=\"/9j/\"";
        b.App(1, MainXmp(Packet(attributes)));
    }
    return FinishBaseline(b);
}

Bytes ManyEmbeddedPreviews(int count, const Bytes& preview) {
    JpegBuilder b;
    b.Soi();
    for (int i = 0; i < count; ++i) b.Segment(0xFE, preview);
    return FinishBaseline(b);
}

Bytes PhotoshopPastTheEnd(const Bytes& preview) {
    Bytes resources;
    const auto resource = [&](std::uint16_t id, std::uint32_t size, const Bytes& data) {
        icctest::Append(resources, "8BIM");
        resources.push_back(static_cast<std::uint8_t>(id >> 8));
        resources.push_back(static_cast<std::uint8_t>(id));
        resources.insert(resources.end(), {0, 0});  // an empty Pascal name, padded
        icctest::AppendU32BE(resources, size);
        resources.insert(resources.end(), data.begin(), data.end());
        if (data.size() % 2) resources.push_back(0);
    };
    resource(0x0404, 4, {1, 2, 3, 4});
    // The thumbnail resource header (format 1 = JPEG, width, height, ...), then the preview;
    // its size claims 2^31 - 1 bytes.
    Bytes thumbnail(28, 0);
    PutU32(thumbnail, 0, 1);
    thumbnail.insert(thumbnail.end(), preview.begin(), preview.end());
    resource(0x040C, 0x7FFFFFFF, thumbnail);
    resource(0x0409, 0xFFFFFFFF, thumbnail);
    JpegBuilder b;
    b.Soi().App(13, Concat({Text("Photoshop 3.0\0"sv), resources}));
    return FinishBaseline(b);
}

Bytes OverflowingHuffman(int variant, std::uint8_t tableClass) {
    std::array<std::uint8_t, 16> counts{};
    switch (variant) {
        case 0: counts[0] = 3; break;
        case 1: counts.fill(16); break;
        default:
            counts[1] = 4;
            counts[2] = 1;
            break;
    }
    Bytes dht(17 + 256, 0);
    dht[0] = static_cast<std::uint8_t>(tableClass << 4);
    std::size_t symbols = 0;
    for (std::size_t l = 0; l < 16; ++l) {
        dht[1 + l] = counts[l];
        symbols += counts[l];
    }
    dht.resize(17 + symbols);
    for (std::size_t i = 0; i < symbols; ++i) dht[17 + i] = static_cast<std::uint8_t>(tableClass == 0 ? i % 12 : i);
    JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Segment(0xC4, dht);
    b.Sof(0xC0, 16, 16, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}).SequentialScanData().Eoi();
    return b.Data();
}

}  // namespace hostile

// The header pass over a JPEG file: what the marker walk up to the first scan header
// learns, turned into the record's texts and numbers.
#include "analysis/root.h"

#include "analysis/jpeg_with_thumbs.h"

#include "icc/icc_digest.h"
#include "icc/icc_profile.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr std::uint32_t HeaderPassBuffer = 65536;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
    return text;
}

// One character per identifier byte; bytes that are not printable ASCII as two hexadecimal
// digits set off by single spaces: 01 02 03, RGB, 01G 03, R 01.
std::string ComponentIdText(std::string_view ids) {
    std::string text;
    for (const char id : ids) {
        const auto byte = static_cast<std::uint8_t>(id);
        if (byte <= 32 || byte >= 128)
            text = std::string(Trim(text)) + " " + DigestToHex({&byte, 1}) + " ";
        else
            text += id;
        text = std::string(Trim(text));
    }
    return text;
}

// The coding process of a frame marker (T.81 Table B.1).
const char* EncodingName(std::int32_t frameMarker) {
    switch (frameMarker) {
        case 0xC0: return "Baseline DCT, Huffman coding";
        case 0xC1: return "Extended sequential DCT, Huffman coding";
        case 0xC2: return "Progressive DCT, Huffman coding";
        case 0xC3: return "Lossless, Huffman coding";
        case 0xC5: return "Sequential DCT, differential Huffman coding";
        case 0xC6: return "Progressive DCT, differential Huffman coding";
        case 0xC7: return "Lossless, Differential Huffman coding";
        case 0xC9: return "Extended sequential DCT, arithmetic coding";
        case 0xCA: return "Progressive DCT, arithmetic coding";
        case 0xCB: return "Lossless, arithmetic coding";
        case 0xCD: return "Sequential DCT, differential arithmetic coding";
        case 0xCE: return "Progressive DCT, differential arithmetic coding";
        case 0xCF: return "Lossless, differential arithmetic coding";
        default: return "";
    }
}

}  // namespace

// Each preview as Name:WxH and its state, joined by ", ". A labelled record ends in a space
// before its state, so the text reads "EXIF:160x120 , UNK*:C:80x60 (50%)".
std::string ThumbnailsText(const TkestJpegThumbs& AThumbs) {
    std::string text;
    for (const TkestJpegThumb& thumb : AThumbs.Thumbs) {
        if (!text.empty()) text += ", ";
        const std::string size = std::to_string(thumb.Width) + "x" + std::to_string(thumb.Height);
        if (thumb.Name.empty())
            text += size;
        else
            text += thumb.Name + ":" + size + " ";
        if (thumb.Corrupted)
            text += "(Corrupted " + std::to_string(thumb.Percent) + "%)";
        else if (thumb.Percent < 100)
            text += "(" + std::to_string(thumb.Percent) + "%)";
    }
    return text;
}

void AnalyseJpeg(TStream& AStream, TkestInfo& AInfo) {
    AStream.Seek(0);
    TkestJpegWithThumbs parser(HeaderPassBuffer);
    parser.Parse(AStream, poHeadersOnly, 0);  // what was read before any failure counts
    // The images in XMP, those that trailers after the main image index, and the previews
    // that APP segments point to elsewhere in the file.
    if (!parser.ThumbCollection) parser.ThumbCollection = std::make_unique<TkestJpegThumbs>();
    parser.ThumbCollection->ProcessXmp();
    parser.ThumbCollection->ProcessTrailers(AStream, parser.Position);
    parser.ThumbCollection->ProcessPostThumbs(AStream);

    AInfo.ExifFileName = parser.ExifFileName;
    AInfo.Segments = parser.SegmentsText();
    AInfo.ComponentIdText = ComponentIdText(parser.ComponentIds);
    AInfo.ColorSpace = ColorModelName(parser.ChooseColorModel());
    if (parser.FrameSeen) AInfo.Encoding = EncodingName(parser.FrameMarker);
    AInfo.RestartInterval = parser.RestartInterval;
    AInfo.Quality = parser.Quality;
    if (!parser.QuantTableData.empty()) AInfo.QTablesDigest = IccMD5OfBuffer(parser.QuantTableData, true);

    if (parser.ThumbCollection) {
        parser.ThumbCollection->SortThumbs();
        AInfo.Thumbnails = ThumbnailsText(*parser.ThumbCollection);
        AInfo.Debug = parser.ThumbCollection->Debug;
    }

    if (auto profile = parser.IccStream(); profile && IsIccProfileStream(*profile)) {
        ParseIccProfile(*profile, AInfo);
        AInfo.IccSize = static_cast<std::int32_t>(profile->Size());
    }
}

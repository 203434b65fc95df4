// JFIF 1.02: the APP0 "JFIF" segment holds version, units and densities (bytes 5-11), the
// thumbnail width and height (12, 13) and width x height RGB triples from 14. The "JFXX"
// extension segment holds an extension code at 5: 0x10 a JPEG stream from 6; 0x11 a width
// and height (6, 7), a 256-entry RGB palette and one index byte a pixel from 8; 0x13 a
// width and height and RGB triples from 8.
#include "thumbs/jfif.h"

namespace {
constexpr std::uint8_t kApp0 = 0xE0;
}

bool TkestJpegThumbJFIFHandler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp0 && AData.Size() > 5 && AData.Matches(0, "JFIF\0");
}

void TkestJpegThumbJFIFHandler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    if (AData.Size() < 15) return;
    const std::int32_t width = AData.U8(12);
    const std::int32_t height = AData.U8(13);
    if (width != 0 && height != 0) AddRgbThumb(14, AData.Size() - 14, width, height, "");
    ScanForJpeg(AData);
}

bool TkestJpegThumbJFXXHandler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp0 && AData.Size() > 5 && AData.Matches(0, "JFXX\0");
}

void TkestJpegThumbJFXXHandler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    if (AData.Size() < 10) return;
    const std::int32_t width = AData.U8(6);
    const std::int32_t height = AData.U8(7);
    switch (AData.U8(5)) {
        case 0x10:
            if (AData.Matches(6, "\xFF\xD8\xFF")) AddJpegThumb(AData.Sub(6), 6, 0, "Jpg");
            break;
        case 0x11:
            if (width != 0 && height != 0) AddPaletteThumb(8, AData.Size() - 8, width, height, "Bmp8");
            break;
        case 0x13:
            if (width != 0 && height != 0) AddRgbThumb(8, AData.Size() - 8, width, height, "Bmp32");
            break;
        default:
            break;
    }
    ScanForJpeg(AData);
}

// What every handler can do: report a preview, and check a candidate before it is
// reported. Compressed candidates are parsed in place with the collection's shared parser;
// raw pixel candidates are measured by the bytes present against the bytes they require.
#include "thumbs/thumbs.h"

#include <algorithm>
#include <new>

std::string TkestJpegThumbHandler::GetName() const { return "UNK*"; }

bool TkestJpegThumbHandler::CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) {
    return Owner.HandlerClass && Owner.HandlerClass->CanHandle(AMarker, AData, ALength);
}

void TkestJpegThumbHandler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    ScanForJpeg(AData);
}

void TkestJpegThumbHandler::Finish() { ScanForJpeg(ByteView(Owner.Data)); }

TkestJpegThumb& TkestJpegThumbHandler::ReportThumb(std::uint8_t AKind, std::int64_t AOffset, std::int64_t ASize,
                                                   std::int32_t AWidth, std::int32_t AHeight, std::int32_t APercent,
                                                   bool ACorrupted, std::string_view ASuffix) {
    std::string name = GetName();
    if (!ASuffix.empty()) name.append(":").append(ASuffix);
    TkestJpegThumb& thumb = Owner.AddThumb(AKind, AOffset, ASize, AWidth, AHeight, APercent, ACorrupted, std::move(name));
    if (AKind == tkCompressed) FoundOffsets.push_back(AOffset);
    return thumb;
}

bool TkestJpegThumbHandler::IsNewOffset(std::int64_t AOffset) const {
    return std::find(FoundOffsets.begin(), FoundOffsets.end(), AOffset) == FoundOffsets.end();
}

TkestBaseJpegParser& TkestJpegThumbHandler::SharedParser() { return Owner.SharedParser(); }
TTempMemoryStream& TkestJpegThumbHandler::SharedStream() { return Owner.SharedStream(); }

TkestStreamCheck CheckJpegStream(TkestBaseJpegParser& AParser, TStream& AStream, std::uint16_t AOptions,
                                 std::uint8_t AColorModel) {
    TkestStreamCheck check;
    int result = prCorrupt;
    try {
        result = AParser.Parse(AStream, AOptions, AColorModel);
    } catch (const std::bad_alloc&) {
        // Past the work budget or the coefficient maps' limit: what decoded so far stands.
    }
    check.Corrupted = result != prOk || AParser.RestartDamage;
    check.Percent = AParser.PercentRead();
    check.Consumed = AParser.Position;
    if (AParser.FrameSeen) {
        check.Width = AParser.Width;
        check.Height = AParser.Height;
    }
    return check;
}

TkestStreamCheck TkestJpegThumbHandler::CheckStream(TStream& AStream, std::uint16_t AOptions, std::uint8_t AColorModel) {
    if (!Owner.MayCheck()) return {};  // not checked: nothing decoded
    TkestBaseJpegParser& parser = SharedParser();
    AStream.Seek(0);
    const TkestStreamCheck check = CheckJpegStream(parser, AStream, AOptions, AColorModel);
    Owner.CountCheck(parser);
    return check;
}

std::uint64_t TkestJpegThumbHandler::AddJpegThumb(ByteView AData, std::int64_t AOffset, std::uint8_t AColorModel,
                                                  std::string_view ASuffix) {
    TTempMemoryStream& stream = SharedStream();
    stream.SetPointer(AData.Span());
    // A sequential stream is checked up to the scan that completes it; a progressive one to
    // its end.
    const TkestStreamCheck check = CheckStream(stream, poStopWhenComplete, AColorModel);
    stream.SetPointer({});
    if (check.Percent <= 0) return 0;
    TkestJpegThumb& thumb = ReportThumb(tkCompressed, AOffset, static_cast<std::int64_t>(check.Consumed), check.Width,
                                        check.Height, check.Percent, check.Corrupted, ASuffix);
    thumb.ColorModel = AColorModel;
    return check.Consumed;
}

// Every position is a candidate except the last 20 bytes, too few for a stream worth listing.
void TkestJpegThumbHandler::ScanForJpeg(ByteView AData) {
    constexpr std::uint64_t kTail = 20;
    const std::uint64_t length = AData.Size();
    if (length <= kTail) return;
    std::uint64_t p = 0;
    while ((p = AData.Find(0xFF, p, length - kTail)) < length - kTail) {
        if (AData.U8(p + 1) == 0xD8 && AData.U8(p + 2) == 0xFF && IsNewOffset(static_cast<std::int64_t>(p))) {
            const std::uint64_t consumed = AddJpegThumb(AData.Sub(p), static_cast<std::int64_t>(p), 0, "C");
            if (consumed > 0) {
                Owner.Thumbs.back().FoundByScan = true;
                p += consumed;
                continue;
            }
        }
        ++p;
    }
}

// PNG (ISO/IEC 15948): an 8-byte signature, then chunks of a 4-byte length, a 4-byte type,
// the data and a 4-byte CRC; IHDR gives the width and height.
void TkestJpegThumbHandler::ScanForPng(ByteView AData) {
    constexpr std::uint64_t kTail = 20;
    const std::uint64_t length = AData.Size();
    if (length <= kTail) return;
    for (std::uint64_t p = 0; (p = AData.Find(0x89, p, length - kTail)) < length - kTail; ++p) {
        if (!AData.Matches(p, "\x89PNG")) continue;
        const ByteView png = AData.Sub(p);
        std::uint64_t at = 8;
        while (png.HasBytes(at, 8)) {
            const std::uint64_t chunkLength = png.U32BE(at);
            if (png.Matches(at + 4, "\x34\xAB\x66\x79")) break;
            if (!png.Matches(at + 4, "IHDR")) {
                at += 8 + chunkLength;
                if (!png.HasBytes(at, 4)) break;
                at += 4;
                continue;
            }
            if (chunkLength != 13 || !png.HasBytes(at + 8, 8)) break;
            ReportThumb(tkCompressed, static_cast<std::int64_t>(p), 0, static_cast<std::int32_t>(png.U32BE(at + 8)),
                        static_cast<std::int32_t>(png.U32BE(at + 12)), 100, false, "PNG");
            break;
        }
    }
}

// Products of sizes in 64 bits: a width and height of up to 2^31 - 1 each cannot overflow.
void TkestJpegThumbHandler::AddRawThumb(std::uint8_t AKind, std::int64_t AOffset, std::uint64_t AAvailable,
                                        std::uint64_t ANeed, std::int32_t AWidth, std::int32_t AHeight,
                                        std::string_view ASuffix) {
    std::int32_t percent = 100;
    std::uint64_t size = ANeed;
    if (ANeed > AAvailable) {
        percent = static_cast<std::int32_t>(RoundHalfEven(static_cast<double>(AAvailable) * 100.0 / static_cast<double>(ANeed)));
        if (percent == 100) percent = 99;
        size = AAvailable;
    }
    ReportThumb(AKind, AOffset, static_cast<std::int64_t>(size), AWidth, AHeight, percent, false, ASuffix);
}

namespace {
std::uint64_t Pixels(std::int32_t AWidth, std::int32_t AHeight) {
    if (AWidth <= 0 || AHeight <= 0) return 0;
    return std::uint64_t(static_cast<std::uint32_t>(AWidth)) * static_cast<std::uint32_t>(AHeight);
}
}  // namespace

void TkestJpegThumbHandler::AddRgbThumb(std::int64_t AOffset, std::uint64_t AAvailable, std::int32_t AWidth,
                                        std::int32_t AHeight, std::string_view ASuffix) {
    if (AAvailable == 0) return;
    AddRawThumb(tkRgb, AOffset, AAvailable, Pixels(AWidth, AHeight) * 3, AWidth, AHeight, ASuffix);
}

void TkestJpegThumbHandler::AddPaletteThumb(std::int64_t AOffset, std::uint64_t AAvailable, std::int32_t AWidth,
                                            std::int32_t AHeight, std::string_view ASuffix) {
    if (AAvailable <= 768) return;
    AddRawThumb(tkPalette, AOffset, AAvailable, Pixels(AWidth, AHeight) + 768, AWidth, AHeight, ASuffix);
}

void TkestJpegThumbHandler::AddYCbCrThumb(std::int64_t AOffset, std::uint64_t AAvailable, std::int32_t AWidth,
                                          std::int32_t AHeight, std::int32_t AHSampling, std::int32_t AVSampling,
                                          std::string_view ASuffix) {
    if (AAvailable == 0 || AHSampling <= 0 || AVSampling <= 0) return;
    const std::uint64_t pixels = Pixels(AWidth, AHeight);
    const std::uint64_t need = pixels + pixels / static_cast<std::uint32_t>(AHSampling) /
                                            static_cast<std::uint32_t>(AVSampling) * 2;
    AddRawThumb(tkYCbCr, AOffset, AAvailable, need, AWidth, AHeight, ASuffix);
    TkestJpegThumb& thumb = Owner.Thumbs.back();
    thumb.SubsamplingX = AHSampling;
    thumb.SubsamplingY = AVSampling;
}

void TkestJpegThumbHandler::AddPostThumb(std::int64_t AOffset, std::int32_t ASize) {
    Owner.AddPostThumb(AOffset, ASize, GetName());
}

// Vendor previews split over consecutive APP segments. Each class recognises the first
// segment of a run by marker and signature; the collection then offers every following
// segment of the APP run to CanContinue, and the first one refused ends the run. A run whose
// continuing segments carry no header of their own (APP2v1, APP2v2) ends at a segment that
// another format's signature claims. What the segments collected is searched in Finish: by
// default for JPEG streams (suffix "C").
#include "thumbs/vendor_multi.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kApp2 = 0xE2;
constexpr std::uint8_t kApp3 = 0xE3;
constexpr std::uint8_t kApp13 = 0xED;

// The SOI marker and the first byte of the next marker: the start of a JPEG stream.
bool StreamStartsAt(ByteView AData, std::uint64_t AOffset) { return AData.Matches(AOffset, "\xFF\xD8\xFF"); }

// Whether AMarker is AFirst + ATaken: the segments of a run carry consecutive APPn codes.
bool IsNextMarker(std::uint8_t AMarker, std::uint8_t AFirst, std::int32_t ATaken) {
    return std::int64_t{AMarker} == std::int64_t{AFirst} + ATaken;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// APP2v1, APP2v2, APP3

bool TkestJpegThumbAPP2v1Handler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp2 && AData.Size() > 4 && (StreamStartsAt(AData, 0) || StreamStartsAt(AData, 1));
}

bool TkestJpegThumbAPP2v1Handler::CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) {
    return AMarker == kApp2 && !Owner.IsSignedSegment(AMarker, AData, ALength);
}

void TkestJpegThumbAPP2v1Handler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    AppendPayloadFrom(Owner, 0, AData);
}

namespace {
constexpr std::uint64_t kApp2v2Start = 60;
}

bool TkestJpegThumbAPP2v2Handler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp2 && AData.Size() > 64 && StreamStartsAt(AData, kApp2v2Start);
}

bool TkestJpegThumbAPP2v2Handler::CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) {
    return AMarker == kApp2 && !Owner.IsSignedSegment(AMarker, AData, ALength);
}

void TkestJpegThumbAPP2v2Handler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    AppendPayloadFrom(Owner, kApp2v2Start, AData);
}

bool TkestJpegThumbAPP3Handler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp3 && AData.Size() >= 4 && StreamStartsAt(AData, 0);
}

// Only the marker of a continuing segment is examined, not its payload.
bool TkestJpegThumbAPP3Handler::CanContinue(std::uint8_t AMarker, ByteView, std::uint32_t) {
    return IsNextMarker(AMarker, kApp3, SegmentsTaken);
}

void TkestJpegThumbAPP3Handler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    AppendPayloadFrom(Owner, 0, AData);
    ++SegmentsTaken;
}

// ---------------------------------------------------------------------------------------
// FPXR

namespace {

constexpr std::uint64_t kFpxrHeader = 13;
constexpr std::uint8_t kFpxrStreamData = 2;

// The layouts of a stream-data segment: bytes skipped after the 13-byte header before the
// stream's data, and whether the run keeps to one stream index.
struct FpxrLayout {
    std::int32_t Variant;
    std::uint64_t Skip;
};
constexpr std::array<FpxrLayout, 2> kFpxrLayouts = {{{1, 47}, {2, 0}}};

std::uint64_t FpxrSkip(std::int32_t AVariant) {
    for (const FpxrLayout& layout : kFpxrLayouts)
        if (layout.Variant == AVariant) return layout.Skip;
    return 0;
}

}  // namespace

bool TkestJpegThumbFPXR2Handler::CanHandleWith(std::uint8_t AClassMarker, std::uint8_t AMarker, ByteView AData) {
    return AMarker == AClassMarker && AData.Size() > kFpxrHeader && AData.Matches(0, "FPXR\0");
}

bool TkestJpegThumbFPXR2Handler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return CanHandleWith(Marker, AMarker, AData);
}

bool TkestJpegThumbFPXR4Handler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return CanHandleWith(Marker, AMarker, AData);
}

std::string TkestJpegThumbFPXR2Handler::GetName() const {
    std::string name = "FPXR" + std::to_string(GetMarker() - 0xE0);
    if (Variant > 0) name += ":" + std::to_string(Variant);
    return name;
}

// Segments of another type never share a run; stream data of layout 1 keeps to one stream.
bool TkestJpegThumbFPXR2Handler::CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    if (!CanHandleWith(GetMarker(), AMarker, AData) || AData.U8(6) != FpxrType) return false;
    return FpxrType != kFpxrStreamData || Variant == 2 || AData.U16BE(7) == StreamIndex;
}

void TkestJpegThumbFPXR2Handler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    FpxrType = AData.U8(6);
    StreamIndex = AData.U16BE(7);
    std::uint64_t k = kFpxrHeader;
    // The layout is recognised on the first segment of a run only.
    if (FpxrType == kFpxrStreamData && Variant == 0 && Owner.DataLength() == 0) {
        const std::uint64_t after = AData.Size() - kFpxrHeader;  // CanHandle: more than 13 bytes
        for (const FpxrLayout& layout : kFpxrLayouts) {
            if (after > layout.Skip + 4 && StreamStartsAt(AData, kFpxrHeader + layout.Skip)) {
                Variant = layout.Variant;
                break;
            }
        }
    }
    if (Variant != 0) k += FpxrSkip(Variant);
    AppendPayloadFrom(Owner, k, AData);
}

// ---------------------------------------------------------------------------------------
// FLIR

namespace {
constexpr std::uint64_t kFlirStart = 8;
}

bool TkestJpegThumbFLIRHandler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp1 && AData.Size() > kFlirStart && AData.Matches(0, "FLIR\0");
}

void TkestJpegThumbFLIRHandler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    AppendPayloadFrom(Owner, kFlirStart, AData);
}

void TkestJpegThumbFLIRHandler::Finish() {
    ScanForPng(ByteView(Owner.Data));
    TkestJpegThumbMultiHandler::Finish();
}

// ---------------------------------------------------------------------------------------
// Photoshop image resources

namespace {

constexpr std::uint64_t kPhotoshopStart = 14;

// Image resource block signatures: Photoshop's own and those of other writers.
// "AgHg", "DCSR" and "MeSa" are also accepted byte-reversed, as some writers may store them.
constexpr std::array<std::string_view, 8> kResourceSignatures = {"8BIM", "PHUT", "AgHg", "DCSR",
                                                                 "MeSa", "gHgA", "RSCD", "aSeM"};

constexpr std::uint16_t kThumbnailBgr = 0x0409;  // Photoshop 4.0 thumbnail, BGR order
constexpr std::uint16_t kThumbnail = 0x040C;     // Photoshop 5.0 and later

// The thumbnail resource header: format, width, height, width in bytes, total size,
// compressed size (32-bit each), bits per pixel, planes (16-bit each).
constexpr std::uint64_t kThumbnailHeader = 28;
constexpr std::uint32_t kThumbnailRaw = 0;
constexpr std::uint32_t kThumbnailJpeg = 1;
// The BGR thumbnail is checked with a colour model the headers never produce, so that
// its channels are not taken for RGB.
constexpr std::uint8_t kBgrColorModel = 6;

bool IsResourceSignature(ByteView AData, std::uint64_t AOffset) {
    return std::any_of(kResourceSignatures.begin(), kResourceSignatures.end(),
                       [&](std::string_view signature) { return MatchesText(AData, AOffset, signature); });
}

}  // namespace

bool TkestJpegThumbPhotoshopHandler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp13 && AData.Size() >= kPhotoshopStart && AData.Matches(0, "Photoshop 3.0\0");
}

void TkestJpegThumbPhotoshopHandler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    AppendPayloadFrom(Owner, kPhotoshopStart, AData);
}

void TkestJpegThumbPhotoshopHandler::Finish() {
    WalkResources(ByteView(Owner.Data));
    TkestJpegThumbMultiHandler::Finish();
}

// Each resource block: a 4-byte signature, a 16-bit identifier, a Pascal name padded to an
// even length, a 32-bit data size and the data padded to an even length (all big-endian).
// The walk ends at the first field that does not fit in the bytes that remain.
void TkestJpegThumbPhotoshopHandler::WalkResources(ByteView AData) {
    std::uint64_t at = 0;
    auto left = [&] { return AData.Size() - at; };
    while (AData.HasBytes(at, 4)) {
        if (!IsResourceSignature(AData, at)) {
            Owner.Debug = true;
            return;
        }
        at += 4;
        if (left() < 2) return;
        const std::uint16_t id = AData.U16BE(at);
        at += 2;
        if (left() < 1) return;
        const std::uint64_t nameLength = AData.U8(at);
        at += 1;
        if (left() < nameLength) return;
        at += nameLength;
        if (nameLength % 2 == 0) {  // the length byte and the name take an even count
            if (left() < 1) return;
            at += 1;
        }
        if (left() < 4) return;
        const auto size = static_cast<std::int32_t>(AData.U32BE(at));
        at += 4;
        if (id == kThumbnailBgr || id == kThumbnail) ExamineThumbnail(AData.Sub(at), at, id);
        // A negative size would step backwards: it ends the walk like any size that does
        // not fit.
        if (size < 0 || left() < static_cast<std::uint64_t>(size)) return;
        at += static_cast<std::uint64_t>(size);
        if (size % 2 != 0) {
            if (left() < 1) return;
            at += 1;
        }
    }
}

// AData runs from the resource's first data byte to the end of the collected bytes, at
// AOffset in them.
void TkestJpegThumbPhotoshopHandler::ExamineThumbnail(ByteView AData, std::uint64_t AOffset, std::uint16_t AId) {
    if (AData.Size() < kThumbnailHeader) return;
    switch (AData.U32BE(0)) {
        case kThumbnailRaw:
            Owner.Debug = true;
            break;
        case kThumbnailJpeg:
            AddJpegThumb(AData.Sub(kThumbnailHeader), static_cast<std::int64_t>(AOffset + kThumbnailHeader),
                         AId == kThumbnailBgr ? kBgrColorModel : 0, "");
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------------------
// Qualcomm

bool TkestJpegThumbQualcommHandler::CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) {
    return IsNextMarker(AMarker, kQualcommLayout.Marker, SegmentsTaken) &&
           CanHandle(kQualcommLayout.Marker, AData, ALength);
}

void TkestJpegThumbQualcommHandler::ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData,
                                                   std::uint32_t ALength) {
    TkestJpegThumbSignedHandler::ProcessSegment(AOffset, AMarker, AData, ALength);
    ++SegmentsTaken;
}

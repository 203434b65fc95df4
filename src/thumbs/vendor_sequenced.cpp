// Sequenced vendor previews: the first segment announces the preview, each following one
// must carry the next number (or the same identifier), and the bytes after every header are
// collected. A run that breaks off is measured with what it collected.
#include "thumbs/vendor_sequenced.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::uint8_t kApp2 = 0xE2;
constexpr std::uint8_t kApp4 = 0xE4;
constexpr std::uint8_t kApp5 = 0xE5;
constexpr std::uint8_t kApp10 = 0xEA;

// The share of ANeed bytes that AHave bytes are, rounded half to even, 100 only when
// nothing is missing.
std::int32_t SharePresent(std::uint64_t AHave, std::uint64_t ANeed) {
    if (AHave >= ANeed) return 100;
    const auto percent =
        static_cast<std::int32_t>(RoundHalfEven(static_cast<double>(AHave) * 100.0 / static_cast<double>(ANeed)));
    return percent >= 100 ? 99 : percent;
}

// A 32-bit size as the signed member of a record; sizes of 2^31 or more cannot be shown.
std::int32_t AsDimension(std::uint32_t AValue) {
    return AValue > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
               ? std::numeric_limits<std::int32_t>::max()
               : static_cast<std::int32_t>(AValue);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The HP family

void TkestJpegThumbBaseHPHandler::Finish() {
    const std::uint64_t collected = Owner.DataLength();
    if (PreviewWidth > 0 && PreviewHeight > 0 && collected > 0) {
        // 2 bytes a pixel. Widths and heights of up to 2^32 - 1 make a product of up to
        // 2^65: it saturates, and no collection holds that many bytes.
        const std::uint64_t pixels = std::uint64_t{PreviewWidth} * PreviewHeight;
        const std::uint64_t expected = pixels > std::numeric_limits<std::uint64_t>::max() / 2
                                           ? std::numeric_limits<std::uint64_t>::max()
                                           : pixels * 2;
        const std::uint64_t size = collected >= expected ? expected : collected;
        ReportThumb(tkYCbCr, 0, static_cast<std::int64_t>(size), AsDimension(PreviewWidth), AsDimension(PreviewHeight),
                    SharePresent(collected, expected), false, "");
    }
    TkestJpegThumbMultiHandler::Finish();
}

namespace {
constexpr std::uint64_t kScrnailStart = 8;
constexpr std::uint32_t kScrnailWidth = 320;
constexpr std::uint32_t kScrnailHeight = 240;
}  // namespace

bool TkestJpegThumbSCRNAILHandler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp4 && AData.Size() > kScrnailStart && AData.Matches(0, "SCRNAIL\0");
}

// Following segments hold pixels only: the APP4 segments that follow continue the run until
// one that a signed format claims (SCRNAIL's own signature included: a new preview).
bool TkestJpegThumbSCRNAILHandler::CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) {
    return AMarker == kApp4 && !Owner.IsSignedSegment(AMarker, AData, ALength);
}

void TkestJpegThumbSCRNAILHandler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    if (SegmentCount == 0) {
        PreviewWidth = kScrnailWidth;
        PreviewHeight = kScrnailHeight;
        SegmentCount = 3;  // marks only that the first segment was taken
        AppendPayloadFrom(Owner, kScrnailStart, AData);
    } else {
        AppendPayloadFrom(Owner, 0, AData);
    }
}

// ---------------------------------------------------------------------------------------
// PRV

namespace {
constexpr std::uint64_t kPrvTailStart = 10;
constexpr std::uint64_t kPrvTailBlock = 8;
constexpr std::uint64_t kPrvData = 4;  // in the segments after the first
constexpr std::uint16_t kPrvMaximumSize = 1999;
}  // namespace

bool TkestJpegThumbPrvHandler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    if (AMarker != kApp10 || AData.Size() < 10 || !AData.Matches(0, "prv0")) return false;
    const std::uint16_t width = AData.U16BE(6);
    const std::uint16_t height = AData.U16BE(8);
    return AData.U16BE(4) != 0 && width >= 1 && width <= kPrvMaximumSize && height >= 1 && height <= kPrvMaximumSize;
}

// Segment i is "prv" and the digit byte 0x30 + i.
bool TkestJpegThumbPrvHandler::CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp10 && SegmentsTaken < SegmentCount && AData.Size() >= 4 && AData.Matches(0, "prv") &&
           std::int64_t{AData.U8(3)} == 0x30 + std::int64_t{SegmentsTaken};
}

void TkestJpegThumbPrvHandler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    if (SegmentsTaken == 0) {
        FirstPayload = Owner.SegmentOffset;
        SegmentCount = AData.U16BE(4);
        PreviewWidth = AData.U16BE(6);
        PreviewHeight = AData.U16BE(8);
        // The tail blocks must all be present before any is kept: a first segment too
        // short for them is abandoned, and the next "prv0" is taken as a first one again.
        // (One that continues a run is not checked by CanHandle: its count may be 0.)
        const std::uint64_t tails = SegmentCount > 0 ? static_cast<std::uint64_t>(SegmentCount - 1) : 0;
        if (SegmentCount == 0 || !AData.HasBytes(kPrvTailStart, tails * kPrvTailBlock)) {
            TailBytes.clear();
            return;
        }
        TailBytes.assign(static_cast<std::size_t>(tails), {});
        for (std::uint64_t i = 0; i < tails; ++i) {
            const auto block = AData.Sub(kPrvTailStart + i * kPrvTailBlock, kPrvTailBlock).Span();
            std::copy(block.begin(), block.end(), TailBytes[static_cast<std::size_t>(i)].begin());
        }
        AppendPayloadFrom(Owner, kPrvTailStart + tails * kPrvTailBlock, AData);
    } else {
        AppendPayloadFrom(Owner, kPrvData, AData);
    }
    // Each segment's pixels but the last are followed by the tail block of its number. Its
    // bytes stand in the first segment's header, and its file range says so.
    if (SegmentsTaken < SegmentCount - 1) {
        const auto& tail = TailBytes[static_cast<std::size_t>(SegmentsTaken)];
        Owner.AppendSegmentData(0, ByteView(tail.data(), tail.size()));
        Owner.Blocks.back().Offset = static_cast<std::int64_t>(
            FirstPayload + kPrvTailStart + static_cast<std::uint64_t>(SegmentsTaken) * kPrvTailBlock);
    }
    ++SegmentsTaken;
}

void TkestJpegThumbPrvHandler::Finish() {
    if (PreviewWidth > 0 && PreviewHeight > 0) AddRgbThumb(0, Owner.DataLength(), PreviewWidth, PreviewHeight, "");
    TkestJpegThumbMultiHandler::Finish();
}

// ---------------------------------------------------------------------------------------
// Samsung and XMTH: one JPEG stream over the segments of a run

namespace {
constexpr std::uint64_t kSamsungFirstData = 18;
constexpr std::uint64_t kSamsungData = 16;
constexpr std::uint64_t kXmthFirstData = 9;
constexpr std::uint64_t kXmthData = 4;

// The collected bytes parsed as one stream with the handler's shared parser and reported
// under its name when anything of them decodes.
void CheckCollected(TkestJpegThumbHandler& AHandler, std::uint8_t AKind, std::uint16_t AOptions) {
    TTempMemoryStream& stream = AHandler.SharedStream();
    stream.SetPointer(AHandler.Owner.Data);
    const TkestStreamCheck check = AHandler.CheckStream(stream, AOptions, 0);
    stream.SetPointer({});
    if (check.Percent > 0)
        AHandler.ReportThumb(AKind, 0, static_cast<std::int64_t>(check.Consumed), check.Width, check.Height,
                             check.Percent, check.Corrupted, "");
}
}  // namespace

bool TkestJpegThumbSamsungHandler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp5 && AData.Size() >= kSamsungFirstData && AData.Matches(0, "Samsung\0") &&
           AData.U16LE(12) > 0 && AData.U16LE(14) == 1;
}

bool TkestJpegThumbSamsungHandler::CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp5 && AData.Size() >= kSamsungData && AData.Matches(0, "Samsung\0") &&
           std::int32_t{AData.U16LE(12)} == SequenceId && std::int32_t{AData.U16LE(14)} == NextSegment;
}

void TkestJpegThumbSamsungHandler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    if (NextSegment == 0) {
        SequenceId = AData.U16LE(12);
        AppendPayloadFrom(Owner, kSamsungFirstData, AData);
        NextSegment = 1;
    } else {
        AppendPayloadFrom(Owner, kSamsungData, AData);
    }
    ++NextSegment;
}

// The collected stream does not begin with SOI.
void TkestJpegThumbSamsungHandler::Finish() {
    CheckCollected(*this, tkWithoutSoi, poNoSoi | poStopWhenComplete);
    TkestJpegThumbMultiHandler::Finish();
}

bool TkestJpegThumbXMTHHandler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp2 && AData.Size() > 10 && AData.Matches(0, "XMTH") && AData.U32BE(4) != 0 &&
           AData.U8(8) > 0;
}

bool TkestJpegThumbXMTHHandler::CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp2 && AData.Size() >= kXmthFirstData && AData.Matches(0, "XMTH") &&
           SegmentsTaken < SegmentCount;
}

void TkestJpegThumbXMTHHandler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    if (SegmentsTaken == 0) {
        SegmentCount = AData.U8(8);
        AppendPayloadFrom(Owner, kXmthFirstData, AData);
    } else {
        AppendPayloadFrom(Owner, kXmthData, AData);
    }
    ++SegmentsTaken;
}

// A full parse of the collected stream: it is listed once, the scan after it finds its
// offset among those reported.
void TkestJpegThumbXMTHHandler::Finish() {
    CheckCollected(*this, tkCompressed, 0);
    TkestJpegThumbMultiHandler::Finish();
}

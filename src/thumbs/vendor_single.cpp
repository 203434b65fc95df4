// Single-segment vendor previews. The bare APP4 and APP5 previews are entropy-coded data
// only: a baseline stream is rebuilt around them from the 589-byte header template (tables
// K.1 and K.2 at quality 85, the Huffman tables of T.81 Annex K, a 2x1/1x1/1x1 frame and a
// scan of all three components), the segment's own quantization tables and a frame size,
// and the parser measures how much of it decodes.
#include "thumbs/vendor_single.h"

#include "thumbs/header_template.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kApp4 = 0xE4;
constexpr std::uint8_t kApp5 = 0xE5;

// Both forms hold two quantization tables of 64 bytes at the start of the payload, in the
// order a DQT segment holds them (T.81 B.2.4.1: zigzag).
constexpr std::uint64_t kTableBytes = 64;
constexpr std::uint64_t kTablesEnd = 2 * kTableBytes;

// APP5: 00 00 00 01 at 128, width at 132, height at 134, data from 136.
constexpr std::uint64_t kApp5Width = 132;
constexpr std::uint64_t kApp5Height = 134;
constexpr std::uint64_t kApp5Data = 136;
// APP4: 00 01 or 00 00 at 128 and data from 130 with tables; data from 11 without.
constexpr std::uint64_t kApp4TablesData = 130;
constexpr std::uint64_t kApp4BareData = 11;
constexpr std::uint64_t kMinimum = 136;  // both need more payload bytes than this

// A rebuilt preview must decode beyond this share to be listed.
constexpr std::int32_t kApp4MinimumPercent = 5;

struct RebuiltSize {
    std::uint16_t Width;
    std::uint16_t Height;
};
// The sizes APP4 previews come in, tried in this order.
constexpr RebuiltSize kApp4Large = {480, 360};
constexpr RebuiltSize kApp4Small = {320, 240};

// The template with the segment's tables (when ATables holds them), the frame size bytes
// and the entropy-coded data, parsed with the handler's shared parser.
TkestStreamCheck CheckRebuilt(TkestJpegThumbHandler& AHandler, ByteView ATables, std::uint8_t AHeightHigh,
                              std::uint8_t AHeightLow, std::uint8_t AWidthHigh, std::uint8_t AWidthLow,
                              ByteView AScanData) {
    TMemoryStream stream;
    std::vector<std::uint8_t>& bytes = stream.Bytes();
    const TkestHeaderTemplate& header = Quality85Template();
    bytes.reserve(header.size() + AScanData.Size());
    bytes.assign(header.begin(), header.end());
    if (ATables.Size() == kTablesEnd) {
        const auto table0 = ATables.Sub(0, kTableBytes).Span();
        const auto table1 = ATables.Sub(kTableBytes, kTableBytes).Span();
        std::copy(table0.begin(), table0.end(), bytes.begin() + kTemplateQuant0);
        std::copy(table1.begin(), table1.end(), bytes.begin() + kTemplateQuant1);
    }
    bytes[kTemplateHeight] = AHeightHigh;
    bytes[kTemplateHeight + 1] = AHeightLow;
    bytes[kTemplateWidth] = AWidthHigh;
    bytes[kTemplateWidth + 1] = AWidthLow;
    bytes.insert(bytes.end(), AScanData.Span().begin(), AScanData.Span().end());
    return AHandler.CheckStream(stream, poStopWhenComplete, 0);
}

TkestStreamCheck CheckRebuilt(TkestJpegThumbHandler& AHandler, ByteView ATables, RebuiltSize ASize,
                              ByteView AScanData) {
    return CheckRebuilt(AHandler, ATables, static_cast<std::uint8_t>(ASize.Height >> 8),
                        static_cast<std::uint8_t>(ASize.Height), static_cast<std::uint8_t>(ASize.Width >> 8),
                        static_cast<std::uint8_t>(ASize.Width), AScanData);
}

}  // namespace

bool TkestJpegThumbAPP5Handler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp5 && AData.Size() > kMinimum && AData.Matches(kTablesEnd, "\0\0\0\x01") &&
           AData.U16BE(kApp5Width) != 0 && AData.U16BE(kApp5Height) != 0;
}

void TkestJpegThumbAPP5Handler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    // The size bytes are copied as stored: height at 134, width at 132.
    const TkestStreamCheck check =
        CheckRebuilt(*this, AData.Sub(0, kTablesEnd), AData.U8(kApp5Height), AData.U8(kApp5Height + 1),
                     AData.U8(kApp5Width), AData.U8(kApp5Width + 1), AData.Sub(kApp5Data));
    if (check.Percent > 0)
        ReportThumb(tkRebuilt, 0, static_cast<std::int64_t>(AData.Size()), check.Width, check.Height, check.Percent,
                    check.Corrupted, "1");
    ScanForJpeg(AData);
}

bool TkestJpegThumbAPP4Handler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    if (AMarker != kApp4 || AData.Size() <= kMinimum) return false;
    const auto bytes = AData.Span();
    return std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; });
}

// The preview's size is not stored: the larger size is tried first, and the smaller one
// decides whenever the larger does not decode whole.
void TkestJpegThumbAPP4Handler::ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) {
    const bool hasTables = AData.Matches(kTablesEnd, "\0\x01") || AData.Matches(kTablesEnd, "\0\0");
    const ByteView tables = hasTables ? AData.Sub(0, kTablesEnd) : ByteView();
    const ByteView scan = AData.Sub(hasTables ? kApp4TablesData : kApp4BareData);
    TkestStreamCheck check = CheckRebuilt(*this, tables, kApp4Large, scan);
    if (check.Percent < 100) check = CheckRebuilt(*this, tables, kApp4Small, scan);
    // The size was guessed: the record is marked corrupted whatever the parser's result.
    if (check.Percent > kApp4MinimumPercent)
        ReportThumb(tkRebuilt, 0, static_cast<std::int64_t>(AData.Size()), check.Width, check.Height, check.Percent,
                    true, "");
    ScanForJpeg(AData);
}

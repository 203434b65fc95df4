// MPF APP2: "MPF" and a zero byte, then the MP header, a TIFF header (CIPA DC-007 5.2.2)
// whose first IFD is the MP Index IFD with NumberOfImages (0xB001) and MPEntry (0xB002).
// Offsets count from the MP header, at file offset (segment marker) + 8.
#include "thumbs/mpf.h"

#include "thumbs/tiff.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kApp2 = 0xE2;
constexpr std::uint16_t kNumberOfImages = 0xB001;
constexpr std::uint16_t kMPEntry = 0xB002;
constexpr std::uint32_t kEntrySize = 16;
constexpr std::uint32_t kDependentParent = 0x80000000u;

}  // namespace

bool TkestJpegThumbMPFHandler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp2 && AData.Size() > 12 && AData.Matches(0, "MPF\0") && IsTiffHeader(AData.Sub(4));
}

void TkestJpegThumbMPFHandler::ProcessSegment(std::uint64_t AOffset, std::uint8_t, ByteView AData, std::uint32_t) {
    const TkestTiffBlock block{AData.Sub(4), AData.Matches(4, "MM")};
    const std::int64_t header = static_cast<std::int64_t>(AOffset) + 8;
    if (!block.HasBytes(4, 4)) return;
    const std::uint32_t ifd = block.U32(4);
    if (ifd == 0 || !block.HasBytes(ifd, 2)) return;
    const std::uint32_t count = block.U16(ifd);

    bool haveImages = false;
    std::int32_t images = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        TkestIfdEntry entry;
        if (!entry.Read(block, ifd + 2 + 12 * std::uint64_t{i})) return;
        if (entry.Tag == kNumberOfImages) {
            haveImages = entry.GetInteger(block.BigEndian, images);
            continue;
        }
        if (entry.Tag != kMPEntry || !haveImages || entry.Count <= 4) continue;
        if (entry.Type != ttByte && entry.Type != ttAscii && entry.Type != ttSByte && entry.Type != ttUndefined)
            continue;
        const auto at = static_cast<std::int32_t>(entry.ValueU32(block.BigEndian));
        const std::uint64_t available = at < 0 ? 0 : block.Available(static_cast<std::uint64_t>(at));
        if (available == 0) continue;
        // 64-bit products: a hostile NumberOfImages cannot wrap the length to a small one.
        const std::uint64_t length = std::min({available, std::uint64_t{entry.Count} / kEntrySize * kEntrySize,
                                               std::uint64_t{static_cast<std::uint32_t>(images)} * kEntrySize});

        std::vector<TkestMPEntry> entries;
        for (std::uint64_t e = 0; e + kEntrySize <= length; e += kEntrySize) {
            const std::uint64_t p = static_cast<std::uint64_t>(at) + e;
            if (!block.HasBytes(p, kEntrySize)) break;
            entries.push_back({block.U32(p), block.U32(p + 4), block.U32(p + 8), block.U16(p + 12), block.U16(p + 14)});
        }

        // Each image listed once, at the pair of offsets it may mean: from the MP header (as
        // the format defines it) and from the start of the file (as some writers store it).
        auto report = [&](std::uint16_t number) {
            if (number == 0 || number > entries.size()) return;
            TkestMPEntry& image = entries[number - 1u];
            if (image.Offset == 0) return;
            const auto size = static_cast<std::int32_t>(image.Size);
            AddPostThumb(header + image.Offset, size);
            AddPostThumb(image.Offset, size);
            image.Offset = 0;
        };
        for (TkestMPEntry& first : entries) {
            if (first.Offset != 0) continue;
            if (first.Attributes & kDependentParent) {
                report(first.Dependent1);
                first.Dependent1 = 0;
                report(first.Dependent2);
                first.Dependent2 = 0;
            }
            break;
        }
    }
}

// Exif APP1: "Exif", two zero bytes, then a TIFF header (TIFF 6.0 section 2) whose IFD chain
// holds IFD0 (the main image) and IFD1 (the thumbnail, Exif 2.3 section 4.5.4), and whose
// Exif IFD pointer (tag 34665) leads to the Exif IFD with the MakerNote (tag 37500).
#include "thumbs/exif.h"

#include <optional>
#include <set>

namespace {

constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint64_t kTiffStart = 6;  // payload position of the TIFF header
constexpr std::int64_t kTiffPosition = 6;  // the same, for offsets reported

// TIFF and Exif tags acted on.
constexpr std::uint16_t kImageWidth = 256;
constexpr std::uint16_t kMake = 271;
constexpr std::uint16_t kImageLength = 257;
constexpr std::uint16_t kBitsPerSample = 258;
constexpr std::uint16_t kCompression = 259;
constexpr std::uint16_t kPhotometric = 262;
constexpr std::uint16_t kStripOffsets = 273;
constexpr std::uint16_t kSamplesPerPixel = 277;
constexpr std::uint16_t kStripByteCounts = 279;
constexpr std::uint16_t kJpegInterchangeFormat = 513;
constexpr std::uint16_t kYCbCrSubSampling = 530;
constexpr std::uint16_t kExifIfdPointer = 34665;
constexpr std::uint16_t kMakerNote = 37500;

// What the entries of one IFD said; a fact is present only when its reader succeeded.
struct IfdFacts {
    std::optional<std::int32_t> Width, Height, Compression, Photometric, StripOffset, Samples, StripSize, JpegOffset;
    std::optional<std::vector<std::int32_t>> Bits, Subsampling;
};

std::optional<std::int32_t> Integer(const TkestIfdEntry& AEntry, bool ABigEndian) {
    std::int32_t value = 0;
    if (!AEntry.GetInteger(ABigEndian, value)) return std::nullopt;
    return value;
}

std::optional<std::vector<std::int32_t>> Shorts(const TkestIfdEntry& AEntry, const TkestTiffBlock& ABlock) {
    std::vector<std::int32_t> values;
    if (!AEntry.GetShortArray(ABlock, values)) return std::nullopt;
    return values;
}

// An IFD chain being walked: the IFD it stands at, the entry it reads next, and the facts
// gathered so far. A chain that reaches an Exif IFD pointer waits while the nested chain
// is walked.
struct Chain {
    explicit Chain(std::uint32_t ANext) : Next(ANext) {}
    std::uint32_t Next = 0;  // offset of the IFD to enter next
    bool InIfd = false;
    std::uint64_t Ifd = 0;
    std::uint32_t EntryCount = 0;
    std::uint32_t Entry = 0;
    IfdFacts Facts;
};

// Rounds up to a multiple of `factor` (1, 2 or 4) in 64 bits.
std::int64_t RoundUp(std::int32_t value, std::int32_t factor) {
    return (std::int64_t{value} + factor - 1) / factor * factor;
}

}  // namespace

bool TkestJpegThumbExifHandler::CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
    return AMarker == kApp1 && AData.Size() > 14 && AData.Matches(0, "Exif\0\0") && IsTiffHeader(AData.Sub(kTiffStart));
}

void TkestJpegThumbExifHandler::ProcessSegment(std::uint64_t AOffset, std::uint8_t, ByteView AData, std::uint32_t) {
    const TkestTiffBlock block{AData.Sub(kTiffStart), AData.Matches(kTiffStart, "MM")};
    const std::int64_t tiffFileOffset = static_cast<std::int64_t>(AOffset) + 4 + static_cast<std::int64_t>(kTiffStart);
    TiffFileOffset = tiffFileOffset;
    TiffSize = block.Bytes.Size();
    BigEndian = block.BigEndian;

    // The IFDs are walked with an explicit stack of chains instead of recursion, so that a
    // segment chaining thousands of Exif IFDs costs memory, not stack depth. Every IFD is
    // entered at most once (visited), which bounds the stack by the IFDs the block can hold.
    std::set<std::uint32_t> visited;
    std::set<std::int32_t> makerNotes;
    std::vector<Chain> chains;
    if (block.HasBytes(4, 4)) chains.emplace_back(block.U32(4));

    while (!chains.empty()) {
        Chain& chain = chains.back();
        if (!chain.InIfd) {
            const std::uint32_t offset = chain.Next;
            if (offset == 0 || !visited.insert(offset).second || !block.HasBytes(offset, 2)) {
                chains.pop_back();
                continue;
            }
            chain.InIfd = true;
            chain.Ifd = offset;
            chain.EntryCount = block.U16(offset);
            chain.Entry = 0;
            chain.Facts = {};
        }

        bool nested = false;
        bool broken = false;
        while (chain.Entry < chain.EntryCount) {
            TkestIfdEntry entry;
            if (!entry.Read(block, chain.Ifd + 2 + 12 * std::uint64_t{chain.Entry})) {
                broken = true;
                break;
            }
            ++chain.Entry;
            IfdFacts& facts = chain.Facts;
            switch (entry.Tag) {
                case kImageWidth: facts.Width = Integer(entry, block.BigEndian); break;
                case kImageLength: facts.Height = Integer(entry, block.BigEndian); break;
                case kBitsPerSample: facts.Bits = Shorts(entry, block); break;
                case kCompression: facts.Compression = Integer(entry, block.BigEndian); break;
                case kPhotometric: facts.Photometric = Integer(entry, block.BigEndian); break;
                case kStripOffsets: facts.StripOffset = Integer(entry, block.BigEndian); break;
                case kSamplesPerPixel: facts.Samples = Integer(entry, block.BigEndian); break;
                case kStripByteCounts: facts.StripSize = Integer(entry, block.BigEndian); break;
                case kJpegInterchangeFormat: facts.JpegOffset = Integer(entry, block.BigEndian); break;
                case kYCbCrSubSampling: facts.Subsampling = Shorts(entry, block); break;
                case kMake:
                    // ASCII: in the value field up to 4 bytes, else at the offset it holds.
                    if (entry.Type == ttAscii && Make.empty()) {
                        const ByteView text = entry.Count <= 4 ? ByteView(entry.Value, entry.Count)
                                                               : block.Bytes.Sub(entry.ValueU32(block.BigEndian), entry.Count);
                        Make.assign(reinterpret_cast<const char*>(text.Data()), text.Size());
                    }
                    break;
                case kExifIfdPointer:
                    // An offset of any integer type, read in the file's byte order (a SHORT
                    // from the value field's first two bytes).
                    if (const auto value = Integer(entry, block.BigEndian)) {
                        nested = true;
                        chains.emplace_back(static_cast<std::uint32_t>(*value));
                    }
                    break;
                case kMakerNote:
                    if (entry.Count >= 5 && (entry.Type == ttByte || entry.Type == ttAscii || entry.Type == ttSByte ||
                                             entry.Type == ttUndefined)) {
                        const auto at = static_cast<std::int32_t>(entry.ValueU32(block.BigEndian));
                        const std::uint64_t available =
                            at < 0 ? 0 : std::min<std::uint64_t>(block.Available(static_cast<std::uint64_t>(at)), entry.Count);
                        // A maker note that several IFDs point to is probed once.
                        if (available > 0 && makerNotes.insert(at).second)
                            ProbeMakerNote(tiffFileOffset + at, block.Bytes.Sub(static_cast<std::uint64_t>(at), available));
                    }
                    break;
                default: break;
            }
            if (nested) break;
        }
        if (nested) continue;  // `chain` may have moved; it is resumed when the nested walk ends
        if (broken) {
            chains.pop_back();
            continue;
        }

        // The thumbnail decision for this IFD (Exif 2.3 section 4.5.4: a JPEG thumbnail by
        // JPEGInterchangeFormat, or an uncompressed one in a single strip).
        const IfdFacts& facts = chain.Facts;
        if (facts.JpegOffset) {
            const std::int32_t at = *facts.JpegOffset;
            if (at >= 0 && block.HasBytes(static_cast<std::uint64_t>(at), 4) &&
                block.Bytes.Matches(static_cast<std::uint64_t>(at), "\xFF\xD8\xFF") && IsNewOffset(kTiffPosition + at))
                AddJpegThumb(block.Bytes.Sub(static_cast<std::uint64_t>(at)), kTiffPosition + at, 0, "");
        } else if (facts.Compression) {
            if (*facts.Compression == 1) {
                const bool rgb = facts.Photometric == 2;
                const bool ycc = facts.Photometric == 6;
                std::vector<std::int32_t> subsampling = {2, 2};
                if (ycc && facts.Subsampling) subsampling = *facts.Subsampling;
                const bool subsamplingOk =
                    !ycc || (subsampling.size() == 2 && (subsampling[0] == 1 || subsampling[0] == 2 || subsampling[0] == 4) &&
                             (subsampling[1] == 1 || subsampling[1] == 2 || subsampling[1] == 4));
                if (facts.Width > 0 && facts.Height > 0 && (rgb || ycc) && facts.Samples == 3 && facts.Bits &&
                    *facts.Bits == std::vector<std::int32_t>{8, 8, 8} && facts.StripOffset && subsamplingOk) {
                    std::int64_t width = *facts.Width;
                    std::int64_t height = *facts.Height;
                    if (ycc) {
                        width = RoundUp(*facts.Width, subsampling[0]);
                        height = RoundUp(*facts.Height, subsampling[1]);
                    }
                    const std::int32_t at = *facts.StripOffset;
                    const std::uint64_t available = at < 0 ? 0 : block.Available(static_cast<std::uint64_t>(at));
                    if (width <= INT32_MAX && height <= INT32_MAX) {
                        if (rgb)
                            AddRgbThumb(kTiffPosition + at, available, static_cast<std::int32_t>(width),
                                        static_cast<std::int32_t>(height), "RGB");
                        else
                            AddYCbCrThumb(kTiffPosition + at, available, static_cast<std::int32_t>(width),
                                          static_cast<std::int32_t>(height), subsampling[0], subsampling[1], "YCrCb");
                    }
                }
            } else if ((*facts.Compression == 6 || *facts.Compression == 7) && facts.StripOffset && facts.StripSize) {
                // TIFF offsets are unsigned: the strip lies at or after the TIFF header.
                AddPostThumb(tiffFileOffset + static_cast<std::uint32_t>(*facts.StripOffset), *facts.StripSize);
            }
        }

        // The next IFD of the chain follows the last entry.
        const std::uint64_t nextField = chain.Ifd + 2 + 12 * std::uint64_t{chain.EntryCount};
        if (!block.HasBytes(nextField, 4)) {
            chains.pop_back();
            continue;
        }
        chain.Next = block.U32(nextField);
        chain.InIfd = false;
    }

    ScanForJpeg(AData);
}

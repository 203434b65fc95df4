// Previews in camera maker notes (the Exif MakerNote, tag 37500), recognised by the
// maker note's leading text. Some cameras store a preview's entropy-coded data without
// JPEG headers: it is checked behind a constant header. Olympus points to its preview by
// an offset from the maker note's first byte; it is read from the file after the parse.
#include "thumbs/exif.h"

#include <array>
#include <cctype>
#include <string_view>

namespace {

enum class MakerNoteLayout { EntryRelative, Bare, Olympus, IfdPointer, Samsung };

struct MakerNoteSignature {
    std::string_view Text;
    MakerNoteLayout Layout;
    std::string_view Suffix;
};

// Maker notes that are an IFD holding a preview's start and length, the preview lying
// after the main image. Where the IFD starts, where its byte order is marked (or the Exif
// segment's when it is not), what its offsets count from, and the tags.
enum class OffsetBase { TiffHeader, MakerNote };
struct IfdPointerLayout {
    std::uint64_t OrderAt;   // "II" or "MM" here, else the Exif segment's order
    std::uint64_t IfdAt;     // the IFD, from the maker note's first byte
    bool IfdAtFromHeader;    // the IFD's offset is the 32-bit number at OrderAt + 4, from OrderAt
    OffsetBase Base;
    std::uint64_t BaseAt;    // for OffsetBase::MakerNote: the base's distance from the maker note
    std::uint16_t SubIfdTag; // the tag of a sub-IFD (offset from the base) holding the two tags, or 0
    std::uint16_t StartTag, LengthTag;
};
constexpr std::array<IfdPointerLayout, 7> kIfdPointerLayouts = {{
    // Nikon type 3: "Nikon\0", 02 xx, 2 bytes, then a TIFF header of its own at 10 that the
    // offsets count from; the preview IFD (0x0011) holds PreviewImageStart and Length.
    {10, 0, true, OffsetBase::MakerNote, 10, 0x0011, 0x0201, 0x0202},
    // Pentax/Asahi: "AOC\0", the byte order, then the IFD; offsets from the TIFF header.
    {4, 6, false, OffsetBase::TiffHeader, 0, 0, 0x0004, 0x0003},
    // Pentax: "PENTAX \0", the byte order, then the IFD; offsets from the maker note.
    {8, 10, false, OffsetBase::MakerNote, 0, 0, 0x0004, 0x0003},
    // Minolta and Konica Minolta: a bare IFD (told by IFD0's Make); offsets from the TIFF header.
    {UINT64_MAX, 0, false, OffsetBase::TiffHeader, 0, 0, 0x0088, 0x0089},
    // Minolta's Olympus-like form: "MINOL\0" or "CAMER\0", 2 bytes, then the IFD; offsets from
    // the TIFF header.
    {UINT64_MAX, 8, false, OffsetBase::TiffHeader, 0, 0, 0x0088, 0x0089},
    // Casio type 2: "QVC\0" or "DCI\0", 2 bytes, then the IFD; offsets from the TIFF header.
    {UINT64_MAX, 6, false, OffsetBase::TiffHeader, 0, 0, 0x0004, 0x0003},
    // Sony: "SONY DSC ", "SONY CAM " or "SONY MOBILE" and zero bytes to 12, then the IFD;
    // offsets from the TIFF header.
    {UINT64_MAX, 12, false, OffsetBase::TiffHeader, 0, 0, 0x0201, 0x0202},
}};
constexpr int kNikonLayout = 0, kAocLayout = 1, kPentaxLayout = 2, kMinoltaLayout = 3, kMinoltaOlympusLayout = 4,
              kCasioLayout = 5, kSonyLayout = 6;

constexpr std::array<MakerNoteSignature, 6> kSignatures = {{
    {"KYOCERA            ", MakerNoteLayout::EntryRelative, "KYOCERA"},
    {"TOSHIBA            ", MakerNoteLayout::EntryRelative, "TOSHIBA"},
    {"KONICA             ", MakerNoteLayout::EntryRelative, "KONICA"},
    {"Rollei             ", MakerNoteLayout::EntryRelative, "Rollei"},
    {"BK", MakerNoteLayout::Bare, "BK"},
    {"OLYMPUS", MakerNoteLayout::Olympus, ""},
}};

constexpr bool IsText(std::uint8_t byte) { return byte >= 0x20 && byte < 0x80; }

// Olympus camera-settings sub-directory tags (PreviewImageValid, Start, Length).
constexpr std::uint16_t kOlympusCameraSettings = 0x2020;
constexpr std::uint16_t kPreviewValid = 0x0100;
constexpr std::uint16_t kPreviewStart = 0x0101;
constexpr std::uint16_t kPreviewLength = 0x0102;

}  // namespace

bool StartsWithNoCase(std::string_view AText, std::string_view APrefix) {
    if (AText.size() < APrefix.size()) return false;
    for (std::size_t i = 0; i < APrefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(AText[i])) != std::tolower(static_cast<unsigned char>(APrefix[i])))
            return false;
    return true;
}

void TkestJpegThumbExifHandler::ProbeMakerNote(std::int64_t AOffset, ByteView AData) {
    // The layouts told by a signature that the text table below cannot hold (binary bytes
    // after it), and those told by the camera's maker alone.
    if (AData.Matches(0, "Nikon\0\x02")) return IfdPreviewPointer(AOffset, AData, kNikonLayout);
    if (AData.Matches(0, "AOC\0")) return IfdPreviewPointer(AOffset, AData, kAocLayout);
    if (AData.Matches(0, "PENTAX \0")) return IfdPreviewPointer(AOffset, AData, kPentaxLayout);
    if (AData.Matches(0, "QVC\0") || AData.Matches(0, "DCI\0")) return IfdPreviewPointer(AOffset, AData, kCasioLayout);
    if (AData.Matches(0, "SONY DSC ") || AData.Matches(0, "SONY CAM ") || AData.Matches(0, "SONY MOBILE"))
        return IfdPreviewPointer(AOffset, AData, kSonyLayout);
    if (AData.Matches(0, "STMN") && AData.Size() >= 7 && std::isdigit(AData.U8(4)) && std::isdigit(AData.U8(5)) &&
        std::isdigit(AData.U8(6)))
        return SamsungPreviewPointer(AData);
    if (AData.Matches(0, "MINOL\0") || AData.Matches(0, "CAMER\0"))
        return IfdPreviewPointer(AOffset, AData, kMinoltaOlympusLayout);
    if (StartsWithNoCase(Make, "Minolta") || StartsWithNoCase(Make, "Konica Minolta"))
        return IfdPreviewPointer(AOffset, AData, kMinoltaLayout);

    const std::uint64_t head = std::min<std::uint64_t>(AData.Size(), 20);
    std::uint64_t cut = 0;
    while (cut < head && IsText(AData.U8(cut))) ++cut;
    if (cut == 0) return;
    const std::string_view text(reinterpret_cast<const char*>(AData.Data()), static_cast<std::size_t>(cut));
    for (const MakerNoteSignature& signature : kSignatures) {
        if (text != signature.Text) continue;
        switch (signature.Layout) {
            case MakerNoteLayout::EntryRelative: EntryRelativePreview(AData, signature.Suffix); break;
            case MakerNoteLayout::Bare: BarePreview(AData); break;
            case MakerNoteLayout::Olympus: OlympusPreview(AOffset, AData); break;
            default: break;
        }
        return;
    }
}

void TkestJpegThumbExifHandler::CheckRebuilt(const TkestHeaderTemplate& AHeader, ByteView APreview,
                                             std::int64_t AOffset, std::string_view ASuffix) {
    TMemoryStream stream;
    stream.Bytes().reserve(AHeader.size() + APreview.Size());
    stream.Bytes().assign(AHeader.begin(), AHeader.end());
    stream.Bytes().insert(stream.Bytes().end(), APreview.Span().begin(), APreview.Span().end());
    const TkestStreamCheck check = CheckStream(stream, poStopWhenComplete, 0);
    if (check.Percent > 0)
        ReportThumb(tkCompressed, AOffset, static_cast<std::int64_t>(APreview.Size()), check.Width, check.Height,
                    check.Percent, check.Corrupted, ASuffix);
}

// Entries of 12 bytes from offset 24, counted at 22, little-endian whatever the Exif
// segment's order. An entry of tag 1 and type UNDEFINED points, relative to its own first
// byte, to "BK" and the entropy-coded data of a 640 x 480 preview.
void TkestJpegThumbExifHandler::EntryRelativePreview(ByteView AData, std::string_view AVendor) {
    if (AData.Size() < 22 || !AData.HasBytes(22, 2)) return;
    const std::uint32_t count = AData.U16LE(22);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t entry = 24 + 12 * std::uint64_t{i};
        if (!AData.HasBytes(entry, 12)) return;
        const std::uint16_t tag = AData.U16LE(entry);
        const std::uint16_t type = AData.U16LE(entry + 2);
        const std::uint32_t size = AData.U32LE(entry + 4);
        if (tag != 1 || type != ttUndefined || size <= 2) continue;
        const std::uint64_t at = entry + AData.U32LE(entry + 8);
        if (!AData.Matches(at, "BK")) continue;
        const ByteView preview = AData.Sub(at + 2, size);
        if (preview.Empty()) continue;
        TkestHeaderTemplate header = MakerNoteTemplateA();
        SetTemplateSize(header, 480, 640);
        CheckRebuilt(header, preview, 0, AVendor);
    }
}

void TkestJpegThumbExifHandler::BarePreview(ByteView AData) {
    CheckRebuilt(MakerNoteTemplateB(), AData.Sub(2), 2, "BK");
}

// "OLYMPUS", a zero byte, a byte order mark at 8, the version 3 at 10, then an IFD whose
// offsets count from the maker note's first byte.
void TkestJpegThumbExifHandler::OlympusPreview(std::int64_t AOffset, ByteView AData) {
    if (AData.Size() < 14) return;
    TkestTiffBlock note{AData, false};
    if (AData.Matches(8, "MM"))
        note.BigEndian = true;
    else if (!AData.Matches(8, "II"))
        return;
    if (note.U16(10) != 3) return;
    const std::uint32_t count = note.U16(12);
    for (std::uint32_t i = 0; i < count; ++i) {
        TkestIfdEntry entry;
        if (!entry.Read(note, 14 + 12 * std::uint64_t{i})) return;
        std::int32_t directory = 0;
        if (entry.Tag != kOlympusCameraSettings || !entry.GetInteger(note.BigEndian, directory)) continue;
        const auto at = static_cast<std::uint32_t>(directory);
        if (!note.HasBytes(at, 2)) continue;
        const std::uint32_t subCount = note.U16(at);
        std::int32_t valid = 0, start = 0, length = 0;
        bool failed = false;
        for (std::uint32_t j = 0; j < subCount && !failed; ++j) {
            TkestIfdEntry sub;
            if (!sub.Read(note, at + 2 + 12 * std::uint64_t{j})) break;
            switch (sub.Tag) {
                case kPreviewValid: failed = !sub.GetInteger(note.BigEndian, valid); break;
                case kPreviewStart: failed = !sub.GetInteger(note.BigEndian, start); break;
                case kPreviewLength: failed = !sub.GetInteger(note.BigEndian, length); break;
                default: break;
            }
        }
        if (!failed && valid != 0 && start > 0 && length > 0) AddPostThumb(AOffset + start, length);
    }
}

void TkestJpegThumbExifHandler::PointedPreview(std::int64_t AAt, std::int64_t ALength) {
    if (AAt < 0 || ALength <= 0 || ALength > INT32_MAX) return;
    if (AAt >= TiffFileOffset && static_cast<std::uint64_t>(AAt - TiffFileOffset) < TiffSize) return;
    AddPostThumb(AAt, static_cast<std::int32_t>(ALength));
}

// An IFD of 12-byte entries (TIFF 6.0 section 2) whose start and length tags, directly or
// in a sub-IFD, give the preview's offset from the layout's base.
void TkestJpegThumbExifHandler::IfdPreviewPointer(std::int64_t AOffset, ByteView AData, int ALayout) {
    const IfdPointerLayout& layout = kIfdPointerLayouts[static_cast<std::size_t>(ALayout)];
    TkestTiffBlock note{AData, BigEndian};
    if (AData.Matches(layout.OrderAt, "MM"))
        note.BigEndian = true;
    else if (AData.Matches(layout.OrderAt, "II"))
        note.BigEndian = false;
    else if (layout.OrderAt != UINT64_MAX)
        return;
    std::uint64_t ifd = layout.IfdAt;
    if (layout.IfdAtFromHeader) {
        if (!note.HasBytes(layout.OrderAt + 4, 4)) return;
        ifd = layout.OrderAt + note.U32(layout.OrderAt + 4);
    }
    const std::int64_t base = layout.Base == OffsetBase::TiffHeader ? TiffFileOffset
                                                                     : AOffset + static_cast<std::int64_t>(layout.BaseAt);
    // The IFD at `at` of the maker note: the values of the layout's two tags, or of its
    // sub-IFD tag.
    std::int32_t start = 0, length = 0, sub = 0;
    auto read = [&](std::uint64_t at, bool ASubIfd) {
        if (!note.HasBytes(at, 2)) return;
        const std::uint32_t count = note.U16(at);
        for (std::uint32_t i = 0; i < count; ++i) {
            TkestIfdEntry entry;
            if (!entry.Read(note, at + 2 + 12 * std::uint64_t{i})) return;
            if (ASubIfd) {
                if (entry.Tag == layout.SubIfdTag) entry.GetInteger(note.BigEndian, sub);
            } else if (entry.Tag == layout.StartTag) {
                entry.GetInteger(note.BigEndian, start);
            } else if (entry.Tag == layout.LengthTag) {
                entry.GetInteger(note.BigEndian, length);
            }
        }
    };
    if (layout.SubIfdTag == 0) {
        read(ifd, false);
    } else {
        read(ifd, true);
        if (sub <= 0) return;
        read(layout.BaseAt + static_cast<std::uint32_t>(sub), false);
    }
    if (start > 0) PointedPreview(base + start, length);
}

// Samsung "STMN" and three digits: 32-bit numbers in the Exif segment's order, the third
// the preview's offset from the TIFF header, the fourth its length.
void TkestJpegThumbExifHandler::SamsungPreviewPointer(ByteView AData) {
    const TkestTiffBlock note{AData, BigEndian};
    if (!note.HasBytes(8, 8)) return;
    PointedPreview(TiffFileOffset + note.U32(8), note.U32(12));
}

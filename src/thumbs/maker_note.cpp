// Previews in camera maker notes (the Exif MakerNote, tag 37500), recognised by the
// maker note's leading text. Some cameras store a preview's entropy-coded data without
// JPEG headers: it is checked behind a constant header. Olympus points to its preview by
// an offset from the maker note's first byte; it is read from the file after the parse.
#include "thumbs/exif.h"

#include <array>
#include <string_view>

namespace {

enum class MakerNoteLayout { EntryRelative, Bare, Olympus };

struct MakerNoteSignature {
    std::string_view Text;
    MakerNoteLayout Layout;
    std::string_view Suffix;
};

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

void TkestJpegThumbExifHandler::ProbeMakerNote(std::int64_t AOffset, ByteView AData) {
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

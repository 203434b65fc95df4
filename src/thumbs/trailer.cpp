// Trailers after the end of the image that index images of their own, found from the end
// of the file: FotoStation's records, each closed by its tag, its length and a signature,
// and Samsung's tagged blocks, indexed by an "SEFH" directory closed by its length and
// "SEFT". Every length and offset is checked against the bytes between the main image's
// scan data and the end of the file; the images are checked like any preview read from
// the file.
#include "thumbs/png.h"
#include "thumbs/thumbs.h"

#include <algorithm>

namespace {

// FotoStation: [data][tag, 16-bit][record length, 32-bit, counting these 10 bytes][A1 B2 C3 D4],
// big-endian; tag 3 holds the thumbnail, tag 4 the preview, both JPEG streams.
constexpr std::uint64_t kFotoStationFooter = 10;
constexpr std::uint16_t kFotoStationThumbnail = 3;
constexpr std::uint16_t kFotoStationPreview = 4;

// Samsung: the directory "SEFH", a version, an entry count, then 12-byte entries (a 16-bit
// type at 2, at 4 the distance back from the directory to the block, at 8 the block's
// size), little-endian; each block starts with 4 bytes, a 32-bit name length and the name.
constexpr std::uint64_t kSamsungEntry = 12;
constexpr std::uint64_t kSamsungBlockHead = 8;

}  // namespace

std::vector<std::uint8_t> TkestJpegThumbs::ReadFile(TStream& AStream, std::uint64_t AOffset, std::uint64_t ACount) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(ACount));
    AStream.Seek(AOffset);
    std::size_t got = 0;
    while (got < bytes.size()) {
        const std::size_t n = AStream.Read(std::span<std::uint8_t>(bytes).subspan(got));
        if (n == 0) break;
        got += n;
    }
    bytes.resize(got);
    CheckWork += got;
    return bytes;
}

void TkestJpegThumbs::ProcessTrailers(TStream& AStream, std::uint64_t AImageEnd) {
    const std::uint64_t fileSize = AStream.Size();
    if (AImageEnd >= fileSize) return;
    CheckedBytes = std::max(CheckedBytes, fileSize);
    FotoStationTrailer(AStream, AImageEnd, fileSize);
    SamsungTrailer(AStream, AImageEnd, fileSize);
}

void TkestJpegThumbs::FotoStationTrailer(TStream& AStream, std::uint64_t AStart, std::uint64_t AEnd) {
    std::uint64_t end = AEnd;  // end of the record being read
    while (end - AStart >= kFotoStationFooter && MayCheck()) {
        const std::vector<std::uint8_t> footer = ReadFile(AStream, end - kFotoStationFooter, kFotoStationFooter);
        const ByteView f(footer);
        if (!f.Matches(6, "\xA1\xB2\xC3\xD4")) return;
        const std::uint16_t tag = f.U16BE(0);
        const std::uint64_t length = f.U32BE(2);
        if (length < kFotoStationFooter || length > end - AStart) return;
        const std::uint64_t start = end - length;
        if (tag == kFotoStationThumbnail || tag == kFotoStationPreview)
            TrailerImage(AStream, start, length - kFotoStationFooter, "FotoStation");
        end = start;
    }
}

void TkestJpegThumbs::SamsungTrailer(TStream& AStream, std::uint64_t AStart, std::uint64_t AEnd) {
    if (AEnd - AStart < 8) return;
    const std::vector<std::uint8_t> tail = ReadFile(AStream, AEnd - 8, 8);
    const ByteView t(tail);
    if (!t.Matches(4, "SEFT")) return;
    const std::uint64_t dirLength = t.U32LE(0);
    if (dirLength < 12 || dirLength > AEnd - 8 - AStart) return;
    const std::uint64_t dirPos = AEnd - 8 - dirLength;
    const std::vector<std::uint8_t> head = ReadFile(AStream, dirPos, 12);
    const ByteView h(head);
    if (!h.Matches(0, "SEFH")) return;
    const std::uint64_t count = h.U32LE(8);
    if (count > (dirLength - 12) / kSamsungEntry) return;
    const std::vector<std::uint8_t> entries = ReadFile(AStream, dirPos + 12, count * kSamsungEntry);
    const ByteView e(entries);
    for (std::uint64_t i = 0; i < count && MayCheck(); ++i) {
        const std::uint64_t at = i * kSamsungEntry;
        if (!e.HasBytes(at, kSamsungEntry)) return;
        const std::uint64_t back = e.U32LE(at + 4);
        const std::uint64_t size = e.U32LE(at + 8);
        if (back > dirPos - AStart || size > back || size < kSamsungBlockHead) continue;
        const std::uint64_t block = dirPos - back;
        const std::vector<std::uint8_t> blockHead = ReadFile(AStream, block, kSamsungBlockHead);
        const std::uint64_t nameLength = ByteView(blockHead).U32LE(4);
        if (blockHead.size() < kSamsungBlockHead || nameLength > size - kSamsungBlockHead) continue;
        const std::uint64_t data = block + kSamsungBlockHead + nameLength;
        TrailerImage(AStream, data, size - kSamsungBlockHead - nameLength, "Samsung");
    }
}

// A JPEG stream becomes a post thumb, checked with the others; a PNG stream is measured here.
void TkestJpegThumbs::TrailerImage(TStream& AStream, std::uint64_t AOffset, std::uint64_t ASize,
                                   std::string_view AName) {
    if (ASize < 8 || ASize > 0x7FFFFFFF) return;
    const std::vector<std::uint8_t> lead = ReadFile(AStream, AOffset, 8);
    const ByteView l(lead);
    if (l.Matches(0, "\xFF\xD8\xFF")) {
        AddPostThumb(static_cast<std::int64_t>(AOffset), static_cast<std::int32_t>(ASize), std::string(AName));
    } else if (IsPngSignature(l)) {
        const std::vector<std::uint8_t> png = ReadFile(AStream, AOffset, ASize);
        AddPngThumb(ByteView(png), static_cast<std::int64_t>(AOffset), std::string(AName) + ":PNG", true);
    }
}

void TkestJpegThumbs::AddPngThumb(ByteView AData, std::int64_t AOffset, std::string AName, bool AFromFile) {
    if (!MayCheck()) return;
    const TkestPngCheck check = CheckPng(AData);
    CheckWork += check.Work;
    if (!check.Valid) return;
    TkestJpegThumb& thumb = Thumbs.emplace_back();
    thumb.Kind = tkCompressed;
    thumb.Offset = AFromFile ? static_cast<std::int64_t>(static_cast<std::uint32_t>(AOffset)) : AOffset;
    thumb.Size = static_cast<std::int64_t>(check.Size);
    thumb.Width = check.Width;
    thumb.Height = check.Height;
    thumb.Percent = check.Percent;
    thumb.Corrupted = check.Corrupted;
    thumb.FromFile = AFromFile;
    thumb.Name = std::move(AName);
}

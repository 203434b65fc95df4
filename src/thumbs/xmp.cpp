// Images in XMP (ISO 16684-1), Base64-coded (RFC 4648 section 4) as property values: the
// depth map and the original image of portrait-mode phone files (GDepth:Data, GImage:Data)
// and the images of xmp:Thumbnails (xmpGImg:image). The packets come from APP1 segments:
// the main packet, and extended XMP (XMP Specification Part 3, section 1.1.3.1) whose
// chunks carry the GUID the main packet names, the full length and their offset in it.
#include "thumbs/png.h"
#include "thumbs/thumbs.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr std::uint8_t kApp1 = 0xE1;
constexpr char kMainXmp[] = "http://ns.adobe.com/xap/1.0/";            // and a zero byte
constexpr char kExtendedXmp[] = "http://ns.adobe.com/xmp/extension/";  // and a zero byte
constexpr std::uint64_t kGuidLength = 32;  // upper-case hexadecimal MD5 digest
constexpr std::uint64_t kExtendedHead = sizeof kExtendedXmp + kGuidLength + 8;

constexpr std::array<std::string_view, 3> kImageProperties = {"GDepth:Data", "GImage:Data", "xmpGImg:image"};

std::string_view AsText(ByteView AData) {
    return {reinterpret_cast<const char*>(AData.Data()), AData.Size()};
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int Base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// The bytes of the Base64 text that starts AText, up to the first character that is
// neither a digit, white space nor a character reference (writers break lines as "&#xA;"),
// or up to padding. One pass, each character looked at once.
std::vector<std::uint8_t> DecodeBase64(std::string_view AText) {
    std::vector<std::uint8_t> out;
    std::uint32_t bits = 0;
    int held = 0;
    for (std::size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        if (IsSpace(c)) continue;
        if (c == '&' && i + 1 < AText.size() && AText[i + 1] == '#') {
            // A reference is short ("&#xA;", "&#13;"): looked for within 8 characters.
            const std::size_t end = AText.substr(i, 9).find(';');
            if (end == std::string_view::npos) break;
            i += end;
            continue;
        }
        const int digit = Base64Digit(c);
        if (digit < 0) break;
        bits = (bits << 6) | static_cast<std::uint32_t>(digit);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> held));
        }
    }
    return out;
}

// The value of the property at AAt (where its name starts) of APacket: an attribute
// Name="..." (or '...'), or an element <Name>...</Name>; empty for anything else, such as
// a closing tag or a longer name.
std::string_view PropertyValue(std::string_view APacket, std::size_t AAt, std::string_view AName) {
    const std::size_t after = AAt + AName.size();
    if (AAt == 0 || after >= APacket.size()) return {};
    const char before = APacket[AAt - 1];
    if (before == '<' && APacket[after] == '>') return APacket.substr(after + 1);
    if (!IsSpace(before)) return {};
    std::size_t at = after;
    while (at < APacket.size() && IsSpace(APacket[at])) ++at;
    if (at >= APacket.size() || APacket[at] != '=') return {};
    ++at;
    while (at < APacket.size() && IsSpace(APacket[at])) ++at;
    if (at >= APacket.size() || (APacket[at] != '"' && APacket[at] != '\'')) return {};
    return APacket.substr(at + 1);
}

}  // namespace

void TkestJpegThumbs::NoteXmp(std::uint8_t AMarker, ByteView AData) {
    if (AMarker != kApp1) return;
    if (AData.Matches(0, kMainXmp) && AData.U8(sizeof kMainXmp - 1) == 0) {
        const ByteView packet = AData.Sub(sizeof kMainXmp);
        XmpMain.insert(XmpMain.end(), packet.Span().begin(), packet.Span().end());
        XmpMain.push_back(0);  // packets apart
    } else if (AData.Matches(0, kExtendedXmp) && AData.U8(sizeof kExtendedXmp - 1) == 0 &&
               AData.HasBytes(0, kExtendedHead)) {
        const ByteView data = AData.Sub(kExtendedHead);
        XmpChunks.push_back({std::string(AsText(AData.Sub(sizeof kExtendedXmp, kGuidLength))),
                             AData.U32BE(sizeof kExtendedXmp + kGuidLength),
                             AData.U32BE(sizeof kExtendedXmp + kGuidLength + 4),
                             std::vector<std::uint8_t>(data.Span().begin(), data.Span().end())});
    }
}

// The extended packet the main packet names by its GUID (xmpNote:HasExtendedXMP): its
// chunks put at their offsets, within the declared full length and within the bytes the
// chunks hold, so that a declared length reaching past them allocates nothing more.
std::vector<std::uint8_t> TkestJpegThumbs::ExtendedXmp() const {
    const std::string_view main = AsText(ByteView(XmpMain));
    constexpr std::string_view kNote = "xmpNote:HasExtendedXMP";
    std::string_view guid;
    for (std::size_t at = main.find(kNote); at != std::string_view::npos && guid.empty();
         at = main.find(kNote, at + 1)) {
        const std::string_view value = PropertyValue(main, at, kNote);
        if (value.size() > kGuidLength) guid = value.substr(0, kGuidLength);
    }
    std::vector<std::uint8_t> out;
    if (guid.empty()) return out;
    std::uint64_t total = 0, held = 0, reach = 0;
    for (const XmpChunk& chunk : XmpChunks) {
        if (chunk.Guid != guid) continue;
        if (total == 0) total = chunk.Total;
        held += chunk.Data.size();
        reach = std::max(reach, std::uint64_t{chunk.Offset} + chunk.Data.size());
    }
    out.resize(static_cast<std::size_t>(std::min({total, held, reach})));
    for (const XmpChunk& chunk : XmpChunks) {
        if (chunk.Guid != guid || chunk.Total != total || chunk.Offset >= out.size()) continue;
        const std::size_t count = std::min<std::size_t>(chunk.Data.size(), out.size() - chunk.Offset);
        std::copy_n(chunk.Data.begin(), count, out.begin() + static_cast<std::ptrdiff_t>(chunk.Offset));
    }
    return out;
}

void TkestJpegThumbs::ProcessXmp() {
    if (XmpMain.empty()) return;
    const std::vector<std::uint8_t> extended = ExtendedXmp();
    for (const ByteView packet : {ByteView(XmpMain), ByteView(extended)}) {
        const std::string_view text = AsText(packet);
        for (const std::string_view name : kImageProperties) {
            for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
                const std::string_view value = PropertyValue(text, at, name);
                if (value.empty()) continue;
                const std::vector<std::uint8_t> image = DecodeBase64(value);
                CheckWork += image.size();
                const ByteView bytes(image);
                if (bytes.Matches(0, "\xFF\xD8\xFF"))
                    AddXmpJpeg(bytes);
                else if (IsPngSignature(bytes))
                    AddPngThumb(bytes, 0, "XMP:PNG", false);
            }
        }
    }
}

// As a preview in a segment is checked: in place, up to the scan that completes a
// sequential image.
void TkestJpegThumbs::AddXmpJpeg(ByteView AImage) {
    if (!MayCheck()) return;
    TTempMemoryStream& stream = SharedStream();
    stream.SetPointer(AImage.Span());
    const TkestStreamCheck check = CheckJpegStream(SharedParser(), stream, poStopWhenComplete, 0);
    stream.SetPointer({});
    CountCheck(SharedParser());
    if (check.Percent <= 0) return;
    TkestJpegThumb& thumb = Thumbs.emplace_back();
    thumb.Kind = tkCompressed;
    thumb.Size = static_cast<std::int64_t>(check.Consumed);
    thumb.Width = check.Width;
    thumb.Height = check.Height;
    thumb.Percent = check.Percent;
    thumb.Corrupted = check.Corrupted;
    thumb.Name = "XMP";
}

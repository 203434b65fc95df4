#include "jpeg/catalogue.h"

#include "jpeg/bytes.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::uint8_t kCom = 0xFE;
constexpr std::uint8_t kApp2 = 0xE2;
constexpr std::size_t kMaxNameLength = 40;
constexpr std::size_t kIccHeader = 14;  // "ICC_PROFILE", 0x00, sequence number, chunk count

struct AppName {
    std::uint8_t marker;
    std::string_view prefix;
    std::string_view display;  // empty: the prefix is shown
};

// Known APP identifiers, tried in this order.
constexpr AppName kAppNames[] = {
    {0xE0, "JFIF", ""},
    {0xE0, "JFXX", ""},
    {0xE1, "Exif", "EXIF"},
    {0xE1, "FLIR", ""},
    {0xE1, "http://ns.adobe.com/xap/1.0/", "XAP"},        // XMP packet (XMP Specification Part 3)
    {0xE1, "http://ns.adobe.com/xmp/extension/", "XMP"},  // extended XMP
    {0xE1, "QVCI", ""},
    {0xE2, "BGTH", ""},
    {0xE2, "FPXR", "FPXR2"},
    {0xE2, "ICC_PROFILE", "ICC"},
    {0xE2, "MPF", ""},
    {0xE2, "QVGA", ""},
    {0xE2, "XMTH", ""},
    {0xE3, "Meta", ""},
    {0xE3, "META", ""},
    {0xE4, "FPXR", "FPXR4"},
    {0xE4, "H3X0", ""},
    {0xE4, "HPDS", ""},
    {0xE4, "HPSC", ""},
    {0xE4, "PDBigTN", ""},
    {0xE4, "Qualcomm Camera Debug", "Qualcomm"},
    {0xE5, "Qualcomm Camera Debug", "Qualcomm"},
    {0xE6, "Qualcomm Camera Debug", "Qualcomm"},
    {0xE4, "SCALADO", ""},
    {0xE4, "QTI Debug Metadata", "QTIData"},
    {0xE5, "KPRO1", ""},
    {0xE5, "MEDIABIN_DIDB", ""},
    {0xE5, "Samsung", ""},
    {0xE6, "TDHD", ""},
    {0xE7, "PENTAX", ""},
    {0xEA, "AROT", ""},
    {0xEA, "Nikon Image Info", "NikonInfo"},
    {0xEB, "HDR_RI", "HDR"},
    {0xEC, "Ducky", ""},
    {0xED, "Photoshop 3.0", "PS"},
    {0xEE, "Adobe", ""},
    {0xEF, "TEXT", ""},
};

// The leading printable run (0x20-0x7F) of the payload, at most 40 bytes, cut down to the
// first known prefix it begins with.
std::string SegmentName(std::span<const std::uint8_t> AData) {
    std::string name;
    for (std::uint8_t c : AData.first(std::min(AData.size(), kMaxNameLength))) {
        if (c < 0x20 || c > 0x7F) break;
        name.push_back(static_cast<char>(c));
    }
    if (name.empty()) return name;
    for (const AppName& row : kAppNames)
        if (std::string_view(name).starts_with(row.prefix)) {
            name.resize(row.prefix.size());
            break;
        }
    return name;
}

}  // namespace

void TkestJpeg::DoAppSegment(std::uint8_t AMarker, std::uint16_t ALength, std::span<const std::uint8_t> AData) {
    AddIccChunk(AMarker, ALength, AData);
    AddToCatalogue(AMarker, AData);
}

void TkestJpeg::AddToCatalogue(std::uint8_t AMarker, std::span<const std::uint8_t> AData) {
    const std::string name = AMarker == kCom ? std::string() : SegmentName(AData);
    if (!Segments.empty() && Segments.back().Marker == AMarker && Segments.back().Name == name) {
        ++Segments.back().Count;
        return;
    }
    Segments.push_back({AMarker, name, 1});
}

// ICC.1 B.4: a profile too large for one segment is split over APP2 segments, each with the
// 12-byte identifier, its sequence number (from 1) and the number of chunks.
void TkestJpeg::AddIccChunk(std::uint8_t AMarker, std::uint16_t ALength, std::span<const std::uint8_t> AData) {
    const ByteView p(AData);
    if (IccBroken || AMarker != kApp2 || p.Size() < kIccHeader || !p.Matches(0, "ICC_PROFILE\0")) return;
    if (p.Size() < ALength) {
        IccBroken = true;  // cut short by the end of the data
        return;
    }
    const std::uint8_t sequence = p.U8(12);
    const std::uint8_t count = p.U8(13);
    if (sequence > count || count == 0 || sequence == 0) {
        IccBroken = true;
        return;
    }
    if (IccSegments.empty()) IccSegments.resize(count);
    if (IccSegments.size() != count) {
        IccBroken = true;
        return;
    }
    TkestIccSegments& chunk = IccSegments[sequence - 1u];
    if (chunk.Stored) {
        IccBroken = true;  // a repeated chunk
        return;
    }
    const ByteView body = p.Sub(kIccHeader);
    chunk.Data.assign(body.Span().begin(), body.Span().end());
    chunk.Stored = true;
}

std::unique_ptr<TMemoryStream> TkestJpeg::IccStream() const {
    if (IccBroken || IccSegments.empty()) return nullptr;
    std::size_t total = 0;
    for (const TkestIccSegments& chunk : IccSegments) {
        if (!chunk.Stored) return nullptr;
        total += chunk.Data.size();
    }
    std::vector<std::uint8_t> profile;
    profile.reserve(total);
    for (const TkestIccSegments& chunk : IccSegments) profile.insert(profile.end(), chunk.Data.begin(), chunk.Data.end());
    return std::make_unique<TMemoryStream>(std::move(profile));
}

std::string TkestJpeg::SegmentsText() const {
    std::string text;
    for (const TkestJpegSegmentInfo& entry : Segments) {
        if (!text.empty()) text += ", ";
        if (entry.Marker == kCom) {
            text += "COM";
        } else {
            const std::string number = std::to_string(entry.Marker - 0xE0);
            const AppName* known = nullptr;
            for (const AppName& row : kAppNames)
                if (row.marker == entry.Marker && row.prefix == entry.Name) known = &row;
            if (known)
                text += known->display.empty() ? entry.Name : std::string(known->display);
            else if (entry.Name.empty())
                text += "APP" + number;
            else
                text += entry.Name + " [APP" + number + "]";
        }
        if (entry.Count > 1) text += " (" + std::to_string(entry.Count) + ")";
    }
    return text;
}

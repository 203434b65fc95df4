// Vendor previews that lie whole in one APP segment: a JPEG stream after a signature
// (PDBigTN, QVGA, BGTH), or bare entropy-coded data without JPEG headers (the generic APP4
// and APP5 forms), checked behind a constant header. Every segment taken is also scanned
// for further JPEG streams.
#pragma once

#include "thumbs/thumbs.h"
#include "thumbs/vendor_common.h"

#include <string_view>

// The form of a preview rebuilt from bare entropy-coded data behind a header template
// (TkestJpegThumb::Kind).
inline constexpr std::uint8_t tkRebuilt = 3;

// A JPEG stream after a signature at the start of the payload.
struct TkestSignedStreamLayout {
    std::uint8_t Marker;
    std::string_view Text;        // the signature, zero byte included
    std::uint64_t StreamStart;    // where FF D8 FF stands
    std::uint64_t Minimum;        // the payload length that must be exceeded
    bool OnDeclaredLength;        // Minimum applies to the declared length, not to the bytes present
};

template <const TkestSignedStreamLayout& Layout>
class TkestJpegThumbSignedStreamHandler : public TkestJpegThumbHandler {
public:
    using TkestJpegThumbHandler::TkestJpegThumbHandler;
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) {
        const std::uint64_t length = Layout.OnDeclaredLength ? ALength : AData.Size();
        return AMarker == Layout.Marker && length > Layout.Minimum && MatchesText(AData, 0, Layout.Text) &&
               AData.Matches(Layout.StreamStart, "\xFF\xD8\xFF");
    }
    void ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) override {
        AddJpegThumb(AData.Sub(Layout.StreamStart), static_cast<std::int64_t>(Layout.StreamStart), 0, "");
        ScanForJpeg(AData);
    }
};

inline constexpr TkestSignedStreamLayout kPDBigTNLayout = {0xE4, std::string_view("PDBigTN\0", 8), 18, 22, true};
inline constexpr TkestSignedStreamLayout kQVGALayout = {0xE2, std::string_view("QVGA\0", 5), 5, 9, false};
inline constexpr TkestSignedStreamLayout kBGTHLayout = {0xE2, std::string_view("BGTH", 4), 4, 8, false};

class TkestJpegThumbPDBigTNHandler final : public TkestJpegThumbSignedStreamHandler<kPDBigTNLayout> {
public:
    using TkestJpegThumbSignedStreamHandler::TkestJpegThumbSignedStreamHandler;
    static constexpr const char* ClassName = "TkestJpegThumbPDBigTNHandler";
    std::string GetName() const override { return "PDBigTN"; }
};

class TkestJpegThumbQVGAHandler final : public TkestJpegThumbSignedStreamHandler<kQVGALayout> {
public:
    using TkestJpegThumbSignedStreamHandler::TkestJpegThumbSignedStreamHandler;
    static constexpr const char* ClassName = "TkestJpegThumbQVGAHandler";
    std::string GetName() const override { return "QVGA"; }
};

class TkestJpegThumbBGTHHandler final : public TkestJpegThumbSignedStreamHandler<kBGTHLayout> {
public:
    using TkestJpegThumbSignedStreamHandler::TkestJpegThumbSignedStreamHandler;
    static constexpr const char* ClassName = "TkestJpegThumbBGTHHandler";
    std::string GetName() const override { return "BGTH"; }
};

// APP4 segments that no other class claims: bare entropy-coded data of a preview whose size
// is not stored, with its two quantization tables in front (bytes 0-127, then 00 01 or
// 00 00, data from 130) or without (data from 11).
class TkestJpegThumbAPP4Handler final : public TkestJpegThumbHandler {
public:
    using TkestJpegThumbHandler::TkestJpegThumbHandler;
    static constexpr const char* ClassName = "TkestJpegThumbAPP4Handler";
    static constexpr bool IsSigned() { return false; }  // taken by any bytes that are not all zero
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "APP4"; }
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
};

// APP5 segments with two quantization tables (bytes 0-127), 00 00 00 01, the preview's width
// and height (16-bit each) and its entropy-coded data from 136.
class TkestJpegThumbAPP5Handler final : public TkestJpegThumbHandler {
public:
    using TkestJpegThumbHandler::TkestJpegThumbHandler;
    static constexpr const char* ClassName = "TkestJpegThumbAPP5Handler";
    static constexpr bool IsSigned() { return false; }  // taken by a layout
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "APP5"; }
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
};

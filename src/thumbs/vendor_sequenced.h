// Vendor previews split over APP segments that each carry a small header: the preview's
// size, the number of segments, a sequence number or an identifier. A segment continues a
// run only when its header agrees with what the first one announced. The HP family and PRV
// store raw pixels, measured by the bytes collected; Samsung and XMTH store a JPEG stream.
#pragma once

#include "thumbs/thumbs.h"
#include "thumbs/vendor_common.h"

#include <array>
#include <vector>

// The form of a JPEG stream collected without its SOI marker (TkestJpegThumb::Kind).
inline constexpr std::uint8_t tkWithoutSoi = 1;

// Common base of the HP family: raw YCbCr pixels at 2 bytes a pixel, PreviewWidth x
// PreviewHeight of them. Not registered.
class TkestJpegThumbBaseHPHandler : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    void Finish() override;

    std::uint32_t PreviewWidth = 0;
    std::uint32_t PreviewHeight = 0;
    std::uint32_t SegmentCount = 0;  // as announced by the first segment; 0 until it is taken
    std::uint32_t NextSegment = 0;   // sequence number the next segment must carry
};

// The numbered HP headers: a signature, the width at 8 and height at 12, the sequence
// number (from 1) at 20 and the segment count at 24 (big-endian 32-bit), pixel data from
// DataStart.
struct TkestHPLayout {
    std::string_view Text;     // signature at 0
    bool VersionOne;           // the 32-bit value at 4 must be 1
    std::uint64_t DataStart;   // 28, 32 or 36; also the header bytes a segment must hold
};

template <const TkestHPLayout& Layout>
class TkestJpegThumbNumberedHPHandler : public TkestJpegThumbBaseHPHandler {
public:
    using TkestJpegThumbBaseHPHandler::TkestJpegThumbBaseHPHandler;
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
        return HasHeader(AMarker, AData) && AData.U32BE(8) > 0 && AData.U32BE(12) > 0 && AData.U32BE(20) == 1 &&
               AData.U32BE(24) > 0;
    }
    bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t) override {
        const std::uint32_t sequence = AData.U32BE(20);
        return HasHeader(AMarker, AData) && AData.U32BE(8) == PreviewWidth && AData.U32BE(12) == PreviewHeight &&
               sequence == NextSegment && AData.U32BE(24) == SegmentCount && sequence <= SegmentCount;
    }
    void ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) override {
        if (SegmentCount == 0) {
            PreviewWidth = AData.U32BE(8);
            PreviewHeight = AData.U32BE(12);
            SegmentCount = AData.U32BE(24);
            NextSegment = 1;
        }
        AppendPayloadFrom(Owner, Layout.DataStart, AData);
        ++NextSegment;
    }

private:
    static bool HasHeader(std::uint8_t AMarker, ByteView AData) {
        return AMarker == 0xE4 && AData.Size() >= Layout.DataStart && MatchesText(AData, 0, Layout.Text) &&
               (!Layout.VersionOne || AData.U32BE(4) == 1);
    }
};

inline constexpr TkestHPLayout kH3X0Layout = {"H3X0", false, 28};
inline constexpr TkestHPLayout kHPSC1Layout = {"HPSC", true, 32};
inline constexpr TkestHPLayout kHPSC2Layout = {"HPSC", false, 36};

class TkestJpegThumbH3X0Handler final : public TkestJpegThumbNumberedHPHandler<kH3X0Layout> {
public:
    using TkestJpegThumbNumberedHPHandler::TkestJpegThumbNumberedHPHandler;
    static constexpr const char* ClassName = "TkestJpegThumbH3X0Handler";
    std::string GetName() const override { return "H3X0"; }
};

class TkestJpegThumbHPSCHandler1 final : public TkestJpegThumbNumberedHPHandler<kHPSC1Layout> {
public:
    using TkestJpegThumbNumberedHPHandler::TkestJpegThumbNumberedHPHandler;
    static constexpr const char* ClassName = "TkestJpegThumbHPSCHandler1";
    std::string GetName() const override { return "HPSCv1"; }
};

class TkestJpegThumbHPSCHandler2 final : public TkestJpegThumbNumberedHPHandler<kHPSC2Layout> {
public:
    using TkestJpegThumbNumberedHPHandler::TkestJpegThumbNumberedHPHandler;
    static constexpr const char* ClassName = "TkestJpegThumbHPSCHandler2";
    std::string GetName() const override { return "HPSCv2"; }
};

// "SCRNAIL" and a zero byte, pixel data from 8; the APP4 segments that follow hold more
// pixel data, up to one that a signed format claims. The screen nail is always 320 x 240.
class TkestJpegThumbSCRNAILHandler final : public TkestJpegThumbBaseHPHandler {
public:
    using TkestJpegThumbBaseHPHandler::TkestJpegThumbBaseHPHandler;
    static constexpr const char* ClassName = "TkestJpegThumbSCRNAILHandler";
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "SCRNAIL"; }
    bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
};

// APP10 "prv0" (segment count, width, height, then 8-byte tail blocks, one for each further
// segment) and "prv1", "prv2", ...: raw 8-8-8 RGB pixels, each segment's followed by the
// tail block of its number.
class TkestJpegThumbPrvHandler final : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "TkestJpegThumbPrvHandler";
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "PRV"; }
    bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void Finish() override;

    std::int32_t SegmentCount = 0;
    std::int32_t SegmentsTaken = 0;
    std::int32_t PreviewWidth = 0;
    std::int32_t PreviewHeight = 0;
    std::vector<std::array<std::uint8_t, 8>> TailBytes;  // SegmentCount - 1 blocks from the first segment

private:
    std::uint64_t FirstPayload = 0;  // file offset of the first segment's payload
};

// APP5 "Samsung" and a zero byte, an identifier (16-bit little-endian) at 12 and a sequence
// number from 1 at 14: a JPEG stream without SOI, from 18 in the first segment and from 16
// in the others.
class TkestJpegThumbSamsungHandler final : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "TkestJpegThumbSamsungHandler";
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "Samsung"; }
    bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void Finish() override;

    std::int32_t SequenceId = 0;
    std::int32_t NextSegment = 0;  // 0 before the first segment
};

// APP2 "XMTH": in the first segment a non-zero 32-bit value at 4 and the segment count at
// 8, a JPEG stream from 9; in the others more of it from 4.
class TkestJpegThumbXMTHHandler final : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "TkestJpegThumbXMTHHandler";
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "XMTH"; }
    bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void Finish() override;

    std::int32_t SegmentCount = 0;
    std::int32_t SegmentsTaken = 0;
};

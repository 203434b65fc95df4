// TkestJpeg: the parser that catalogues the APP and COM segments it meets, in stream order
// with repeats of one kind merged, and gathers the chunks of an ICC profile carried in APP2
// "ICC_PROFILE" segments (ICC.1 Annex B.4) so that the profile can be read as one stream.
#pragma once

#include "jpeg/parser.h"
#include "platform/stream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TkestJpegSegmentInfo {
    std::uint8_t Marker = 0;  // the APPn or COM code
    std::string Name;         // the segment's identifier, cut to a known prefix
    std::int32_t Count = 0;   // consecutive segments merged into this entry
};

// One announced ICC chunk.
struct TkestIccSegments {
    std::vector<std::uint8_t> Data;  // the chunk's bytes after the 14-byte chunk header
    bool Stored = false;             // the chunk arrived (an empty chunk is still a chunk)
};

class TkestJpeg : public TkestBaseJpegParser {
public:
    explicit TkestJpeg(std::uint32_t ABufferSize, bool AHasGroupHandler = false)
        : TkestBaseJpegParser(ABufferSize, AHasGroupHandler) {}

    // The catalogue as text, e.g. "JFIF, EXIF, FPXR2 (2), APP3, COM".
    std::string SegmentsText() const;
    // The reassembled embedded profile, positioned at 0; nullptr when there is none or its
    // chunks are inconsistent.
    std::unique_ptr<TMemoryStream> IccStream() const;

    std::int32_t SegmentCount() const { return static_cast<std::int32_t>(Segments.size()); }

    // Neither is cleared by Reset: each TkestJpeg is parsed once.
    std::vector<TkestJpegSegmentInfo> Segments;
    std::vector<TkestIccSegments> IccSegments;  // indexed by sequence number - 1
    bool IccBroken = false;                     // final once set

protected:
    void DoAppSegment(std::uint8_t AMarker, std::uint16_t ALength, std::span<const std::uint8_t> AData) override;

private:
    void AddIccChunk(std::uint8_t AMarker, std::uint16_t ALength, std::span<const std::uint8_t> AData);
    void AddToCatalogue(std::uint8_t AMarker, std::span<const std::uint8_t> AData);
};

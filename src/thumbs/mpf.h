// The Multi-Picture Format APP2 segment (CIPA DC-007): its MP Index IFD lists the images
// stored in the file after the first; the images that depend on the first one (large
// previews) are read from the file after the parse.
#pragma once

#include "thumbs/thumbs.h"

class TkestJpegThumbMPFHandler final : public TkestJpegThumbHandler {
public:
    using TkestJpegThumbHandler::TkestJpegThumbHandler;
    static constexpr const char* ClassName = "TkestJpegThumbMPFHandler";
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "MPF"; }
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
};

// One MP entry (CIPA DC-007 5.2.3.3.1), 16 bytes in the MP header's byte order.
struct TkestMPEntry {
    std::uint32_t Attributes = 0;  // bit 31: the image has dependent images
    std::uint32_t Size = 0;
    std::uint32_t Offset = 0;      // from the MP header; 0 for the first image
    std::uint16_t Dependent1 = 0;  // entry number (from 1) of a dependent image, 0 for none
    std::uint16_t Dependent2 = 0;
};

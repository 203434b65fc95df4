// The previews of an Exif APP1 segment (Exif 2.3 section 4.5): the JPEG thumbnail of any
// IFD of the chain, an uncompressed RGB or YCbCr thumbnail, a JPEG-compressed strip that
// is read from the file later, and the previews some cameras keep in their maker notes.
#pragma once

#include "thumbs/header_template.h"
#include "thumbs/thumbs.h"
#include "thumbs/tiff.h"

class TkestJpegThumbExifHandler final : public TkestJpegThumbHandler {
public:
    using TkestJpegThumbHandler::TkestJpegThumbHandler;
    static constexpr const char* ClassName = "TkestJpegThumbExifHandler";
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "EXIF"; }
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;

    // A maker note (AOffset its absolute file offset, AData its bytes present): the previews
    // of the layouts it is recognised as by its leading text.
    void ProbeMakerNote(std::int64_t AOffset, ByteView AData);

private:
    // The segment being read: the TIFF header's file offset and the block's size, its byte
    // order, and the camera maker IFD0 names (tag 271).
    std::int64_t TiffFileOffset = 0;
    std::uint64_t TiffSize = 0;
    bool BigEndian = false;
    std::string Make;

    // The maker-note layouts (AData the maker note's bytes present).
    void IfdPreviewPointer(std::int64_t AOffset, ByteView AData, int ALayout);
    void SamsungPreviewPointer(ByteView AData);
    // A preview at file offset AAt of ALength bytes that a maker note points to: a post
    // thumb when it lies outside this segment, whose own scan answers for what lies inside.
    void PointedPreview(std::int64_t AAt, std::int64_t ALength);
    void EntryRelativePreview(ByteView AData, std::string_view AVendor);
    void BarePreview(ByteView AData);
    void OlympusPreview(std::int64_t AOffset, ByteView AData);
    void CheckRebuilt(const TkestHeaderTemplate& AHeader, ByteView APreview, std::int64_t AOffset,
                      std::string_view ASuffix);
};

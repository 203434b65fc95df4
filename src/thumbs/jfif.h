// The thumbnails of the APP0 segments of the JPEG File Interchange Format (JFIF 1.02):
// the RGB thumbnail of a JFIF segment and the JPEG, palette or RGB thumbnail of a JFIF
// extension (JFXX) segment.
#pragma once

#include "thumbs/thumbs.h"

class TkestJpegThumbJFIFHandler final : public TkestJpegThumbHandler {
public:
    using TkestJpegThumbHandler::TkestJpegThumbHandler;
    static constexpr const char* ClassName = "TkestJpegThumbJFIFHandler";
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "JFIF"; }
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
};

class TkestJpegThumbJFXXHandler final : public TkestJpegThumbHandler {
public:
    using TkestJpegThumbHandler::TkestJpegThumbHandler;
    static constexpr const char* ClassName = "TkestJpegThumbJFXXHandler";
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "JFXX"; }
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
};

// The parser of the header pass: a TkestJpeg that hands every run of APP/COM segments of
// the main image to a preview collection, made when the first run arrives.
#pragma once

#include "jpeg/catalogue.h"
#include "thumbs/thumbs.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

class TkestJpegWithThumbs final : public TkestJpeg {
public:
    explicit TkestJpegWithThumbs(std::uint32_t ABufferSize) : TkestJpeg(ABufferSize, true) {}

    std::unique_ptr<TkestJpegThumbs> ThumbCollection;  // none until the first run

protected:
    void DoAppGroup(std::uint64_t AOffset, std::span<const std::uint8_t> AData) override {
        if (!ThumbCollection) ThumbCollection = std::make_unique<TkestJpegThumbs>();
        ThumbCollection->ProcessSegments(AOffset, AData);
    }
};

// The "Thumbnails" text of a sorted collection: "UNK*:C:160x120 , EXIF:160x120 (Corrupted 37%)".
std::string ThumbnailsText(const TkestJpegThumbs& AThumbs);

// Helpers shared by the preview tests: runs of APP segments, images carrying them, and a
// short description of what a collection found.
#pragma once

#include "support/jpeg_builder.h"
#include "thumbs/thumbs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using Segments = std::vector<std::pair<std::uint8_t, Bytes>>;  // marker, payload

// The segments as the parser hands a run over: 0xFF, marker, length field, payload.
inline Bytes AppRun(const Segments& segments) {
    jpeg_fixture::JpegBuilder b;
    for (const auto& [marker, payload] : segments) b.Segment(marker, payload);
    return b.Data();
}

// File offset of the run in the images below: right after SOI.
inline constexpr std::uint64_t kRunOffset = 2;

inline std::unique_ptr<TkestJpegThumbs> Collect(const Segments& segments) {
    auto thumbs = std::make_unique<TkestJpegThumbs>();
    const Bytes run = AppRun(segments);
    thumbs->ProcessSegments(kRunOffset, run);
    return thumbs;
}

// SOI, the APP segments, then a 64 x 48 baseline image without JFIF segment, and `tail`
// after its EOI.
inline Bytes ImageWith(const Segments& segments, const Bytes& tail = {}) {
    jpeg_fixture::JpegBuilder b;
    b.Soi();
    for (const auto& [marker, payload] : segments) b.Segment(marker, payload);
    b.DqtAnnexK(75).DhtAnnexK();
    b.Sof(0xC0, 64, 48, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}).Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}});
    b.SequentialScanData().Eoi().Raw(tail);
    return b.Data();
}

// "Name WxH percent" for each record, in order, with "corrupt" when marked so.
inline std::vector<std::string> Found(const TkestJpegThumbs& thumbs) {
    std::vector<std::string> out;
    for (const TkestJpegThumb& t : thumbs.Thumbs)
        out.push_back(t.Name + " " + std::to_string(t.Width) + "x" + std::to_string(t.Height) + " " +
                      std::to_string(t.Percent) + (t.Corrupted ? " corrupt" : ""));
    return out;
}

using Names = std::vector<std::string>;

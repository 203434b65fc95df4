// The plugin's concrete root: recognises ICC profiles and JPEG files, analyses them into a
// TkestInfo, and offers the field table.
#pragma once

#include "analysis/info.h"
#include "frame/root.h"
#include "platform/stream.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

class TOrvaneRoot final : public TkestWDXRoot {
public:
    TOrvaneRoot();

    // ICC profiles ("acsp" at offset 36) or JPEG streams (FF D8 FF at offset 0).
    static constexpr const char* DetectString = R"(([36]="a"&[37]="c"&[38]="s"&[39]="p")|([0]=255&[1]=216&[2]=255))";

    std::string GetDetectString(int AMaxLen) override;
    std::unique_ptr<TkestWDXData> AnalyseFile(const std::u16string& AFileName) override;
};

// A JPEG stream begins FF D8 FF; at least 5 bytes must have been read.
bool IsJpegHeader(std::span<const std::uint8_t> AProbe);
// Whether the file exists, can be opened and begins FF D8 FF.
bool IsJpegFile(const std::u16string& AFileName);
// Fills the JPEG members of AInfo from an open file stream.
void AnalyseJpeg(TStream& AStream, TkestInfo& AInfo);
// The full decoding pass over a whole stream (decode.cpp): fills Integrity, Scans, Trailer
// and SegmentsFull, not FullDecodeDone. Read and allocation failures are exceptions, and
// so is decoding work beyond its budget; nothing is filled before the parse has ended.
void DecodeJpeg(TStream& AStream, TkestInfo& AInfo);

// The full decoding pass: the whole file parsed again, its entropy-coded data decoded, for
// the four fields that need it (integrity, scans, trailer, the full APP catalogue).
#include "analysis/info.h"
#include "analysis/root.h"

#include "jpeg/catalogue.h"
#include "platform/platform.h"
#include "platform/stream.h"

#include <exception>
#include <mutex>
#include <string>

namespace {

constexpr std::uint32_t FullPassBuffer = 1048576;

}  // namespace

void DecodeJpeg(TStream& AStream, TkestInfo& AInfo) {
    AStream.Seek(0);
    TkestJpeg parser(FullPassBuffer);
    const int result = parser.Parse(AStream, 0, 0);
    if (result == prOk) {
        AInfo.Integrity = u"OK";
        // Position is just past EOI; 64-bit, as files may be larger than 4 GiB.
        AInfo.Trailer = static_cast<std::int64_t>(AStream.Size() - parser.Position);
    } else if (result == prUnsupported) {
        AInfo.Integrity = u"Unsupported yet";
    } else {
        AInfo.Integrity = u"Corrupted (" + platform::AnsiToWide(std::to_string(parser.PercentRead())) + u"% read)";
    }
    AInfo.Scans = parser.ScanCount;
    AInfo.SegmentsFull = parser.SegmentsText();
}

void TkestInfo::DecodeFully() {
    std::lock_guard guard(DecodeLock);
    if (FullDecodeDone) return;
    try {
        if (const auto stream = TFileStream::Open(FileName)) DecodeJpeg(*stream, *this);
    } catch (const std::exception&) {
        // A failed read or allocation (coefficient maps beyond their limit, or decoding work
        // beyond its budget, among them) leaves the members as they were: the fields then
        // show nothing rather than a guess.
    }
    FullDecodeDone = true;
}

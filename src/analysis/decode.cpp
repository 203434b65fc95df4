// The full decoding pass: the whole file parsed again, its entropy-coded data decoded, for
// the four fields that need it (integrity, scans, trailer, the full APP catalogue).
#include "analysis/info.h"

#include "jpeg/catalogue.h"
#include "platform/platform.h"
#include "platform/stream.h"

#include <exception>
#include <mutex>
#include <string>

namespace {

constexpr std::uint32_t FullPassBuffer = 1048576;

}  // namespace

void TkestInfo::DecodeFully() {
    std::lock_guard guard(DecodeLock);
    if (FullDecodeDone) return;
    try {
        const auto stream = TFileStream::Open(FileName);
        if (stream) {
            TkestJpeg parser(FullPassBuffer);
            const int result = parser.Parse(*stream, 0, 0);
            if (result == prOk) {
                Integrity = u"OK";
                // Position is just past EOI; 64-bit, as files may be larger than 4 GiB.
                Trailer = static_cast<std::int64_t>(stream->Size() - parser.Position);
            } else if (result == prUnsupported) {
                Integrity = u"Unsupported yet";
            } else {
                Integrity = u"Corrupted (" + platform::AnsiToWide(std::to_string(parser.PercentRead())) + u"% read)";
            }
            Scans = parser.ScanCount;
            SegmentsFull = parser.SegmentsText();
        }
    } catch (const std::exception&) {
        // A failed read or allocation (coefficient maps beyond their limit among them)
        // leaves the members as they were: the fields then show nothing rather than a guess.
    }
    FullDecodeDone = true;
}

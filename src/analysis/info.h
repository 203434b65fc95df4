// The per-file result record: every value the plugin's fields show for one file.
#pragma once

#include "frame/field.h"
#include "icc/icc_digest.h"
#include "icc/icc_profile.h"

#include <cstdint>
#include <mutex>
#include <string>

enum TkestFileKind : std::uint8_t { fkUnknown = 0, fkIccProfile = 1, fkJpeg = 2 };

// Filled once by the file analysis; the members of the full decoding pass are filled on
// first demand by DecodeFully. The ICC members come from the TkestIccInfo base.
class TkestInfo final : public TkestWDXData, public TkestIccInfo {
public:
    // The full decoding pass (decode.cpp): parses the whole file named by FileName and fills
    // the five members below, once. Several threads may read the record at the same time:
    // the first to call runs the pass, the others wait for it; afterwards the members are
    // only read. Read them only after calling it.
    void DecodeFully();

    std::u16string FileName;  // as the host passed it
    std::uint8_t Kind = fkUnknown;

    std::int32_t IccSize = 0;  // bytes of a profile embedded in a JPEG; 0 for a profile file
    std::string ExifFileName;
    std::string Segments;
    std::string ComponentIdText;
    std::string ColorSpace;
    std::string Encoding;
    std::int32_t RestartInterval = 0;
    std::string Thumbnails;
    bool Debug = false;
    TkestMD5Digest QTablesDigest{};
    std::int32_t Quality = 0;

    // --- The full decoding pass ---
    bool FullDecodeDone = false;
    std::u16string Integrity;  // "OK", "Unsupported yet", "Corrupted (N% read)"; empty when the pass failed
    std::string SegmentsFull;  // the APP-segment catalogue of the whole file
    std::int32_t Scans = 0;    // scans whose decoding began
    std::int64_t Trailer = 0;  // bytes after EOI, for a pass that ended with it

private:
    std::mutex DecodeLock;  // held while the pass runs
};

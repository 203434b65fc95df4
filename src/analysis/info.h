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
};

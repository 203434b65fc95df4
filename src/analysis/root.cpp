#include "analysis/root.h"

#include "analysis/fields.h"
#include "icc/icc_profile.h"

#include <array>

TOrvaneRoot::TOrvaneRoot() {
    AddField<TkestJpegOriginalNameField>();
    AddField<TkestJpegSegmentsField>();
    AddField<TkestJpegSegmentsFullField>();
    AddField<TkestJpegComponentsIDsField>();
    AddField<TkestJpegColorSpaceField>();
    AddField<TkestJpegEncodingField>();
    AddField<TkestJpegRestartField>();
    AddField<TkestJpegQTablesField>();
    AddField<TkestJpegThumbnailsField>();
    AddField<TkestJpegQTablesQualityField>();
    AddField<TkestJpegIntegrityField>();
    AddField<TkestJpegScansField>();
    AddField<TkestJpegTrailerField>();
    AddField<TkestIccTypeField>();
    AddField<TkestIccVersionField>();
    AddField<TkestIccClassField>();
    AddField<TkestIccColorSpaceField>();
    AddField<TkestIccConnectionSpaceField>();
    AddField<TkestIccPrimaryPlatformField>();
    AddField<TkestIccManufacturerField>();
    AddField<TkestIccManufacturerDescriptionField>();
    AddField<TkestIccModelField>();
    AddField<TkestIccModelDescriptionField>();
    AddField<TkestIccCreatorField>();
    AddField<TkestIccDescriptionField>();
    AddField<TkestIccCopyrightField>();
    AddField<TkestIccSizeField>();
    AddField<TkestIccMD5Field>();
    AddField<TkestJpegDebugField>();
}

std::string TOrvaneRoot::GetDetectString(int) { return DetectString; }

bool IsJpegHeader(std::span<const std::uint8_t> AProbe) {
    return AProbe.size() >= 5 && AProbe[0] == 0xFF && AProbe[1] == 0xD8 && AProbe[2] == 0xFF;
}

bool IsJpegFile(const std::u16string& AFileName) {
    try {
        auto stream = TFileStream::Open(AFileName);
        std::array<std::uint8_t, 3> start{};
        return stream && stream->Read(start) == 3 && start[0] == 0xFF && start[1] == 0xD8 && start[2] == 0xFF;
    } catch (const std::exception&) {
        return false;
    }
}

std::unique_ptr<TkestWDXData> TOrvaneRoot::AnalyseFile(const std::u16string& AFileName) {
    auto info = std::make_unique<TkestInfo>();
    info->FileName = AFileName;
    try {
        auto stream = TFileStream::Open(AFileName);
        if (!stream) return info;
        std::array<std::uint8_t, 128> probe{};
        const std::size_t count = stream->Read(probe);
        stream->Seek(0);
        const std::span<const std::uint8_t> read(probe.data(), count);
        if (IsIccProfileHeader(read)) {
            info->Kind = fkIccProfile;
            ParseIccProfile(*stream, *info);
        } else if (IsJpegHeader(read)) {
            info->Kind = fkJpeg;
            AnalyseJpeg(*stream, *info);
        }
    } catch (const std::exception&) {
        // A failed analysis keeps what it filled before the error.
    }
    return info;
}

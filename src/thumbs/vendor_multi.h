// Vendor previews split over consecutive APP segments of one kind: the first segment is
// recognised by its marker and signature, the payload bytes of it and of the segments that
// continue it are collected, and the collected bytes are searched for previews when the run
// ends (JPEG streams; PNG images for FLIR; the thumbnail resources of Photoshop's image
// resource blocks first).
#pragma once

#include "thumbs/thumbs.h"
#include "thumbs/vendor_common.h"

#include <string_view>

// APP2 segments whose payload begins with a JPEG stream at 0 or 1; the APP2 segments that
// follow continue it until one that a signed format claims (MPF, FPXR, ...).
class TkestJpegThumbAPP2v1Handler final : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "TkestJpegThumbAPP2v1Handler";
    static constexpr bool IsSigned() { return false; }  // taken by a stream's start
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "APP2v1"; }
    bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
};

// APP2 segments with a JPEG stream at payload position 60; bytes from 60 are collected. The
// run continues as APP2v1's does.
class TkestJpegThumbAPP2v2Handler final : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "TkestJpegThumbAPP2v2Handler";
    static constexpr bool IsSigned() { return false; }  // taken by a stream's start
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "APP2v2"; }
    bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
};

// A JPEG stream at the start of an APP3 payload, continued in APP4, APP5, ... (one marker
// code up per segment).
class TkestJpegThumbAPP3Handler final : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "TkestJpegThumbAPP3Handler";
    static constexpr bool IsSigned() { return false; }  // taken by a stream's start
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "APP3"; }
    bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;

    std::int32_t SegmentsTaken = 0;
};

// FlashPix-ready segments ("FPXR", a zero byte, a version, the segment type at 6, the
// stream index at 7-8, then 4 bytes): the stream-data segments (type 2) of the FlashPix
// streams that hold a preview. Two layouts put the JPEG stream right after the 13-byte
// header (Variant 2) or 47 bytes after it (Variant 1).
class TkestJpegThumbFPXR2Handler : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "TkestJpegThumbFPXR2Handler";
    static constexpr std::uint8_t Marker = 0xE2;
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    // The marker of the class's segments: APP2 here, APP4 in TkestJpegThumbFPXR4Handler.
    virtual std::uint8_t GetMarker() const { return Marker; }
    // "FPXR2", "FPXR4", with ":" and the layout variant once one is recognised.
    std::string GetName() const override;
    bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;

    std::uint8_t FpxrType = 0;     // byte 6 of the last segment taken; 2 for stream data
    std::uint16_t StreamIndex = 0; // bytes 7-8 of the last segment taken
    std::int32_t Variant = 0;      // 0 while no layout is recognised, else 1 or 2

protected:
    static bool CanHandleWith(std::uint8_t AClassMarker, std::uint8_t AMarker, ByteView AData);
};

// The same segments in APP4.
class TkestJpegThumbFPXR4Handler final : public TkestJpegThumbFPXR2Handler {
public:
    using TkestJpegThumbFPXR2Handler::TkestJpegThumbFPXR2Handler;
    static constexpr const char* ClassName = "TkestJpegThumbFPXR4Handler";
    static constexpr std::uint8_t Marker = 0xE4;
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::uint8_t GetMarker() const override { return Marker; }
};

// FLIR thermal-camera APP1 segments ("FLIR", a zero byte, then 3 bytes of segment
// numbering): the FFF record they carry holds PNG and JPEG images.
class TkestJpegThumbFLIRHandler final : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "TkestJpegThumbFLIRHandler";
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "FLIR"; }
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void Finish() override;
};

// Photoshop image resources in APP13 "Photoshop 3.0" segments; the thumbnail resources
// 0x0409 (Photoshop 4, BGR) and 0x040C (Photoshop 5 and later) hold a JPEG stream after a
// 28-byte header.
class TkestJpegThumbPhotoshopHandler final : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "TkestJpegThumbPhotoshopHandler";
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    std::string GetName() const override { return "PS"; }
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void Finish() override;

private:
    void WalkResources(ByteView AData);
    void ExamineThumbnail(ByteView AData, std::uint64_t AOffset, std::uint16_t AId);
};

// Segments recognised by a signature at the start of their payload; the bytes from a fixed
// position on are collected and scanned for JPEG streams. Each class is one row of a table.
struct TkestVendorSignature {
    std::uint8_t Marker;
    std::string_view Text;    // the signature, zero byte included
    std::uint64_t Minimum;    // AAvailable must be at least this
    std::uint64_t DataStart;  // first payload byte collected
};

template <const TkestVendorSignature& Layout>
class TkestJpegThumbSignedHandler : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t) {
        return AMarker == Layout.Marker && AData.Size() >= Layout.Minimum && MatchesText(AData, 0, Layout.Text);
    }
    void ProcessSegment(std::uint64_t, std::uint8_t, ByteView AData, std::uint32_t) override {
        AppendPayloadFrom(Owner, Layout.DataStart, AData);
    }
};

// The signature is followed by data from 8 (RICOH, PENTAX, SCALADO), 19 (QTI) or 22
// (Qualcomm); RICOH, PENTAX and SCALADO need more than 8 bytes.
inline constexpr TkestVendorSignature kRicohLayout = {0xE7, std::string_view("RICOH\0", 6), 9, 8};
inline constexpr TkestVendorSignature kPentaxLayout = {0xE7, std::string_view("PENTAX \0", 8), 9, 8};
inline constexpr TkestVendorSignature kScaladoLayout = {0xE4, std::string_view("SCALADO\0", 8), 9, 8};
inline constexpr TkestVendorSignature kQtiDebugLayout = {0xE4, std::string_view("QTI Debug Metadata\0", 19), 19, 19};
inline constexpr TkestVendorSignature kQualcommLayout = {0xE4, std::string_view("Qualcomm Camera Debug\0", 22), 22,
                                                         22};

class TkestJpegThumbRICOHHandler final : public TkestJpegThumbSignedHandler<kRicohLayout> {
public:
    using TkestJpegThumbSignedHandler::TkestJpegThumbSignedHandler;
    static constexpr const char* ClassName = "TkestJpegThumbRICOHHandler";
    std::string GetName() const override { return "RICOH"; }
};

class TkestJpegThumbPENTAXHandler final : public TkestJpegThumbSignedHandler<kPentaxLayout> {
public:
    using TkestJpegThumbSignedHandler::TkestJpegThumbSignedHandler;
    static constexpr const char* ClassName = "TkestJpegThumbPENTAXHandler";
    std::string GetName() const override { return "PENTAX"; }
};

class TkestJpegThumbSCALADOHandler final : public TkestJpegThumbSignedHandler<kScaladoLayout> {
public:
    using TkestJpegThumbSignedHandler::TkestJpegThumbSignedHandler;
    static constexpr const char* ClassName = "TkestJpegThumbSCALADOHandler";
    std::string GetName() const override { return "SCALADO"; }
};

class TkestJpegThumbQTIDebugMetadataHandler final : public TkestJpegThumbSignedHandler<kQtiDebugLayout> {
public:
    using TkestJpegThumbSignedHandler::TkestJpegThumbSignedHandler;
    static constexpr const char* ClassName = "TkestJpegThumbQTIDebugMetadataHandler";
    std::string GetName() const override { return "QTIDebug"; }
};

// Qualcomm camera debug data, continued in APP5, APP6, ... (one marker code up per
// segment), every segment with the signature.
class TkestJpegThumbQualcommHandler final : public TkestJpegThumbSignedHandler<kQualcommLayout> {
public:
    using TkestJpegThumbSignedHandler::TkestJpegThumbSignedHandler;
    static constexpr const char* ClassName = "TkestJpegThumbQualcommHandler";
    std::string GetName() const override { return "Qualcomm"; }
    bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;
    void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) override;

    std::int32_t SegmentsTaken = 0;
};

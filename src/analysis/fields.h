// The plugin's fields, one class each. A field class is a family (the rule by which it
// reads a member of the file's TkestInfo and decides that it has no value) given a display
// name; the table at the end names all of them in the order the root registers them.
#pragma once

#include "analysis/info.h"
#include "analysis/root.h"
#include "frame/field.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

inline TkestInfo& Info(TkestWDXData& AData) { return static_cast<TkestInfo&>(AData); }

// A display name usable as a template argument.
template <std::size_t N>
struct TkestFieldName {
    constexpr TkestFieldName(const char16_t (&text)[N]) { std::copy_n(text, N, Text); }
    char16_t Text[N];
};

template <TkestFieldName Name, class Family>
class TkestNamedField final : public Family {
public:
    using Family::Family;
    std::u16string GetName() const override { return Name.Text; }
};

// A JPEG text member. Some fields deliver it for every JPEG, empty or not; the others have
// no value while it is empty.
enum TkestEmptyText { etNoValue, etDelivered };

template <auto Member, TkestEmptyText Empty>
class TkestJpegTextFamily : public TkestWDXStringAField {
public:
    using TkestWDXStringAField::TkestWDXStringAField;
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, std::string& AData) override {
        const TkestInfo& info = Info(AInfo);
        AData = info.*Member;
        return info.Kind == fkJpeg && (Empty == etDelivered || !AData.empty());
    }
};

// A JPEG number member; no value unless it is above 0.
template <auto Member>
class TkestJpegNumberFamily : public TkestWDXInt32Field {
public:
    using TkestWDXInt32Field::TkestWDXInt32Field;
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, std::int32_t& AData) override {
        const TkestInfo& info = Info(AInfo);
        AData = info.*Member;
        return info.Kind == fkJpeg && AData > 0;
    }
};

// A digest as 32 hexadecimal digits; no value while it is all zero.
template <auto Member>
class TkestDigestFamily : public TkestWDXStringAField {
public:
    using TkestWDXStringAField::TkestWDXStringAField;
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, std::string& AData) override {
        const TkestMD5Digest& digest = Info(AInfo).*Member;
        if (IsEmptyDigest(digest)) return false;
        AData = DigestToHex(digest);
        return true;
    }
};

// An ICC text member, of a profile file or of a JPEG's embedded profile; no value while
// it is empty.
template <class Base, auto Member>
class TkestIccTextFamily : public Base {
public:
    using Base::Base;
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, typename Base::ValueType& AData) override {
        AData = Info(AInfo).*Member;
        return !AData.empty();
    }
};
template <auto Member>
using TkestIccAnsiFamily = TkestIccTextFamily<TkestWDXStringAField, Member>;
template <auto Member>
using TkestIccWideFamily = TkestIccTextFamily<TkestWDXStringWField, Member>;

// The byte size of an embedded profile: the reader always delivers it (the full text shows
// 0 for files without one), but the field has no value while it is 0.
class TkestIccSizeFamily : public TkestWDXInt32Field {
public:
    using TkestWDXInt32Field::TkestWDXInt32Field;
    bool IsEmpty(TkestWDXData& AInfo, int, int) override { return Info(AInfo).IccSize == 0; }
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, std::int32_t& AData) override {
        AData = Info(AInfo).IccSize;
        return true;
    }
};

// The preview collection's diagnostic flag: true or no value, never false.
class TkestJpegDebugFamily : public TkestWDXBooleanField {
public:
    using TkestWDXBooleanField::TkestWDXBooleanField;
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, bool& AData) override {
        const TkestInfo& info = Info(AInfo);
        AData = true;
        return info.Kind == fkJpeg && info.Debug;
    }
};

// A value of the full decoding pass: slow for a file that starts as a JPEG stream, so the
// host may show "Decoding..." meanwhile. A JPEG's value is delivered even when it is empty
// or 0, except where `Positive` asks for a value above 0 (Trailer: nothing when the pass did
// not end at EOI, or nothing follows it).

template <class Base, auto Member, bool Positive = false>
class TkestJpegDecodedFamily : public Base {
public:
    using Base::Base;
    bool IsSlow(const std::u16string& AFileName, int) override { return IsJpegFile(AFileName); }
    std::u16string GetDelayedText(const std::u16string&, int) override { return u"Decoding..."; }
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, typename Base::ValueType& AData) override {
        TkestInfo& info = Info(AInfo);
        if (info.Kind != fkJpeg) return false;
        info.DecodeFully();
        AData = info.*Member;
        if constexpr (Positive) return AData > 0;
        return true;
    }
};

// The field table, in registration order (the index the host uses).
using TkestJpegOriginalNameField =
    TkestNamedField<u"Exif name", TkestJpegTextFamily<&TkestInfo::ExifFileName, etDelivered>>;
using TkestJpegSegmentsField = TkestNamedField<u"APP segments", TkestJpegTextFamily<&TkestInfo::Segments, etDelivered>>;
using TkestJpegSegmentsFullField =
    TkestNamedField<u"APP segments (full)", TkestJpegDecodedFamily<TkestWDXStringAField, &TkestInfo::SegmentsFull>>;
using TkestJpegComponentsIDsField =
    TkestNamedField<u"Component IDs", TkestJpegTextFamily<&TkestInfo::ComponentIdText, etNoValue>>;
using TkestJpegColorSpaceField = TkestNamedField<u"Colorspace", TkestJpegTextFamily<&TkestInfo::ColorSpace, etNoValue>>;
using TkestJpegEncodingField = TkestNamedField<u"Encoding", TkestJpegTextFamily<&TkestInfo::Encoding, etNoValue>>;
using TkestJpegRestartField = TkestNamedField<u"Restart interval", TkestJpegNumberFamily<&TkestInfo::RestartInterval>>;
using TkestJpegQTablesField = TkestNamedField<u"QTabels MD5", TkestDigestFamily<&TkestInfo::QTablesDigest>>;
using TkestJpegThumbnailsField = TkestNamedField<u"Thumbnails", TkestJpegTextFamily<&TkestInfo::Thumbnails, etNoValue>>;
using TkestJpegQTablesQualityField = TkestNamedField<u"Quality", TkestJpegNumberFamily<&TkestInfo::Quality>>;
using TkestJpegIntegrityField =
    TkestNamedField<u"Integrity", TkestJpegDecodedFamily<TkestWDXStringWField, &TkestInfo::Integrity>>;
using TkestJpegScansField = TkestNamedField<u"Scans", TkestJpegDecodedFamily<TkestWDXInt32Field, &TkestInfo::Scans>>;
using TkestJpegTrailerField =
    TkestNamedField<u"Trailer", TkestJpegDecodedFamily<TkestWDXInt64Field, &TkestInfo::Trailer, true>>;
using TkestIccTypeField = TkestNamedField<u"ICC CMM", TkestIccAnsiFamily<&TkestIccInfo::IccCmm>>;
using TkestIccVersionField = TkestNamedField<u"ICC version", TkestIccAnsiFamily<&TkestIccInfo::IccVersion>>;
using TkestIccClassField = TkestNamedField<u"ICC class", TkestIccAnsiFamily<&TkestIccInfo::IccClass>>;
using TkestIccColorSpaceField = TkestNamedField<u"ICC colorspace", TkestIccAnsiFamily<&TkestIccInfo::IccColorSpace>>;
using TkestIccConnectionSpaceField =
    TkestNamedField<u"ICC connection space", TkestIccAnsiFamily<&TkestIccInfo::IccConnectionSpace>>;
using TkestIccPrimaryPlatformField =
    TkestNamedField<u"ICC primary platform", TkestIccAnsiFamily<&TkestIccInfo::IccPlatform>>;
using TkestIccManufacturerField = TkestNamedField<u"ICC manufacturer", TkestIccAnsiFamily<&TkestIccInfo::IccManufacturer>>;
using TkestIccManufacturerDescriptionField =
    TkestNamedField<u"ICC manufacturer description", TkestIccWideFamily<&TkestIccInfo::IccManufacturerDescription>>;
using TkestIccModelField = TkestNamedField<u"ICC model", TkestIccAnsiFamily<&TkestIccInfo::IccModel>>;
using TkestIccModelDescriptionField =
    TkestNamedField<u"ICC model description", TkestIccWideFamily<&TkestIccInfo::IccModelDescription>>;
using TkestIccCreatorField = TkestNamedField<u"ICC creator", TkestIccAnsiFamily<&TkestIccInfo::IccCreator>>;
using TkestIccDescriptionField = TkestNamedField<u"ICC description", TkestIccWideFamily<&TkestIccInfo::IccDescription>>;
using TkestIccCopyrightField = TkestNamedField<u"ICC copyright", TkestIccWideFamily<&TkestIccInfo::IccCopyright>>;
using TkestIccSizeField = TkestNamedField<u"ICC size", TkestIccSizeFamily>;
using TkestIccMD5Field = TkestNamedField<u"ICC ID", TkestDigestFamily<&TkestInfo::IccDigest>>;
using TkestJpegDebugField = TkestNamedField<u"Debug", TkestJpegDebugFamily>;

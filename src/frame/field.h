// The field model: every column the plugin offers is one field object. A field reads its
// value from a file's result record and writes it into the host's buffer by its type.
#pragma once

#include "frame/wdx.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

class TkestWDXRoot;

// Base of the per-file result records that the concrete root makes and the fields read.
class TkestWDXData {
public:
    virtual ~TkestWDXData() = default;
};

// One value request as the host made it, minus the field index.
struct TkestWDXRequest {
    const std::u16string& FileName;
    int UnitIndex;
    void* Value;  // the host's buffer of MaxLen bytes
    int MaxLen;
    int Flags;
    bool Wide;    // came through the UTF-16 entry point
};

class TkestWDXField {
public:
    explicit TkestWDXField(TkestWDXRoot* ARoot) : Root(ARoot) {}
    virtual ~TkestWDXField() = default;
    TkestWDXField(const TkestWDXField&) = delete;
    TkestWDXField& operator=(const TkestWDXField&) = delete;

    // Getting the value for this file is slow enough to deserve a delayed answer.
    virtual bool IsSlow(const std::u16string& AFileName, int AUnitIndex);
    // Placeholder shown while a delayed value is pending.
    virtual std::u16string GetDelayedText(const std::u16string& AFileName, int AUnitIndex);
    // The field has no value for this file and its value must not be read.
    virtual bool IsEmpty(TkestWDXData& AInfo, int AUnitIndex, int AFlags);
    // Writes the value into ARequest.Value; answers a type code or a result code.
    virtual int GetValue(const TkestWDXRequest& ARequest, TkestWDXData& AInfo);
    virtual int GetFieldType() const = 0;
    virtual std::u16string GetName() const = 0;
    virtual int GetUnitCount() const { return 0; }
    virtual std::u16string GetUnitName(int AIndex) const;

    // The host's interface major version; 0 before the host sent its parameters.
    std::uint32_t GetHostVersion() const;
    // The type the host is told: UTF-16 strings count as 8-bit below interface version 2.
    int GetReportedType() const;
    // GetValue, then the downgrade of a UTF-16 value to 8-bit text for older hosts.
    int FetchValue(const TkestWDXRequest& ARequest, TkestWDXData& AInfo);

    TkestWDXRoot* const Root;
};

// A field of one value type. Concrete fields supply GetName and ReadValue.
template <class T, int TypeCode>
class TkestWDXTypedField : public TkestWDXField {
public:
    using TkestWDXField::TkestWDXField;
    using ValueType = T;

    int GetFieldType() const final { return TypeCode; }
    int GetValue(const TkestWDXRequest& ARequest, TkestWDXData& AInfo) final {
        T value{};
        if (!ReadValue(ARequest, AInfo, value)) return ft_fieldempty;
        Write(value, ARequest);
        return TypeCode;
    }
    // Whether a value exists; it goes to AData.
    virtual bool ReadValue(const TkestWDXRequest& ARequest, TkestWDXData& AInfo, T& AData) = 0;

private:
    static void Write(const T& value, const TkestWDXRequest& ARequest);
};

using TkestWDXInt32Field = TkestWDXTypedField<std::int32_t, ft_numeric_32>;
using TkestWDXInt64Field = TkestWDXTypedField<std::int64_t, ft_numeric_64>;
using TkestWDXBooleanField = TkestWDXTypedField<bool, ft_boolean>;
using TkestWDXStringAField = TkestWDXTypedField<std::string, ft_string>;
using TkestWDXStringWField = TkestWDXTypedField<std::u16string, ft_stringw>;

extern template class TkestWDXTypedField<std::int32_t, ft_numeric_32>;
extern template class TkestWDXTypedField<std::int64_t, ft_numeric_64>;
extern template class TkestWDXTypedField<bool, ft_boolean>;
extern template class TkestWDXTypedField<std::string, ft_string>;
extern template class TkestWDXTypedField<std::u16string, ft_stringw>;

// Turns a value FetchValue has just written into a buffer back into text.
std::u16string ValueToText(int ACode, const void* AValue, int AMaxLen);

// Serves the host's full-text search: the texts of all other fields of a file, each value
// whole, joined and delivered in chunks. UnitIndex 0 starts a file's text, -1 discards it,
// anything else asks for the next chunk of the file's text. Each host thread has its own
// pending text, so searches on several threads do not mix.
class TkestWDXFullTextField final : public TkestWDXField {
public:
    using TkestWDXField::TkestWDXField;

    bool IsEmpty(TkestWDXData&, int, int) override { return false; }
    int GetValue(const TkestWDXRequest& ARequest, TkestWDXData& AInfo) override;
    int GetFieldType() const override { return ft_fulltext; }
    std::u16string GetName() const override { return u"Full text"; }

private:
    // A file's text and how much of it the thread has been given.
    struct TPending {
        std::u16string FileName;
        std::u16string Text;
        std::size_t Delivered = 0;  // code units
    };

    std::u16string BuildText(const TkestWDXRequest& ARequest, TkestWDXData& AInfo);

    std::mutex PendingLock;
    std::map<std::thread::id, TPending> PendingText;  // per thread, not yet delivered
};

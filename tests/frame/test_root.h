// A small root for the frame's tests: its record is the file's content, and its fields
// cover every value type, a slow field and the full-text field.
#pragma once

#include "frame/root.h"
#include "platform/stream.h"

#include <atomic>
#include <exception>
#include <future>
#include <mutex>
#include <string>
#include <thread>

inline std::atomic<int> LiveRecords{0};

struct TestRecord final : TkestWDXData {
    TestRecord() { ++LiveRecords; }
    ~TestRecord() override { --LiveRecords; }

    bool Opened = false;
    std::string Content;
    std::once_flag SlowOnce;
    std::string SlowValue;  // filled on first demand, like a full decoding
};

inline TestRecord& Record(TkestWDXData& AInfo) { return static_cast<TestRecord&>(AInfo); }

// "Content": the file's bytes as text; empty when the file could not be opened.
class ContentField final : public TkestWDXStringAField {
public:
    using TkestWDXStringAField::TkestWDXStringAField;
    std::u16string GetName() const override { return u"Content"; }
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, std::string& AData) override {
        AData = Record(AInfo).Content;
        return Record(AInfo).Opened;
    }
};

class LengthField final : public TkestWDXInt32Field {
public:
    using TkestWDXInt32Field::TkestWDXInt32Field;
    std::u16string GetName() const override { return u"Length"; }
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, std::int32_t& AData) override {
        AData = static_cast<std::int32_t>(Record(AInfo).Content.size());
        return Record(AInfo).Opened;
    }
};

// The content with a non-ASCII suffix, as UTF-16.
class WideField final : public TkestWDXStringWField {
public:
    using TkestWDXStringWField::TkestWDXStringWField;
    std::u16string GetName() const override { return u"Wide"; }
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, std::u16string& AData) override {
        AData = platform::AnsiToWide(Record(AInfo).Content) + u"\u00e9";
        return Record(AInfo).Opened;
    }
};

class NonEmptyField final : public TkestWDXBooleanField {
public:
    using TkestWDXBooleanField::TkestWDXBooleanField;
    std::u16string GetName() const override { return u"Non-empty"; }
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, bool& AData) override {
        AData = !Record(AInfo).Content.empty();
        return Record(AInfo).Opened;
    }
};

class BigField final : public TkestWDXInt64Field {
public:
    using TkestWDXInt64Field::TkestWDXInt64Field;
    std::u16string GetName() const override { return u"Big"; }
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, std::int64_t& AData) override {
        AData = static_cast<std::int64_t>(Record(AInfo).Content.size()) << 33;
        return Record(AInfo).Opened;
    }
};

// Slow for files whose content starts with 'S'; computed once per record on first demand.
class SlowField final : public TkestWDXStringAField {
public:
    using TkestWDXStringAField::TkestWDXStringAField;
    std::u16string GetName() const override { return u"Slow"; }
    bool IsSlow(const std::u16string& AFileName, int) override {
        auto stream = TFileStream::Open(AFileName);
        std::uint8_t first = 0;
        return stream && stream->Read({&first, 1}) == 1 && first == 'S';
    }
    std::u16string GetDelayedText(const std::u16string&, int) override { return u"Working\u2026"; }
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, std::string& AData) override {
        TestRecord& record = Record(AInfo);
        if (!record.Opened) return false;
        std::call_once(record.SlowOnce, [&] {
            if (Entered) Entered->set_value();
            if (Gate.valid()) Gate.wait();
            record.SlowValue = "slow:" + record.Content;
        });
        AData = record.SlowValue;
        return true;
    }
    // When set, the computation reports that it began and waits for the gate to open.
    static inline std::promise<void>* Entered = nullptr;
    static inline std::shared_future<void> Gate;
};

class TestRoot : public TkestWDXRoot {
public:
    TestRoot() {
        AddField<ContentField>();
        AddField<LengthField>();
        AddField<WideField>();
        AddField<NonEmptyField>();
        AddField<BigField>();
        AddField<SlowField>();
    }

    static constexpr const char* Detect = R"(([36]="a"&[37]="c")|([0]=255&[1]=216))";

    std::string GetDetectString(int) override { return Detect; }

    std::unique_ptr<TkestWDXData> AnalyseFile(const std::u16string& AFileName) override {
        ++Analyses;
        auto record = std::make_unique<TestRecord>();
        // Like the plugin's analysis, errors are swallowed: a file cut short by a writer
        // between its size and its read gives an empty record.
        try {
            if (auto stream = TFileStream::Open(AFileName)) {
                record->Opened = true;
                record->Content.resize(static_cast<std::size_t>(stream->Size()));
                stream->ReadExact({reinterpret_cast<std::uint8_t*>(record->Content.data()), record->Content.size()});
            }
        } catch (const std::exception&) {
            record->Content.clear();
        }
        return record;
    }

    std::atomic<int> Analyses{0};
};

// Field indices of TestRoot.
enum TestField { fContent, fLength, fWide, fNonEmpty, fBig, fSlow, fFullText };

// A root installed with its default fields, as the library does at load.
inline std::unique_ptr<TestRoot> MakeTestRoot() {
    auto root = std::make_unique<TestRoot>();
    root->CreateDefaultFields();
    return root;
}

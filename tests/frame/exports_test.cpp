// The five entry points, called as a host calls them, over the test root.
#include "frame/wdx.h"
#include "support/temp_files.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

WDX_EXPORT void WDX_CALL ContentGetDetectString(char* ADetectString, int AMaxLen);
WDX_EXPORT int WDX_CALL ContentGetSupportedField(int AFieldIndex, char* AFieldName, char* AUnits, int AMaxLen);
WDX_EXPORT int WDX_CALL ContentGetValue(const char* AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                        int AMaxLen, int AFlags);
WDX_EXPORT int WDX_CALL ContentGetValueW(const WdxChar* AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                         int AMaxLen, int AFlags);
WDX_EXPORT void WDX_CALL ContentSetDefaultParams(const TkestWDXDefaultParams* AParams);

namespace {

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override { InstallRoot(std::make_unique<TestRoot>()); }
    void TearDown() override { RemoveRoot(); }
    TempDir dir;
};

TEST_F(ExportsTest, DetectStringIsShortenedByWholeAlternatives) {
    const std::string whole = TestRoot::Detect;
    const std::string first = whole.substr(0, whole.find('|'));
    struct Case {
        int maxLen;
        std::string expected;
    } cases[] = {
        {static_cast<int>(whole.size()) + 1, whole},
        {200, whole},
        {static_cast<int>(whole.size()), first},
        {static_cast<int>(first.size()) + 1, first},
        {static_cast<int>(first.size()), ""},
        {1, ""},
    };
    for (const auto& c : cases) {
        std::array<char, 256> buffer;
        buffer.fill('#');
        ContentGetDetectString(buffer.data(), c.maxLen);
        EXPECT_EQ(std::string(buffer.data()), c.expected) << c.maxLen;
        EXPECT_EQ(buffer[c.expected.size()], '\0');
        // Everything up to AMaxLen is zero after the text, nothing beyond it is touched.
        for (int i = static_cast<int>(c.expected.size()); i < c.maxLen; ++i) ASSERT_EQ(buffer[i], '\0');
        EXPECT_EQ(buffer[c.maxLen], '#');
    }
}

TEST_F(ExportsTest, SupportedFieldsNamesTypesAndTheEnd) {
    std::array<char, 32> name, units;
    name.fill('#');
    units.fill('#');
    EXPECT_EQ(ContentGetSupportedField(0, name.data(), units.data(), 5), ft_string);
    EXPECT_EQ(std::string(name.data(), 6), std::string("Cont\0#", 6));
    EXPECT_EQ(std::string(units.data(), 2), std::string("\0#", 2));

    EXPECT_EQ(ContentGetSupportedField(fFullText, name.data(), units.data(), 32), ft_fulltext);
    EXPECT_EQ(std::string(name.data()), "Full text");

    name.fill('#');
    units.fill('#');
    EXPECT_EQ(ContentGetSupportedField(fFullText + 1, name.data(), units.data(), 32), 0);
    EXPECT_EQ(ContentGetSupportedField(-1, name.data(), units.data(), 32), 0);
    EXPECT_EQ(name[0], '#');
    EXPECT_EQ(units[0], '#');
}

TEST_F(ExportsTest, ReportedTypeFollowsTheHostsInterfaceVersion) {
    std::array<char, 32> name, units;
    EXPECT_EQ(ContentGetSupportedField(fWide, name.data(), units.data(), 32), ft_string);
    TkestWDXDefaultParams params{};
    params.Size = sizeof params;
    params.VersionHigh = 1;
    params.VersionLow = 50;
    ContentSetDefaultParams(&params);
    EXPECT_EQ(ContentGetSupportedField(fWide, name.data(), units.data(), 32), ft_string);
    params.VersionHigh = 2;
    ContentSetDefaultParams(&params);
    EXPECT_EQ(ContentGetSupportedField(fWide, name.data(), units.data(), 32), ft_stringw);
}

TEST_F(ExportsTest, ValuesThroughBothEntries) {
    const auto file = dir.Write("file", {'a', 'b', 'c'});
    std::array<char, 64> buffer{};
    EXPECT_EQ(ContentGetValueW(file.c_str(), fContent, 0, buffer.data(), 64, 0), ft_string);
    EXPECT_EQ(std::string(buffer.data()), "abc");
    const std::string ansi = platform::WideToAnsi(file);
    std::int32_t length = 0;
    EXPECT_EQ(ContentGetValue(ansi.c_str(), fLength, 0, &length, 4, 0), ft_numeric_32);
    EXPECT_EQ(length, 3);
    for (int index : {-1, fFullText + 1}) {
        EXPECT_EQ(ContentGetValue(ansi.c_str(), index, 0, buffer.data(), 64, 0), ft_nosuchfield);
        EXPECT_EQ(ContentGetValueW(file.c_str(), index, 0, buffer.data(), 64, 0), ft_nosuchfield);
    }
}

TEST_F(ExportsTest, NonAsciiFileNameThroughBothEntries) {
    const auto file = dir.Write("caf\xC3\xA9-\xE2\x82\xAC.jpg", {'x'});  // café-€.jpg
    std::array<char, 16> buffer{};
    EXPECT_EQ(ContentGetValueW(file.c_str(), fContent, 0, buffer.data(), 16, 0), ft_string);
    EXPECT_EQ(std::string(buffer.data()), "x");
    // The 8-bit entry reaches it where the code page can name it (UTF-8 on Linux).
    const std::string ansi = platform::WideToAnsi(file);
    if (platform::AnsiToWide(ansi) == file) {
        EXPECT_EQ(ContentGetValue(ansi.c_str(), fContent, 0, buffer.data(), 16, 0), ft_string);
    }
}

void SetVersion(std::uint32_t high) {
    TkestWDXDefaultParams params{};
    params.Size = sizeof params;
    params.VersionHigh = high;
    ContentSetDefaultParams(&params);
}

TEST_F(ExportsTest, EightBitCopyEndsOnAWholeCharacter) {
    // A host of interface 1.x (Double Commander) gets the UTF-16 field as 8-bit text:
    // UTF-8 on Linux, where each of these characters takes 3 bytes.
    const std::u16string text = u"\u4e2d\u6587\u5b57";
    const std::string ansi = platform::WideToAnsi(text);
    const auto file = dir.Write("cjk", Bytes(ansi.begin(), ansi.end()));
    const std::u16string value = platform::AnsiToWide(ansi) + u"\u00e9";
    SetVersion(1);
    for (int maxLen = 1; maxLen <= 12; ++maxLen) {
        std::array<char, 16> buffer;
        buffer.fill('#');
        EXPECT_EQ(ContentGetValueW(file.c_str(), fWide, 0, buffer.data(), maxLen, 0), ft_string);
        // The value is cut as UTF-16 text first (maxLen / 2 - 1 code units), then its 8-bit
        // form to the longest run of whole characters that fits before the terminator.
        const std::u16string cut = value.substr(0, static_cast<std::size_t>(std::max(maxLen / 2 - 1, 0)));
        std::string expected;
        for (std::size_t end = 1; end <= cut.size(); ++end)
            if (const std::string prefix = platform::WideToAnsi(cut.substr(0, end));
                prefix.size() <= static_cast<std::size_t>(maxLen - 1))
                expected = prefix;
        EXPECT_EQ(std::string(buffer.data(), expected.size() + 1), expected + '\0') << maxLen;
    }
}

TEST_F(ExportsTest, BufferWithoutRoomForATerminatorGetsNoText) {
    const auto file = dir.Write("file", {'S', 'b', 'c'});  // 'S': the slow field is slow for it
    struct Case {
        bool wide;      // through ContentGetValueW
        int field;
        std::uint32_t version;
        int flags;
        int maxLen;
        int result;
        std::string written;  // the buffer's first bytes, '#' untouched
    } cases[] = {
        {true, fContent, 2, 0, -1, ft_fieldempty, "##"},
        {true, fContent, 2, 0, 0, ft_fieldempty, "##"},
        {true, fContent, 2, 0, 1, ft_string, std::string("\0#", 2)},
        {true, fWide, 2, 0, 0, ft_fieldempty, "###"},
        {true, fWide, 2, 0, 1, ft_fieldempty, "###"},
        {true, fWide, 2, 0, 2, ft_stringw, std::string("\0\0#", 3)},
        {true, fWide, 1, 0, 0, ft_fieldempty, "##"},  // delivered as 8-bit text
        {true, fWide, 1, 0, 1, ft_string, std::string("\0#", 2)},
        {true, fSlow, 2, CONTENT_DELAYIFSLOW, 0, ft_fieldempty, "###"},
        {true, fSlow, 2, CONTENT_DELAYIFSLOW, 1, ft_fieldempty, "###"},
        {true, fSlow, 2, CONTENT_DELAYIFSLOW, 2, ft_delayed, std::string("\0\0#", 3)},
        {false, fSlow, 2, CONTENT_DELAYIFSLOW, 0, ft_fieldempty, "##"},
        {false, fSlow, 2, CONTENT_DELAYIFSLOW, 1, ft_delayed, std::string("\0#", 2)},
    };
    const std::string ansi = platform::WideToAnsi(file);
    for (const auto& c : cases) {
        SetVersion(c.version);
        std::array<char, 8> buffer;
        buffer.fill('#');
        const int result = c.wide ? ContentGetValueW(file.c_str(), c.field, 0, buffer.data(), c.maxLen, c.flags)
                                  : ContentGetValue(ansi.c_str(), c.field, 0, buffer.data(), c.maxLen, c.flags);
        EXPECT_EQ(result, c.result) << c.field << " / " << c.maxLen << (c.wide ? " W" : "");
        EXPECT_EQ(std::string(buffer.data(), c.written.size()), c.written) << c.field << " / " << c.maxLen;
    }
}

// Fails the start of a full text: the first analysis of a file named "...-fails-to-analyse"
// (a later one succeeds), or reading a value of a file whose content starts with '!'.
class ThrowingField final : public TkestWDXStringAField {
public:
    using TkestWDXStringAField::TkestWDXStringAField;
    std::u16string GetName() const override { return u"Throwing"; }
    bool ReadValue(const TkestWDXRequest&, TkestWDXData& AInfo, std::string&) override {
        if (Record(AInfo).Content.starts_with('!')) throw std::bad_alloc();
        return false;
    }
};

class FailingRoot final : public TestRoot {
public:
    FailingRoot() { AddField<ThrowingField>(); }
    std::unique_ptr<TkestWDXData> AnalyseFile(const std::u16string& AFileName) override {
        if (AFileName.ends_with(u"-fails-to-analyse") && !AnalysisFailed.exchange(true)) throw std::bad_alloc();
        return TestRoot::AnalyseFile(AFileName);
    }
    std::atomic<bool> AnalysisFailed{false};
};

TEST(ExportsFullTextTest, FailedStartLeavesNothingOfTheFileBefore) {
    InstallRoot(std::make_unique<FailingRoot>());
    const int fullText = GlobalRoot()->FieldCount() - 1;
    const TempDir dir;
    const auto before = dir.Write("before", Bytes(40, 'a'));
    for (const auto& failing : {dir.Write("value-fails", {'!', 'b', 'c'}), dir.Write("x-fails-to-analyse", {'d'})}) {
        std::array<char, 8> buffer{};
        ASSERT_EQ(ContentGetValueW(before.c_str(), fullText, 0, buffer.data(), 8, 0), ft_fulltext);
        EXPECT_EQ(std::string(buffer.data()), "aaaaaaa");
        EXPECT_EQ(ContentGetValueW(failing.c_str(), fullText, 0, buffer.data(), 8, 0), ft_fileerror);
        buffer.fill('#');
        EXPECT_EQ(ContentGetValueW(failing.c_str(), fullText, 7, buffer.data(), 8, 0), ft_fieldempty);
        EXPECT_EQ(buffer[0], '#');
    }
    RemoveRoot();
}

// An error that escapes the dispatch becomes -2, never an exception in the host.
class ThrowingRoot final : public TkestWDXRoot {
public:
    ThrowingRoot() { AddField<ContentField>(); }
    std::string GetDetectString(int) override { throw std::runtime_error("detect"); }
    std::unique_ptr<TkestWDXData> AnalyseFile(const std::u16string&) override { throw std::bad_alloc(); }
};

TEST(ExportsErrorTest, EscapingErrorsBecomeFixedAnswers) {
    InstallRoot(std::make_unique<ThrowingRoot>());
    std::array<char, 16> buffer;
    buffer.fill('#');
    ContentGetDetectString(buffer.data(), 16);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[15], '\0');
    EXPECT_EQ(ContentGetValueW(u"any", 0, 0, buffer.data(), 16, 0), ft_fileerror);
    EXPECT_EQ(ContentGetValue("any", 0, 0, buffer.data(), 16, 0), ft_fileerror);
    RemoveRoot();
}

}  // namespace

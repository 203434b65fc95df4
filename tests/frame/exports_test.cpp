// The five entry points, called as a host calls them, over the test root.
#include "frame/wdx.h"
#include "support/temp_files.h"
#include "test_root.h"

#include <gtest/gtest.h>

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

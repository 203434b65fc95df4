// On Linux, names that differ only in letter case are different files and cache entries.
#include "support/temp_files.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <array>

TEST(FileNameTest, CaseMattersOnLinux) {
    TempDir dir;
    const auto lower = dir.Write("photo.jpg", {'l'});
    const auto upper = dir.Write("PHOTO.JPG", {'U'});
    auto root = MakeTestRoot();
    std::array<char, 8> buffer{};
    EXPECT_EQ(root->GetFieldValue(lower, fContent, 0, buffer.data(), 8, 0, true), ft_string);
    EXPECT_EQ(std::string(buffer.data()), "l");
    EXPECT_EQ(root->GetFieldValue(upper, fContent, 0, buffer.data(), 8, 0, true), ft_string);
    EXPECT_EQ(std::string(buffer.data()), "U");
    EXPECT_EQ(root->Analyses, 2);
}

WDX_EXPORT int WDX_CALL ContentGetValueW(const WdxChar* AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                         int AMaxLen, int AFlags);

// A UTF-16 name names the file whose bytes turn back into exactly that name: bytes that are
// not UTF-8 travel as U+DC80..U+DCFF and come back; any other lone surrogate, or escapes
// that spell a UTF-8 character, have no such file.
TEST(FileNameTest, NameWithoutAnExactNativeFormNamesNoFile) {
    TempDir dir;
    dir.Write("a?.icc", {'q'});
    dir.Write("caf\xC3\xA9", {'u'});  // café in UTF-8
    WriteFile(dir / "caf\xE9", {'l'});  // café in Latin-1, a name that is not UTF-8
    const std::u16string folder = WideName(dir.Path()) + u"/";
    struct Case {
        std::u16string name;
        int result;
        std::string content;
    } cases[] = {
        {u"a?.icc", ft_string, "q"},
        {u"a\xD800.icc", ft_fieldempty, ""},
        {u"a\xDBFF.icc", ft_fieldempty, ""},
        {u"a\xDC00.icc", ft_fieldempty, ""},  // a low surrogate below the escapes
        {u"a\xDFFF.icc", ft_fieldempty, ""},
        {u"caf\u00e9", ft_string, "u"},
        {u"caf\xDCE9", ft_string, "l"},                // the escaped Latin-1 byte
        {u"caf\xDCC3\xDCA9", ft_fieldempty, ""},       // escapes of the UTF-8 bytes of é
    };
    InstallRoot(std::make_unique<TestRoot>());
    for (const auto& c : cases) {
        const std::u16string name = folder + c.name;
        std::array<char, 8> buffer{};
        EXPECT_EQ(ContentGetValueW(name.c_str(), fContent, 0, buffer.data(), 8, 0), c.result) << c.content;
        EXPECT_EQ(std::string(buffer.data()), c.content);
    }
    RemoveRoot();
}

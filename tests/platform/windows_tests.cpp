// Windows: names compare ignoring case, 8-bit text is the ANSI code page, and a file that
// someone holds open for writing cannot be opened.
#include "platform/platform.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <string_view>
#include <utility>

#include <windows.h>

namespace {

TEST(SameFileName, LetterCaseIsIgnoredOnWindows) {
    EXPECT_TRUE(platform::SameFileName(u"C:\\Photos\\IMG_0001.JPG", u"c:\\photos\\img_0001.jpg"));
    EXPECT_TRUE(platform::SameFileName(u"\u00c4pfel-\u00c9t\u00e9.jpg", u"\u00e4PFEL-\u00e9T\u00c9.JPG"));
    EXPECT_FALSE(platform::SameFileName(u"C:\\Photos\\a.jpg", u"C:\\Photos\\b.jpg"));
    EXPECT_FALSE(platform::SameFileName(u"a.jpg", u"a.jpg.bak"));
}

TEST(SameFileName, NothingButCaseIsFolded) {
    // Each pair can be two files side by side in one folder.
    const std::pair<std::u16string_view, std::u16string_view> different[] = {
        {u"Strasse.jpg", u"Stra\u00dfe.jpg"},
        {u"Caesar.jpg", u"C\u00e6sar.jpg"},
        {u"\u00e9t\u00e9.jpg", u"e\u0301te\u0301.jpg"},  // precomposed and decomposed
        {u"ab.jpg", u"a\u00adb.jpg"},                       // soft hyphen
        {std::u16string_view(u"a.jpg"), std::u16string_view(u"a\0.jpg", 6)},
    };
    for (const auto& [a, b] : different) {
        EXPECT_FALSE(platform::SameFileName(a, b)) << platform::WideToAnsi(b);
    }
}

TEST(Text, AnsiCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for code page 1252, this system uses " << GetACP();
    EXPECT_EQ(platform::WideToAnsi(u"\u00e9\u00c4\u20ac"), "\xE9\xC4\x80");
    EXPECT_EQ(platform::AnsiToWide("\xE9\xC4\x80"), u"\u00e9\u00c4\u20ac");
    EXPECT_EQ(platform::WideToAnsi(u"a\u65e5b"), "a?b");  // not in the code page
}

TEST(FileText, TheAnsiCodePage) {
    // Texts read from files are the code page's text, as every other 8-bit text here.
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
    EXPECT_EQ(platform::FileTextToWide(all), platform::AnsiToWide(all));
    EXPECT_EQ(platform::FileTextToAnsi(all), all);
    if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for code page 1252, this system uses " << GetACP();
    EXPECT_EQ(platform::FileTextToWide("\xA9 M\xFCller \x80\x81"), u"\u00a9 M\u00fcller \u20ac\u0081");
}

class HeldFile {
public:
    HeldFile(const std::u16string& name, DWORD access, DWORD sharing)
        : handle_(CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), access, sharing, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldFile() {
        if (Held()) CloseHandle(handle_);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

TEST(File, HeldOpenForWritingCannotBeOpened) {
    const TempDir dir;
    const std::u16string name = dir.Write("busy.jpg", {1, 2, 3, 4});
    const std::uint64_t time = platform::FileWriteTime(name);
    ASSERT_NE(time, 0u);
    {
        const HeldFile writer(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(writer.Held());
        EXPECT_EQ(platform::File::OpenRead(name), nullptr);
        EXPECT_EQ(platform::FileWriteTime(name), time);  // metadata needs no open handle
    }
    EXPECT_NE(platform::File::OpenRead(name), nullptr);
}

TEST(File, OthersMayReadMeanwhile) {
    const TempDir dir;
    const std::u16string name = dir.Write("shared.jpg", {1, 2, 3, 4});
    const HeldFile reader(name, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(reader.Held());
    auto file = platform::File::OpenRead(name);
    ASSERT_NE(file, nullptr);
    // And while it is open, nobody gets write access.
    const HeldFile writer(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_FALSE(writer.Held());
}

}  // namespace

// On Windows, names that differ only in letter case name one file and one cache entry.
#include "support/temp_files.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <array>

TEST(FileNameTest, CaseIsIgnoredOnWindows) {
    TempDir dir;
    const auto name = dir.Write("photo.jpg", {'p'});
    const std::u16string upper = WideName(dir.Path()) + u"\\PHOTO.JPG";
    auto root = MakeTestRoot();
    std::array<char, 8> buffer{};
    EXPECT_EQ(root->GetFieldValue(name, fContent, 0, buffer.data(), 8, 0, true), ft_string);
    EXPECT_EQ(root->GetFieldValue(upper, fContent, 0, buffer.data(), 8, 0, true), ft_string);
    EXPECT_EQ(std::string(buffer.data()), "p");
    EXPECT_EQ(root->Analyses, 1);
}

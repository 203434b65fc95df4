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

#include "platform/platform.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, AsciiKeepsItsValuesBothWays) {
    std::string ansi;
    std::u16string wide;
    for (int c = 0; c < 128; ++c) {  // NUL included: lengths are explicit
        ansi.push_back(static_cast<char>(c));
        wide.push_back(static_cast<char16_t>(c));
    }
    EXPECT_EQ(platform::WideToAnsi(wide), ansi);
    EXPECT_EQ(platform::AnsiToWide(ansi), wide);
    EXPECT_EQ(platform::WideToAnsi(u"C:\\Photos\\IMG_0001.JPG"), "C:\\Photos\\IMG_0001.JPG");
}

TEST(Text, EmptyStaysEmpty) {
    EXPECT_EQ(platform::WideToAnsi(u""), "");
    EXPECT_EQ(platform::AnsiToWide(""), u"");
}

TEST(SameFileName, EqualAndDifferentNames) {
    EXPECT_TRUE(platform::SameFileName(u"C:\\a\\photo.jpg", u"C:\\a\\photo.jpg"));
    EXPECT_TRUE(platform::SameFileName(u"", u""));
    EXPECT_FALSE(platform::SameFileName(u"photo.jpg", u"photo.jpeg"));
    EXPECT_FALSE(platform::SameFileName(u"photo.jpg", u"photo.jpg "));
    EXPECT_FALSE(platform::SameFileName(u"photo1.jpg", u"photo2.jpg"));
}

}  // namespace

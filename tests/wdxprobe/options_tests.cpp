#include "options.h"
#include "probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wdxprobe {
namespace {

ParsedOptions Parse(std::vector<std::string> args) { return ParseOptions(args); }

TEST(Options, Defaults) {
    const ParsedOptions parsed = Parse({"plugin.wdx", "a.jpg", "b.icc"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.plugin, "plugin.wdx");
    EXPECT_EQ(parsed.options.files, (std::vector<std::string>{"a.jpg", "b.icc"}));
    EXPECT_EQ(parsed.options.maxlen, 2049);
    EXPECT_EQ(parsed.options.version_high, 2u);
    EXPECT_EQ(parsed.options.version_low, 0u);
    EXPECT_FALSE(parsed.options.fulltext);
}

TEST(Options, ValuesInBothSpellings) {
    const ParsedOptions parsed =
        Parse({"--interface", "1.50", "--maxlen=100", "p", "--fields", "Exif,,3", "--fulltext=64", "--", "--x"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.version_high, 1u);
    EXPECT_EQ(parsed.options.version_low, 50u);
    EXPECT_EQ(parsed.options.maxlen, 100);
    EXPECT_EQ(parsed.options.chunk, 64);
    EXPECT_EQ(parsed.options.fields, (std::vector<std::string>{"Exif", "3"}));
    EXPECT_EQ(parsed.options.files, std::vector<std::string>{"--x"});
    EXPECT_EQ(Parse({"--v1", "p"}).options.version_low, 50u);
}

TEST(Options, WrongUsage) {
    EXPECT_NE(Parse({}).error, "");
    EXPECT_NE(Parse({"--maxlen", "-1", "p"}).error, "");
    EXPECT_NE(Parse({"--maxlen"}).error, "");
    EXPECT_NE(Parse({"--interface=2.x", "p"}).error, "");
    EXPECT_NE(Parse({"--fulltext=1", "p"}).error, "");
    EXPECT_NE(Parse({"--show-chunks", "p"}).error, "");
    EXPECT_NE(Parse({"--json=yes", "p"}).error, "");
    EXPECT_NE(Parse({"--bogus", "p"}).error, "");
    EXPECT_TRUE(Parse({"p", "--help"}).help);
}

TEST(Options, FieldsByNameThenIndex) {
    const std::vector<FieldInfo> fields = {{0, "Exif", 8, {}}, {1, "2", 1, {}}, {2, "Width", 1, {}}};
    std::string error;
    EXPECT_EQ(SelectFields(fields, {"width", "Exif", "0", "2"}, error), (std::vector<int>{2, 0, 0, 1}));
    EXPECT_EQ(error, "");
    EXPECT_TRUE(SelectFields(fields, {"Height"}, error).empty());
    EXPECT_NE(error.find("'Height'"), std::string::npos);
    EXPECT_TRUE(SelectFields(fields, {"3"}, error).empty());
    EXPECT_EQ(SelectFields(fields, {}, error), (std::vector<int>{0, 1, 2}));
}

}  // namespace
}  // namespace wdxprobe

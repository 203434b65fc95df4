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

TEST(Options, Collections) {
    const ParsedOptions parsed = Parse({"-r", "-j", "3", "--format", "csv", "--where", "Integrity!=OK", "--where=Quality<50",
                                        "--no-progress", "p", "photos"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.options.recursive);
    EXPECT_EQ(parsed.options.jobs, 3);
    EXPECT_EQ(parsed.options.format, Format::Csv);
    EXPECT_EQ(parsed.options.where, (std::vector<std::string>{"Integrity!=OK", "Quality<50"}));
    EXPECT_EQ(parsed.options.progress, Progress::Off);
    EXPECT_EQ(parsed.options.files, std::vector<std::string>{"photos"});
    EXPECT_EQ(Parse({"-j8", "p"}).options.jobs, 8);
    EXPECT_EQ(Parse({"--jobs=2", "--recursive", "--progress", "p"}).options.jobs, 2);
    EXPECT_EQ(Parse({"p"}).options.jobs, 0);  // one per core
    EXPECT_EQ(Parse({"--json", "p"}).options.format, Format::Json);
    EXPECT_EQ(Parse({"--format", "jsonl", "p"}).options.format, Format::JsonLines);
    EXPECT_EQ(Parse({"--", "-r"}).options.plugin, "-r");
}

TEST(Options, WrongCollectionUsage) {
    EXPECT_NE(Parse({"--jobs", "0", "p"}).error, "");
    EXPECT_NE(Parse({"-j", "257", "p"}).error, "");
    EXPECT_NE(Parse({"-jx", "p"}).error, "");
    EXPECT_NE(Parse({"p", "-j"}).error, "");
    EXPECT_NE(Parse({"--format", "xml", "p"}).error, "");
    EXPECT_NE(Parse({"--where", "Quality", "p"}).error, "");
    EXPECT_NE(Parse({"--fulltext", "--show-chunks", "--format", "csv", "p"}).error, "");
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

// The field table as hosts see it: names, order and types are the keys under which hosts
// store column sets and searches, so they never change.
#include "analysis/root.h"
#include "frame/wdx.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

struct FieldRow {
    const char* name;
    int type;
};

constexpr FieldRow Table[] = {
    {"Exif name", ft_string},
    {"APP segments", ft_string},
    {"APP segments (full)", ft_string},
    {"Component IDs", ft_string},
    {"Colorspace", ft_string},
    {"Encoding", ft_string},
    {"Restart interval", ft_numeric_32},
    {"QTabels MD5", ft_string},
    {"Thumbnails", ft_string},
    {"Quality", ft_numeric_32},
    {"Integrity", ft_stringw},
    {"Scans", ft_numeric_32},
    {"Trailer", ft_numeric_64},
    {"ICC CMM", ft_string},
    {"ICC version", ft_string},
    {"ICC class", ft_string},
    {"ICC colorspace", ft_string},
    {"ICC connection space", ft_string},
    {"ICC primary platform", ft_string},
    {"ICC manufacturer", ft_string},
    {"ICC manufacturer description", ft_stringw},
    {"ICC model", ft_string},
    {"ICC model description", ft_stringw},
    {"ICC creator", ft_string},
    {"ICC description", ft_stringw},
    {"ICC copyright", ft_stringw},
    {"ICC size", ft_numeric_32},
    {"ICC ID", ft_string},
    {"Debug", ft_boolean},
    {"Full text", ft_fulltext},
};

std::unique_ptr<TOrvaneRoot> MakeRoot(std::uint32_t version) {
    auto root = std::make_unique<TOrvaneRoot>();
    root->CreateDefaultFields();
    TkestWDXDefaultParams params{};
    params.VersionHigh = version;
    root->SetDefaultParams(params);
    return root;
}

TEST(FieldTableTest, NamesTypesAndOrder) {
    const auto root = MakeRoot(2);
    ASSERT_EQ(root->FieldCount(), 30);
    for (int index = 0; index < 30; ++index) {
        const TkestWDXField& field = root->GetField(index);
        EXPECT_EQ(platform::WideToAnsi(field.GetName()), Table[index].name) << index;
        EXPECT_EQ(field.GetReportedType(), Table[index].type) << index;
        EXPECT_EQ(field.GetUnitCount(), 0) << index;
    }
    // Hosts of interface version 1 get the UTF-16 fields as 8-bit strings.
    const auto old = MakeRoot(1);
    for (int index = 0; index < 30; ++index)
        EXPECT_EQ(old->GetField(index).GetReportedType(), Table[index].type == ft_stringw ? ft_string : Table[index].type)
            << index;
}

TEST(FieldTableTest, DetectStringOffersProfilesAndJpegs) {
    const auto root = MakeRoot(2);
    const std::string detect = root->GetDetectString(2047);
    EXPECT_EQ(detect.size(), 63u);
    EXPECT_EQ(detect.find('|'), 37u);
}

// A file that is neither: every field is empty, but the full text holds the one number that
// is always delivered (the embedded profile's size, 0).
TEST(FieldTableTest, UnrecognisedFileHasNoValues) {
    TempDir dir;
    const auto file = dir.Write("notes.txt", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
    const auto root = MakeRoot(2);
    std::array<char, 64> buffer{};
    for (int index = 0; index < 29; ++index)
        EXPECT_EQ(root->GetFieldValue(file, index, 0, buffer.data(), 64, 0, true), ft_fieldempty) << index;
    EXPECT_EQ(root->GetFieldValue(file, 29, 0, buffer.data(), 64, 0, true), ft_fulltext);
    EXPECT_EQ(std::string(buffer.data()), "0");
}

}  // namespace

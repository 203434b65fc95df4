#include "walk.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wdxprobe {
namespace {

// "name" for a file, "name: error" for a target with an error; names below `root`.
std::vector<std::string> Walk(const std::filesystem::path& root, std::vector<std::string> arguments, bool recursive) {
    Walker walker(std::move(arguments), recursive);
    std::vector<std::string> seen;
    while (auto target = walker.Next()) {
        std::string name = target->path.lexically_relative(root).generic_string();
        if (!target->error.empty()) name += ": " + target->error;
        if (target->named) name += " (named)";
        seen.push_back(name);
    }
    return seen;
}

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TEST(Walk, FoldersInByteOrderDepthFirst) {
    TempDir dir;
    for (const char* name : {"b/z.jpg", "b/a/x.jpg", "a-c.jpg", "a/y.jpg", "B.jpg", "c.jpg"}) {
        std::filesystem::create_directories((dir / name).parent_path());
        WriteFile(dir / name, {1});
    }
    std::filesystem::create_directories(dir / "empty");
    EXPECT_EQ(Walk(dir.Path(), {Utf8(dir.Path()), Utf8(dir / "c.jpg")}, true),
              (std::vector<std::string>{"B.jpg", "a/y.jpg", "a-c.jpg", "b/a/x.jpg", "b/z.jpg", "c.jpg", "c.jpg (named)"}));
    // Without -r every argument is a target, folders too (the probe reports them).
    EXPECT_EQ(Walk(dir.Path(), {Utf8(dir / "a"), Utf8(dir / "missing.jpg")}, false),
              (std::vector<std::string>{"a (named)", "missing.jpg (named)"}));
}

TEST(Walk, LinksToFilesFollowedToFoldersNot) {
    TempDir dir;
    std::filesystem::create_directories(dir / "photos");
    WriteFile(dir / "photos" / "a.jpg", {1});
    std::error_code ec;
    std::filesystem::create_symlink("a.jpg", dir / "photos" / "b.jpg", ec);
    if (ec) GTEST_SKIP() << "skipped: no symbolic links here (" << ec.message() << ")";
    std::filesystem::create_symlink("nowhere.jpg", dir / "photos" / "c.jpg");
    std::filesystem::create_directory_symlink("..", dir / "photos" / "up");
    EXPECT_EQ(Walk(dir.Path(), {Utf8(dir / "photos")}, true),
              (std::vector<std::string>{"photos/a.jpg", "photos/b.jpg", "photos/c.jpg: broken link to nowhere.jpg"}));
    // A folder argument that is a link is walked.
    EXPECT_EQ(Walk(dir.Path(), {Utf8(dir / "photos" / "up" / "photos")}, true).front(), "photos/up/photos/a.jpg");
}

}  // namespace
}  // namespace wdxprobe

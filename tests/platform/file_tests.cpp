#include "platform/platform.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace {

Bytes Counting(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

TEST(File, ReadsSeeksAndStopsAtTheEnd) {
    const TempDir dir;
    const Bytes content = Counting(1000);
    auto file = platform::File::OpenRead(dir.Write("data.bin", content));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Size(), 1000u);
    EXPECT_EQ(file->Position(), 0u);

    Bytes buffer(300);
    ASSERT_EQ(file->Read(buffer), 300u);
    EXPECT_EQ(buffer, Bytes(content.begin(), content.begin() + 300));
    EXPECT_EQ(file->Position(), 300u);

    file->Seek(900);  // across the end: only what is there
    ASSERT_EQ(file->Read(buffer), 100u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 100), Bytes(content.begin() + 900, content.end()));
    EXPECT_EQ(file->Position(), 1000u);
    EXPECT_EQ(file->Read(buffer), 0u);

    file->Seek(5000);  // past the end: allowed, reads nothing
    EXPECT_EQ(file->Position(), 5000u);
    EXPECT_EQ(file->Read(buffer), 0u);
    EXPECT_EQ(file->Position(), 5000u);

    file->Seek(10);  // back again after reading at the end
    ASSERT_EQ(file->Read(std::span(buffer).first(5)), 5u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), Bytes(content.begin() + 10, content.begin() + 15));
    EXPECT_EQ(file->Position(), 15u);
}

TEST(File, EmptyFile) {
    const TempDir dir;
    auto file = platform::File::OpenRead(dir.Write("empty", {}));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Size(), 0u);
    Bytes buffer(16);
    EXPECT_EQ(file->Read(buffer), 0u);
}

TEST(File, NonAsciiName) {
    const TempDir dir;
    const auto path = dir.Path() / std::filesystem::path(u8"Fotos-\u00e9\u65e5\u672c-\U0001F600.jpg");
    WriteFile(path, Counting(10));
    auto file = platform::File::OpenRead(WideName(path));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Size(), 10u);
}

TEST(File, WhatCannotBeOpened) {
    const TempDir dir;
    const std::u16string existing = dir.Write("here.jpg", Counting(4));
    const std::u16string cases[] = {
        WideName(dir / "missing.jpg"),
        WideName(dir.Path()),
        u"",
        existing + u'\0' + u"tail",  // a NUL inside would cut the name short
    };
    for (const auto& name : cases) {
        EXPECT_EQ(platform::File::OpenRead(name), nullptr) << std::filesystem::path(name).string();
    }
}

TEST(FileWriteTime, FollowsTheLastWriteInHundredsOfNanoseconds) {
    const TempDir dir;
    const auto path = dir / "photo.jpg";
    WriteFile(path, Counting(4));
    const std::u16string name = WideName(path);

    // 2020-01-01 00:00:00 UTC as a file time: seconds since 1601 in units of 100 ns.
    using namespace std::chrono;
    const sys_seconds newYear = sys_days{year{2020} / January / 1};
    const auto when = file_clock::from_sys(newYear);
    std::filesystem::last_write_time(path, when);
    EXPECT_EQ(platform::FileWriteTime(name), 132'223'104'000'000'000u);

    WriteFile(path, Counting(8));
    std::filesystem::last_write_time(path, when + hours{1});
    EXPECT_EQ(platform::FileWriteTime(name), 132'223'104'000'000'000u + 36'000'000'000u);
}

TEST(FileWriteTime, ZeroWhenUnreadable) {
    const TempDir dir;
    EXPECT_EQ(platform::FileWriteTime(WideName(dir / "missing.jpg")), 0u);
    EXPECT_EQ(platform::FileWriteTime(u""), 0u);
}

}  // namespace

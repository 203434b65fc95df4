// Linux: names are exact byte strings, text is UTF-8, and every byte string a file name can
// hold survives the trip through UTF-16.
#include "platform/platform.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

#include <sys/stat.h>

namespace {

TEST(SameFileName, LetterCaseMattersOnLinux) {
    EXPECT_FALSE(platform::SameFileName(u"/photos/IMG.JPG", u"/photos/img.jpg"));
    EXPECT_FALSE(platform::SameFileName(u"\u00c4pfel.jpg", u"\u00e4pfel.jpg"));
    EXPECT_TRUE(platform::SameFileName(u"/photos/\u00c4pfel.jpg", u"/photos/\u00c4pfel.jpg"));
}

struct Utf8Case {
    std::u16string wide;
    std::string bytes;
};

TEST(Utf8, WellFormedBothWays) {
    const Utf8Case cases[] = {
        {u"\u00e9", "\xC3\xA9"},
        {u"\u07ff", "\xDF\xBF"},
        {u"\u0800", "\xE0\xA0\x80"},
        {u"\u20ac", "\xE2\x82\xAC"},
        {u"\ud7ff", "\xED\x9F\xBF"},
        {u"\ue000", "\xEE\x80\x80"},
        {u"\uffff", "\xEF\xBF\xBF"},
        {u"\U00010000", "\xF0\x90\x80\x80"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {u"Caf\u00e9 \u65e5\u672c \U0001F600.jpg", "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80.jpg"},
    };
    for (const auto& [wide, bytes] : cases) {
        EXPECT_EQ(platform::WideToAnsi(wide), bytes);
        EXPECT_EQ(platform::AnsiToWide(bytes), wide) << bytes;
    }
}

TEST(Utf8, InvalidBytesBecomeEscapesAndComeBack) {
    const Utf8Case cases[] = {
        {u"\xdcff", "\xFF"},
        {u"\xdc80", "\x80"},                                 // continuation without lead
        {u"\xdcc3", "\xC3"},                                 // lead at the end
        {u"\xdcc3(", "\xC3("},                               // lead before a non-continuation
        {u"\xdcc0\xdc80", "\xC0\x80"},                       // overlong NUL
        {u"\xdce0\xdc80\xdc80", "\xE0\x80\x80"},             // overlong three-byte form
        {u"\xdced\xdca0\xdc80", "\xED\xA0\x80"},             // encoded surrogate D800
        {u"\xdcf4\xdc90\xdc80\xdc80", "\xF4\x90\x80\x80"},   // above U+10FFFF
        {u"\xdcf0\xdc9f\xdc98", "\xF0\x9F\x98"},             // four-byte form cut short
        {u"a\xdcff\u00e9\xdcfe", "a\xFF\xC3\xA9\xFE"},
    };
    for (const auto& [wide, bytes] : cases) {
        EXPECT_EQ(platform::AnsiToWide(bytes), wide) << bytes;
        EXPECT_EQ(platform::WideToAnsi(wide), bytes);
    }
}

TEST(Utf8, LoneSurrogatesOutsideTheEscapesBecomeQuestionMarks) {
    const Utf8Case cases[] = {
        {u"\xd800", "?"},
        {u"a\xdbff", "a?"},       // high surrogate at the end
        {u"\xd83dx", "?x"},       // high surrogate before a non-surrogate
        {u"\xdc7f", "?"},         // low surrogates just outside the escapes
        {u"\xdd00", "?"},
        {u"\xdfff\xd800", "??"},  // a pair in the wrong order
    };
    for (const auto& [wide, bytes] : cases) EXPECT_EQ(platform::WideToAnsi(wide), bytes);
}

TEST(Utf8, EveryCodePointRoundTrips) {
    for (char32_t code = 0; code <= 0x10FFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) continue;
        std::u16string wide;
        if (code < 0x10000) {
            wide.push_back(static_cast<char16_t>(code));
        } else {
            wide.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        }
        const std::string bytes = platform::WideToAnsi(wide);
        ASSERT_EQ(platform::AnsiToWide(bytes), wide) << "U+" << std::hex << static_cast<std::uint32_t>(code);
    }
}

TEST(Utf8, EveryByteStringRoundTrips) {
    // All strings of two bytes, then random strings built from the bytes that matter to the
    // decoder: ASCII, continuations, every kind of lead byte and the never-valid ones.
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            const std::string bytes{static_cast<char>(first), static_cast<char>(second)};
            ASSERT_EQ(platform::WideToAnsi(platform::AnsiToWide(bytes)), bytes) << first << ' ' << second;
        }
    }
    const unsigned char alphabet[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1,
                                      0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3,
                                      0xF4, 0xF5, 0xFF};
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 1);
    std::uniform_int_distribution<std::size_t> length(1, 9);
    for (int i = 0; i < 200000; ++i) {
        std::string bytes(length(random), '\0');
        for (auto& byte : bytes) byte = static_cast<char>(alphabet[pick(random)]);
        ASSERT_EQ(platform::WideToAnsi(platform::AnsiToWide(bytes)), bytes);
    }
}

TEST(File, NameThatIsNotUtf8) {
    // Linux names are bytes; a name made on a Latin-1 system must still be found.
    const TempDir dir;
    const std::string raw = dir.Path().native() + "/caf\xE9.jpg";
    WriteFile(std::filesystem::path(raw), {1, 2, 3});
    const std::u16string name = platform::AnsiToWide(raw);
    ASSERT_NE(name.find(u'\xdce9'), std::u16string::npos);
    auto file = platform::File::OpenRead(name);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Size(), 3u);
    EXPECT_NE(platform::FileWriteTime(name), 0u);
}

TEST(File, NameWithALoneSurrogateNamesNoFile) {
    // Writing the surrogate as '?' would name another file.
    const TempDir dir;
    WriteFile(dir / "a?.icc", {1});
    const std::u16string name = WideName(dir.Path()) + u"/a\xD800.icc";
    EXPECT_EQ(platform::File::OpenRead(name), nullptr);
    EXPECT_EQ(platform::FileWriteTime(name), 0u);
}

struct FileTextCase {
    std::string bytes;
    std::u16string wide;
};

TEST(FileText, Utf8OrElseWindows1252) {
    // Texts in files written on Windows: what is not UTF-8 is read as Windows-1252, with
    // the five bytes it leaves undefined taken as the C1 controls of the same value.
    const FileTextCase cases[] = {
        {"\xA9 2003 M\xFCller", u"\u00a9 2003 M\u00fcller"},
        {"\xC2\xA9 2003 M\xC3\xBCller", u"\u00a9 2003 M\u00fcller"},  // already UTF-8
        {"\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E",
         u"\u20ac\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152\u017d"},
        {"\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9E\x9F",
         u"\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a\u0153\u017e\u0178"},
        {"\x81\x8D\x8F\x90\x9D", u"\u0081\u008d\u008f\u0090\u009d"},
        {"\xA0\xBF\xC0\xFF", u"\u00a0\u00bf\u00c0\u00ff"},
        {"\xC3(", u"\u00c3("},                         // a lead byte without its continuation
        {"\xE2\x82\xAC\xE2\x82", u"\u20ac\u00e2\u201a"},  // a whole sequence, then a cut one
        {"\xED\xA0\x80", u"\u00ed\u00a0\u20ac"},       // an encoded surrogate is not UTF-8
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
    };
    for (const auto& [bytes, wide] : cases) {
        EXPECT_EQ(platform::FileTextToWide(bytes), wide) << bytes;
        EXPECT_EQ(platform::FileTextToAnsi(bytes), platform::WideToAnsi(wide)) << bytes;
    }
}

TEST(FileText, EveryByteGivesValidUtf8) {
    for (int byte = 0; byte < 256; ++byte) {
        const std::string text{'a', static_cast<char>(byte), 'b'};
        const std::u16string wide = platform::FileTextToWide(text);
        ASSERT_EQ(wide.size(), 3u) << byte;
        EXPECT_FALSE(wide[1] >= 0xD800 && wide[1] <= 0xDFFF) << byte;
        // Valid UTF-8: it comes back from UTF-16 unchanged, with no escaped byte.
        const std::string ansi = platform::FileTextToAnsi(text);
        EXPECT_EQ(platform::AnsiToWide(ansi), wide) << byte;
    }
}

TEST(File, FifoIsRefusedWithoutBlocking) {
    // Opening a FIFO for reading would wait for a writer forever.
    const TempDir dir;
    const auto path = dir / "pipe.jpg";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(platform::File::OpenRead(WideName(path)), nullptr);
}

TEST(FileWriteTime, KeepsSubsecondDigits) {
    const TempDir dir;
    const auto path = dir / "photo.jpg";
    WriteFile(path, {1});
    using namespace std::chrono;
    const sys_seconds newYear = sys_days{year{2020} / January / 1};
    std::filesystem::last_write_time(path, file_clock::from_sys(newYear) + nanoseconds{123'456'789});
    EXPECT_EQ(platform::FileWriteTime(WideName(path)), 132'223'104'000'000'000u + 1'234'567u);
}

}  // namespace

// Buffer rules, typed fields, the wide-string downgrade and the full-text delivery.
#include "frame/buffer.h"
#include "frame/field.h"
#include "support/temp_files.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <thread>

namespace {

struct CopyCase {
    std::string_view text;
    int maxLen;
    std::string expected;  // buffer after the copy, '#' = untouched
};

TEST(BufferTest, AnsiCopyCutsAndTerminates) {
    const CopyCase cases[] = {
        {"Exif name", 5, std::string("Exif\0####", 9)},
        {"abc", 10, std::string("abc\0######", 10)},
        {"abc", 4, std::string("abc\0######", 10)},
        {"abc", 1, std::string("\0#########", 10)},
        {"abc", 0, "##########"},
        {"abc", -5, "##########"},
    };
    for (const auto& c : cases) {
        std::string buffer(10, '#');
        CopyAnsiToBuffer(c.text, buffer.data(), c.maxLen);
        EXPECT_EQ(buffer.substr(0, c.expected.size()), c.expected) << c.text << " / " << c.maxLen;
    }
}

std::u16string WideCopy(std::u16string_view text, int maxLen) {
    std::array<char16_t, 16> buffer;
    buffer.fill(u'#');
    CopyWideToBuffer(text, buffer.data(), maxLen);
    return std::u16string(buffer.data(), buffer.size());
}

// The longest start of the 8-bit form of `text` within `room` bytes that is itself the 8-bit
// form of a start of `text`: it ends on a whole character, whether the 8-bit text is UTF-8
// (where half a surrogate pair has no form of its own) or a code page (where it may be "?").
std::string WholeCharactersFitting(std::u16string_view text, std::size_t room) {
    const std::string whole = platform::WideToAnsi(text);
    std::string fitting;
    for (std::size_t end = 1; end <= text.size(); ++end) {
        const std::string prefix = platform::WideToAnsi(text.substr(0, end));
        if (prefix.size() > room) break;
        if (whole.starts_with(prefix)) fitting = prefix;
    }
    return fitting;
}

TEST(BufferTest, AnsiCopyEndsOnAWholeCharacter) {
    // In UTF-8 (Linux) these take 2 to 4 bytes a character; a copy that runs out of room
    // stops before the character instead of inside it.
    for (const std::u16string_view text : {u"\u4e2d\u6587\u5b57", u"a\u00e9\u00e9\u00e9", u"\U0001F600\U0001F601x",
                                            u"\u20acuro\u20ac"}) {
        const std::string ansi = platform::WideToAnsi(text);
        for (int maxLen = 1; maxLen <= static_cast<int>(ansi.size()) + 1; ++maxLen) {
            std::string buffer(16, '#');
            CopyAnsiToBuffer(ansi, buffer.data(), maxLen);
            const std::string expected = WholeCharactersFitting(text, static_cast<std::size_t>(maxLen) - 1);
            EXPECT_EQ(buffer.substr(0, expected.size() + 1), expected + '\0')
                << platform::WideToAnsi(text) << " / " << maxLen;
        }
    }
}

TEST(BufferTest, WideCopyCutsByWholeUnitsAndPairs) {
    EXPECT_EQ(WideCopy(u"abcdef", 7).substr(0, 4), std::u16string(u"ab\0#", 4));  // 7 div 2 - 1 = 2 units
    EXPECT_EQ(WideCopy(u"abc", 100).substr(0, 5), std::u16string(u"abc\0#", 5));
    EXPECT_EQ(WideCopy(u"abc", 1).substr(0, 1), u"#");
    EXPECT_EQ(WideCopy(u"abc", 2).substr(0, 2), std::u16string(u"\0#", 2));
    // U+1F600 is D83D DE00: cutting after the high half drops it instead.
    EXPECT_EQ(WideCopy(u"a\U0001F600b", 6).substr(0, 3), std::u16string(u"a\0#", 3));
    EXPECT_EQ(WideCopy(u"a\U0001F600b", 8).substr(0, 4), std::u16string(u"a\U0001F600\0", 4));
}

class FieldTest : public ::testing::Test {
protected:
    void SetVersion(std::uint32_t high) {
        TkestWDXDefaultParams params{};
        params.Size = sizeof params;
        params.VersionHigh = high;
        root->SetDefaultParams(params);
    }
    int Get(const std::u16string& file, int field, void* buffer, int maxLen, int flags = 0, int unit = 0) {
        return root->GetFieldValue(file, field, unit, buffer, maxLen, flags, true);
    }

    TempDir dir;
    std::unique_ptr<TestRoot> root = MakeTestRoot();
};

TEST_F(FieldTest, NumbersAndBooleansAreWrittenWhole) {
    const auto full = dir.Write("full", {'x', 'y'});
    const auto empty = dir.Write("empty", {});
    std::array<std::uint8_t, 8> buffer{};
    EXPECT_EQ(Get(full, fNonEmpty, buffer.data(), 8), ft_boolean);
    EXPECT_EQ(std::memcmp(buffer.data(), "\xFF\xFF\xFF\xFF", 4), 0);
    EXPECT_EQ(Get(empty, fNonEmpty, buffer.data(), 8), ft_boolean);
    EXPECT_EQ(std::memcmp(buffer.data(), "\0\0\0\0", 4), 0);

    std::int32_t length = 0;
    EXPECT_EQ(Get(full, fLength, &length, sizeof length), ft_numeric_32);
    EXPECT_EQ(length, 2);
    std::int64_t big = 0;
    EXPECT_EQ(Get(full, fBig, &big, sizeof big), ft_numeric_64);
    EXPECT_EQ(big, std::int64_t{2} << 33);
}

TEST_F(FieldTest, WideStringsAreDowngradedBelowInterfaceVersion2) {
    const auto file = dir.Write("text", {'a', 'b'});
    const TkestWDXField& wide = root->GetField(fWide);
    std::array<char, 32> buffer{};
    for (std::uint32_t version : {0u, 1u}) {
        if (version > 0) SetVersion(version);
        EXPECT_EQ(wide.GetReportedType(), ft_string);
        EXPECT_EQ(Get(file, fWide, buffer.data(), 32), ft_string);
        EXPECT_EQ(std::string(buffer.data()), platform::WideToAnsi(u"ab\u00e9"));
    }
    SetVersion(2);
    EXPECT_EQ(wide.GetReportedType(), ft_stringw);
    EXPECT_EQ(Get(file, fWide, buffer.data(), 32), ft_stringw);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer.data())), u"ab\u00e9");
    // The downgrade cuts the 8-bit text to the buffer too.
    SetVersion(1);
    EXPECT_EQ(Get(file, fWide, buffer.data(), 4), ft_string);
    EXPECT_EQ(std::string(buffer.data()), "a");
}

TEST_F(FieldTest, EightBitStringIsCutToTheBuffer) {
    const auto file = dir.Write("text", {'h', 'e', 'l', 'l', 'o'});
    std::array<char, 8> buffer;
    buffer.fill('#');
    EXPECT_EQ(Get(file, fContent, buffer.data(), 4), ft_string);
    EXPECT_EQ(std::string(buffer.data(), 5), std::string("hel\0#", 5));
}

TEST_F(FieldTest, ValueToTextCoversEveryCode) {
    const std::int32_t minus = -42;
    const std::int64_t big = std::int64_t{1} << 40;
    const std::int32_t truth = -1;
    const char ansi[] = "abc";
    const char16_t wide[] = u"d\u00e9f";
    EXPECT_EQ(ValueToText(ft_numeric_32, &minus, 4), u"-42");
    EXPECT_EQ(ValueToText(ft_numeric_64, &big, 8), u"1099511627776");
    EXPECT_EQ(ValueToText(ft_boolean, &truth, 4), u"True");
    EXPECT_EQ(ValueToText(ft_boolean, "\0\0\0\0", 4), u"False");
    EXPECT_EQ(ValueToText(ft_string, ansi, 4), u"abc");
    EXPECT_EQ(ValueToText(ft_stringw, wide, 8), u"d\u00e9f");
    EXPECT_EQ(ValueToText(ft_fieldempty, ansi, 4), u"");
}

// Fetches the whole full text the way Double Commander does: unit 0, then the offset reached.
std::vector<std::string> FullTextChunks(TkestWDXRoot& root, const std::u16string& file, int maxLen) {
    std::vector<std::string> chunks;
    std::vector<char> buffer(static_cast<std::size_t>(std::max(maxLen, 1)));
    int offset = 0;
    for (;;) {
        const int result = root.GetFieldValue(file, fFullText, offset, buffer.data(), maxLen, 0, false);
        if (result == ft_fieldempty) break;
        EXPECT_EQ(result, ft_fulltext);
        chunks.emplace_back(buffer.data());
        offset += static_cast<int>(chunks.back().size());
        if (chunks.size() > 1000) break;
    }
    return chunks;
}

TEST_F(FieldTest, FullTextJoinsEveryFieldAndComesInChunks) {
    const auto file = dir.Write("text", {'a', 'b'});
    SetVersion(2);
    const std::string wide = platform::WideToAnsi(u"ab\u00e9");
    const std::string expected = "ab 2 " + wide + " True 17179869184 slow:ab";
    const auto whole = FullTextChunks(*root, file, 200);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0], expected);

    // Small buffers: every character once and in order; numbers still fit the scratch buffer.
    for (int maxLen : {2, 3, 4, 7}) {
        std::string joined;
        for (const auto& chunk : FullTextChunks(*root, file, maxLen)) {
            EXPECT_LE(chunk.size(), static_cast<std::size_t>(maxLen - 1));
            joined += chunk;
        }
        // Each value enters the text whole; only the joined text is cut into chunks. A chunk
        // too small for the 8-bit form of the next character ends the text before it.
        if (static_cast<std::size_t>(maxLen - 1) >= platform::WideToAnsi(u"\u00e9").size())
            EXPECT_EQ(joined, expected) << maxLen;
        else
            EXPECT_EQ(joined, expected.substr(0, expected.find(platform::WideToAnsi(u"\u00e9")))) << maxLen;
    }
}

TEST_F(FieldTest, FullTextHoldsLongValuesWhole) {
    // Values longer than a chunk, 8-bit and UTF-16 (which the copy rules would cut at half
    // the buffer), end in a word that a host's text search must find.
    for (std::size_t length : {1500u, 3000u, 9000u}) {
        const std::string content = std::string(length - 7, 'x') + " needle";
        const auto file = dir.Write("long" + std::to_string(length), Bytes(content.begin(), content.end()));
        const std::string expected = content + " " + std::to_string(content.size()) + " " +
                                     platform::WideToAnsi(platform::AnsiToWide(content) + u"\u00e9") + " True " +
                                     std::to_string(static_cast<std::int64_t>(content.size()) << 33) + " slow:" +
                                     content;
        for (std::uint32_t version : {1u, 2u}) {
            SetVersion(version);
            for (int maxLen : {2049, 1000, 64}) {
                std::string joined;
                for (const auto& chunk : FullTextChunks(*root, file, maxLen)) joined += chunk;
                EXPECT_EQ(joined, expected) << length << " characters, version " << version << ", chunks of " << maxLen;
            }
        }
    }
}

TEST_F(FieldTest, FullTextDiscardAndEmptyFiles) {
    const auto missing = WideName(dir / "missing");
    std::array<char, 64> buffer{};
    // A file without values: only the numbers that are delivered regardless.
    EXPECT_EQ(root->GetFieldValue(missing, fFullText, 0, buffer.data(), 64, 0, false), ft_fieldempty);
    const auto file = dir.Write("text", {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'});
    EXPECT_EQ(root->GetFieldValue(file, fFullText, 0, buffer.data(), 5, 0, false), ft_fulltext);
    EXPECT_EQ(std::string(buffer.data()), "abcd");
    EXPECT_EQ(root->GetFieldValue(file, fFullText, -1, buffer.data(), 5, 0, false), ft_fieldempty);
    EXPECT_EQ(root->GetFieldValue(file, fFullText, 4, buffer.data(), 5, 0, false), ft_fieldempty);
}

TEST_F(FieldTest, FullTextOfTwoThreadsDoesNotMix) {
    const auto first = dir.Write("first", Bytes(300, 'a'));  // 300 bytes so that both texts take many chunks
    const auto second = dir.Write("second", Bytes(300, 'b'));
    std::string texts[2];
    std::thread threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = std::thread([&, i] {
            for (const auto& chunk : FullTextChunks(*root, i == 0 ? first : second, 16)) texts[i] += chunk;
        });
    for (auto& thread : threads) thread.join();
    for (int i = 0; i < 2; ++i) {
        const char other = i == 0 ? 'b' : 'a';
        EXPECT_EQ(texts[i].find(other), std::string::npos) << i;
        // Each value enters the text whole, longer than a chunk as it is.
        EXPECT_EQ(texts[i].substr(0, 305), std::string(300, i == 0 ? 'a' : 'b') + " 300 ");
    }
}

}  // namespace

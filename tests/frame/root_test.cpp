// The value dispatch: delayed answers, the per-file cache and its validity.
#include "support/temp_files.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <future>

namespace {

class RootTest : public ::testing::Test {
protected:
    std::string Content(const std::u16string& file, int flags = 0) {
        std::array<char, 64> buffer{};
        const int result = root->GetFieldValue(file, fContent, 0, buffer.data(), 64, flags, false);
        return result == ft_string ? std::string(buffer.data()) : "result " + std::to_string(result);
    }
    // Rewrites the file with a last-write time that surely differs from the old one.
    void Rewrite(const std::u16string& name, const Bytes& bytes, int secondsLater) {
        const std::filesystem::path path(name);
        const auto time = std::filesystem::last_write_time(path);
        WriteFile(path, bytes);
        std::filesystem::last_write_time(path, time + std::chrono::seconds(secondsLater));
    }

    TempDir dir;
    std::unique_ptr<TestRoot> root = MakeTestRoot();
};

TEST_F(RootTest, FieldIndexOutsideTheRegistryTouchesNoFile) {
    const auto file = dir.Write("a", {'a'});
    std::array<char, 8> buffer{};
    EXPECT_EQ(root->FieldCount(), 7);
    EXPECT_EQ(root->GetFieldValue(file, -1, 0, buffer.data(), 8, 0, true), ft_nosuchfield);
    EXPECT_EQ(root->GetFieldValue(file, 7, 0, buffer.data(), 8, 0, true), ft_nosuchfield);
    EXPECT_EQ(root->Analyses, 0);
}

TEST_F(RootTest, ManyFieldsOfOneFileCostOneAnalysis) {
    const auto file = dir.Write("a", {'a', 'b'});
    std::array<char, 64> buffer{};
    for (int field = 0; field < root->FieldCount(); ++field)
        root->GetFieldValue(file, field, 0, buffer.data(), 64, 0, true);
    EXPECT_EQ(root->Analyses, 1);
}

TEST_F(RootTest, ChangedFileIsAnalysedAgainAndTheOldRecordFreed) {
    const auto file = dir.Write("a", {'o', 'l', 'd'});
    EXPECT_EQ(Content(file), "old");
    const int live = LiveRecords;
    Rewrite(file, {'n', 'e', 'w'}, 10);
    EXPECT_EQ(Content(file), "new");
    EXPECT_EQ(root->Analyses, 2);
    EXPECT_EQ(LiveRecords, live);
}

TEST_F(RootTest, LeastRecentlyUsedEntryIsEvictedAfter100) {
    std::vector<std::u16string> files;
    for (int i = 0; i < 102; ++i) files.push_back(dir.Write("f" + std::to_string(i), {'x'}));
    for (int i = 0; i < 100; ++i) Content(files[i]);
    Content(files[1]);    // moves to the newest end
    Content(files[100]);  // the 101st: evicts files[0]
    EXPECT_EQ(root->Analyses, 101);
    Content(files[1]);
    EXPECT_EQ(root->Analyses, 101);
    Content(files[0]);  // gone: analysed again, evicting files[2]
    EXPECT_EQ(root->Analyses, 102);
    Content(files[2]);
    EXPECT_EQ(root->Analyses, 103);
    EXPECT_LE(LiveRecords, 100);
}

TEST_F(RootTest, DelayedAnswerLeavesTheCacheAlone) {
    const auto slow = dir.Write("slow", {'S', '1'});
    std::array<char16_t, 32> wide{};
    EXPECT_EQ(root->GetFieldValue(slow, fSlow, 0, wide.data(), 64, CONTENT_DELAYIFSLOW, true), ft_delayed);
    EXPECT_EQ(std::u16string(wide.data()), u"Working\u2026");
    std::array<char, 32> ansi{};
    EXPECT_EQ(root->GetFieldValue(slow, fSlow, 0, ansi.data(), 32, CONTENT_DELAYIFSLOW, false), ft_delayed);
    EXPECT_EQ(std::string(ansi.data()), platform::WideToAnsi(u"Working\u2026"));
    EXPECT_EQ(root->Analyses, 0);

    // A fast field with the flag, and the slow one without it, are served.
    EXPECT_EQ(Content(slow, CONTENT_DELAYIFSLOW), "S1");
    EXPECT_EQ(root->GetFieldValue(slow, fSlow, 0, ansi.data(), 32, 0, false), ft_string);
    EXPECT_EQ(std::string(ansi.data()), "slow:S1");
    EXPECT_EQ(root->Analyses, 1);
}

TEST_F(RootTest, MissingFileIsCachedUntilItAppears) {
    const auto name = WideName(dir / "later");
    EXPECT_EQ(Content(name), "result -3");
    EXPECT_EQ(Content(name), "result -3");
    EXPECT_EQ(root->Analyses, 1);
    WriteFile(std::filesystem::path(name), {'h', 'i'});
    EXPECT_EQ(Content(name), "hi");
    EXPECT_EQ(root->Analyses, 2);
}

// A fast field is served while a slow value of another file (and of the same file) is
// being computed on a second thread.
TEST_F(RootTest, FastFieldDoesNotWaitForASlowValue) {
    const auto slow = dir.Write("slow", {'S'});
    const auto fast = dir.Write("fast", {'f'});
    Content(fast);
    Content(slow);
    std::promise<void> entered, gate;
    SlowField::Entered = &entered;
    SlowField::Gate = gate.get_future().share();
    auto decoding = std::async(std::launch::async, [&] {
        std::array<char, 32> buffer{};
        return root->GetFieldValue(slow, fSlow, 0, buffer.data(), 32, 0, false);
    });
    entered.get_future().wait();
    auto fastRequests = std::async(std::launch::async, [&] { return Content(fast) + "," + Content(slow); });
    // Generous bound: only a request that waits for the gate can miss it.
    const bool served = fastRequests.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    gate.set_value();
    EXPECT_TRUE(served) << "a fast request waited for the slow value";
    EXPECT_EQ(fastRequests.get(), "f,S");
    EXPECT_EQ(decoding.get(), ft_string);
    SlowField::Entered = nullptr;
    SlowField::Gate = {};
}

}  // namespace

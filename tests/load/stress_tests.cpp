// The root under load with real files: six host threads asking random fields of more files
// than the cache holds, with and without the delay flag, through both value entries,
// full-text searches on every thread and full decodings racing for the same records. Every
// answer must be the one a single thread gets; the tsan preset runs this under
// ThreadSanitizer.
#include "load/test_files.h"

#include "analysis/root.h"
#include "frame/cache.h"
#include "frame/wdx.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

constexpr int kFullText = 29;

// One answer: the result code and the whole buffer it left.
std::string Ask(TOrvaneRoot& ARoot, const std::u16string& AFile, int AField, int AFlags, bool AWide) {
    std::array<char, 512> buffer{};
    if (AField == kFullText) {
        std::string text = "9:";
        for (int unit = 0, result = ft_fulltext; result == ft_fulltext; unit += 60) {
            buffer.fill(0);
            result = ARoot.GetFieldValue(AFile, AField, unit, buffer.data(), 64, AFlags, AWide);
            text += std::to_string(result) + "|" + buffer.data();
        }
        return text;
    }
    const int result = ARoot.GetFieldValue(AFile, AField, 0, buffer.data(), static_cast<int>(buffer.size()), AFlags, AWide);
    return std::to_string(result) + ":" + std::string(buffer.begin(), buffer.end());
}

TEST(RealFileStress, ThreadsAgreeWithOneThread) {
    TempDir dir;
    std::vector<std::u16string> files;
    for (const auto& path : MakeTestFiles(dir, 40, 128 * 1024)) files.push_back(WideName(path));
    ASSERT_GT(files.size(), static_cast<std::size_t>(TkestWDXCache::Capacity));

    TkestWDXDefaultParams params{};
    params.VersionHigh = 2;
    using Key = std::tuple<std::size_t, int, int, bool>;  // file, field, flags, wide
    std::map<Key, std::string> expected;
    {
        TOrvaneRoot reference;
        reference.CreateDefaultFields();
        reference.SetDefaultParams(params);
        for (std::size_t f = 0; f < files.size(); ++f)
            for (int field = 0; field < reference.FieldCount(); ++field)
                for (const int flags : {0, CONTENT_DELAYIFSLOW})
                    for (const bool wide : {true, false})
                        expected[{f, field, flags, wide}] = Ask(reference, files[f], field, flags, wide);
    }

    TOrvaneRoot root;
    root.CreateDefaultFields();
    root.SetDefaultParams(params);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t + 1));
            for (int n = 0; n < 1500; ++n) {
                const std::size_t f = random() % files.size();
                // Full decodings and full text more often than their share of the fields.
                const int pick = static_cast<int>(random() % 40);
                const int field = pick < 30 ? pick : pick < 36 ? 10 + pick % 3 : kFullText;
                const int flags = random() % 3 == 0 ? CONTENT_DELAYIFSLOW : 0;
                const bool wide = random() % 2 == 0;
                if (Ask(root, files[f], field, flags, wide) != expected[{f, field, flags, wide}]) {
                    ++wrong;
                    ADD_FAILURE() << "file " << f << " field " << field << " flags " << flags << " wide " << wide;
                }
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace

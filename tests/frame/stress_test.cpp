// Eight host threads with mixed requests over more files than the cache holds, while the
// files are being rewritten: every answer belongs to the file asked about, and no record
// outlives the root.
#include "support/temp_files.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

namespace {

std::string Prefix(int file) { return "f" + std::to_string(file) + ":v"; }

// The content a reader may see: nothing (file being rewritten), or a prefix of the file's
// own "f<i>:v<k>" text, or that text.
bool BelongsTo(const std::string& content, int file) {
    const std::string prefix = Prefix(file);
    return prefix.compare(0, content.size(), content, 0, std::min(content.size(), prefix.size())) == 0;
}

TEST(StressTest, ConcurrentRequestsWhileFilesChange) {
    constexpr int files = 150;
    constexpr int threads = 8;
    constexpr int requestsPerThread = 1500;
    TempDir dir;
    std::vector<std::u16string> names;
    for (int i = 0; i < files; ++i) {
        const std::string text = Prefix(i) + "0";
        names.push_back(dir.Write("file" + std::to_string(i), Bytes(text.begin(), text.end())));
    }
    const int liveBefore = LiveRecords;
    {
        auto root = MakeTestRoot();
        TkestWDXDefaultParams params{};
        params.VersionHigh = 2;
        root->SetDefaultParams(params);

        std::atomic<bool> done{false};
        std::atomic<int> wrongAnswers{0};
        std::thread writer([&] {
            std::mt19937 random(7);
            for (int version = 1; !done; ++version) {
                const int i = static_cast<int>(random() % files);
                const std::string text = Prefix(i) + std::to_string(version);
                try {
                    WriteFile(std::filesystem::path(names[static_cast<std::size_t>(i)]),
                              Bytes(text.begin(), text.end()));
                } catch (const std::exception&) {
                    // held open by a reader (Windows sharing): try another file
                }
                std::this_thread::yield();
            }
        });
        std::vector<std::thread> readers;
        for (int t = 0; t < threads; ++t)
            readers.emplace_back([&, t] {
                std::mt19937 random(static_cast<unsigned>(t));
                std::array<char, 256> buffer{};
                for (int n = 0; n < requestsPerThread; ++n) {
                    const int i = static_cast<int>(random() % files);
                    const int field = static_cast<int>(random() % root->FieldCount());
                    const int flags = (random() % 2) ? CONTENT_DELAYIFSLOW : 0;
                    const auto& name = names[static_cast<std::size_t>(i)];
                    if (field == fFullText) {
                        for (int unit = 0, result = ft_fulltext; result == ft_fulltext; ++unit)
                            result = root->GetFieldValue(name, field, unit, buffer.data(), 16, flags, false);
                        continue;
                    }
                    buffer.fill(0);
                    const int result = root->GetFieldValue(name, field, 0, buffer.data(), 256, flags, t % 2 == 0);
                    if (result < ft_fieldempty || result > ft_stringw) ++wrongAnswers;
                    if (field == fContent && result == ft_string && !BelongsTo(buffer.data(), i)) ++wrongAnswers;
                }
            });
        for (auto& reader : readers) reader.join();
        done = true;
        writer.join();
        EXPECT_EQ(wrongAnswers, 0);
        EXPECT_LE(LiveRecords - liveBefore, TkestWDXCache::Capacity);
    }
    EXPECT_EQ(LiveRecords, liveBefore);
}

}  // namespace

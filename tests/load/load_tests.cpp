// The shipped library loaded as a host loads it (dlopen, or LoadLibraryW under Wine, through
// wdxprobe's loader), every field of every test file asked on four threads, then unloaded:
// 100 cycles. Every cycle gives the answers of the first; no cycle may keep memory (the
// sanitize preset's LeakSanitizer sees any leak at exit; in the other builds the resident
// size after the last cycle is compared with that after the tenth).
#include "hostile/process_stats.h"
#include "load/test_files.h"

#include "frame/wdx.h"
#include "os.h"
#include "plugin.h"
#include "value.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizer = true;
#else
constexpr bool kSanitizer = false;
#endif

using Answers = std::vector<std::string>;  // per file, field and way of asking

// Every field of every file, through both value entries, with and without the delay flag,
// the full-text field in chunks; on `AThreads` threads, each asking about every file.
Answers AskEverything(const wdxprobe::WdxPlugin& APlugin, const std::vector<wdxprobe::PluginFileName>& AFiles,
                      int AFieldCount, int AThreads) {
    std::vector<Answers> perThread(static_cast<std::size_t>(AThreads));
    std::vector<std::thread> threads;
    for (int t = 0; t < AThreads; ++t)
        threads.emplace_back([&, t] {
            Answers& answers = perThread[static_cast<std::size_t>(t)];
            // Each thread starts at another file, so that the threads meet on records at
            // different moments.
            for (std::size_t k = 0; k < AFiles.size(); ++k) {
                const wdxprobe::PluginFileName& file = AFiles[(k + static_cast<std::size_t>(t) * 7) % AFiles.size()];
                for (int field = 0; field < AFieldCount; ++field)
                    for (const bool wide : {true, false}) {
                        if (field == AFieldCount - 1) {
                            answers.push_back(wdxprobe::ValueText(APlugin.FullText(file, wide, field, 64)));
                            continue;
                        }
                        for (const int flags : {0, CONTENT_DELAYIFSLOW})
                            answers.push_back(wdxprobe::ValueText(
                                wdxprobe::DecodeValue(APlugin.GetValue(file, wide, field, 0, 512, flags))));
                    }
            }
        });
    for (auto& thread : threads) thread.join();
    // Put each thread's answers back in file order: thread t began at file 7t.
    Answers ordered;
    for (int t = 0; t < AThreads; ++t) {
        const Answers& answers = perThread[static_cast<std::size_t>(t)];
        const std::size_t perFile = answers.size() / AFiles.size();
        const std::size_t shift = (static_cast<std::size_t>(t) * 7) % AFiles.size();
        Answers byFile(answers.size());
        for (std::size_t k = 0; k < AFiles.size(); ++k)
            std::copy_n(answers.begin() + static_cast<std::ptrdiff_t>(k * perFile), perFile,
                        byFile.begin() + static_cast<std::ptrdiff_t>(((k + shift) % AFiles.size()) * perFile));
        if (t == 0)
            ordered = byFile;
        else
            EXPECT_EQ(byFile, ordered) << "thread " << t << " saw other answers";
    }
    return ordered;
}

TEST(LoadUnload, HundredCyclesOfLoadAskUnload) {
    TempDir dir;
    std::vector<wdxprobe::PluginFileName> files;
    for (const auto& path : MakeTestFiles(dir, 3, 64 * 1024, 8))
        files.push_back({WideName(path), wdxprobe::PathToPluginText(path)});
    const std::filesystem::path library = ORVANE_PLUGIN;

    Answers first;
    std::uint64_t residentAfterTen = 0;
    constexpr int kCycles = 100;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        std::string error;
        auto plugin = wdxprobe::WdxPlugin::Load(library, error);
        ASSERT_TRUE(plugin) << error;
        ASSERT_TRUE(plugin->SetDefaultParams(2, 0));
        bool truncated = false;
        const auto fields = plugin->Fields(truncated);
        ASSERT_EQ(fields.size(), 30u);
        const Answers answers = AskEverything(*plugin, files, static_cast<int>(fields.size()), 4);
        plugin.reset();  // unloads the library
        if (cycle == 0)
            first = answers;
        else
            ASSERT_EQ(answers, first) << "cycle " << cycle;
        if (cycle == 9) residentAfterTen = process_stats::ResidentBytes();
    }
    const std::uint64_t residentAtEnd = process_stats::ResidentBytes();
    std::printf("%d cycles over %zu files: resident %llu KiB after 10 cycles, %llu KiB after %d\n", kCycles,
                files.size(), static_cast<unsigned long long>(residentAfterTen / 1024),
                static_cast<unsigned long long>(residentAtEnd / 1024), kCycles);
    // Ninety more cycles keep no more than a few MiB (allocator caches): a record, a root or a
    // field table kept per cycle would add far more.
    if (!kSanitizer) {
        EXPECT_LT(residentAtEnd, residentAfterTen + 16 * 1024 * 1024);
    }
}

}  // namespace

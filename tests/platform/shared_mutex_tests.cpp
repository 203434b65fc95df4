#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

namespace {

TEST(SharedMutex, TwoReadersHoldItAtOnce) {
    // Each reader takes the shared lock, then waits, still holding it, until the other is
    // inside too. A lock that let only one reader in would keep the second one out; the
    // long wait only stops such a lock from hanging the test.
    platform::SharedMutex lock;
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0;
    bool together[2] = {false, false};

    auto reader = [&](int index) {
        std::shared_lock shared(lock);
        std::unique_lock guard(mutex);
        ++inside;
        changed.notify_all();
        together[index] = changed.wait_for(guard, std::chrono::seconds(60), [&] { return inside == 2; });
    };
    std::thread first(reader, 0);
    std::thread second(reader, 1);
    first.join();
    second.join();
    EXPECT_TRUE(together[0]);
    EXPECT_TRUE(together[1]);
}

TEST(SharedMutex, WriterIsAlone) {
    // Writers and readers hammer the lock; inside, a writer must see nobody else and a
    // reader no writer.
    platform::SharedMutex lock;
    std::atomic<int> readers{0};
    std::atomic<int> writers{0};
    std::atomic<int> violations{0};

    auto writer = [&] {
        for (int i = 0; i < 2000; ++i) {
            std::unique_lock exclusive(lock);
            if (writers.fetch_add(1) != 0 || readers.load() != 0) ++violations;
            std::this_thread::yield();
            if (readers.load() != 0) ++violations;
            writers.fetch_sub(1);
        }
    };
    auto reader = [&] {
        for (int i = 0; i < 2000; ++i) {
            std::shared_lock shared(lock);
            readers.fetch_add(1);
            if (writers.load() != 0) ++violations;
            std::this_thread::yield();
            if (writers.load() != 0) ++violations;
            readers.fetch_sub(1);
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(writer);
    threads.emplace_back(writer);
    threads.emplace_back(reader);
    threads.emplace_back(reader);
    threads.emplace_back(reader);
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(violations.load(), 0);
}

}  // namespace

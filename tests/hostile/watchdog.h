// A "must finish" bound for one step of a test: when the step has not ended after the
// given time, the process says which step hung and aborts. Generous by design; it catches
// hangs, not slowness.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class Watchdog {
public:
    Watchdog(std::string AWhat, std::chrono::seconds ALimit) : What(std::move(AWhat)) {
        Thread = std::thread([this, ALimit] {
            std::unique_lock lock(Mutex);
            if (!Ended.wait_for(lock, ALimit, [this] { return Done; })) {
                std::fprintf(stderr, "watchdog: %s did not finish within %lld s\n", What.c_str(),
                             static_cast<long long>(ALimit.count()));
                std::fflush(stderr);
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(Mutex);
            Done = true;
        }
        Ended.notify_one();
        Thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::string What;
    std::mutex Mutex;
    std::condition_variable Ended;
    bool Done = false;
    std::thread Thread;
};

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
            // Short waits against the steady clock: a wait that returns early (as some thread
            // libraries' timed waits do) cannot end the process before its time.
            const auto end = std::chrono::steady_clock::now() + ALimit;
            std::unique_lock lock(Mutex);
            while (!Done && std::chrono::steady_clock::now() < end) Ended.wait_for(lock, std::chrono::milliseconds(200));
            if (!Done) {
                const std::string message =
                    "watchdog: " + What + " did not finish within " + std::to_string(ALimit.count()) + " s\n";
                std::fputs(message.c_str(), stderr);
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

// Linux: /proc/self/status for the resident size and its peak (VmRSS, VmHWM), which
// writing 5 to /proc/self/clear_refs resets; the thread's CPU clock.
#include "process_stats.h"

#include <fstream>
#include <string>
#include <time.h>

namespace process_stats {

namespace {

// A "Name:   123 kB" line of /proc/self/status, in bytes.
std::uint64_t StatusBytes(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == name + ":") {
            std::uint64_t kilobytes = 0;
            status >> kilobytes;
            return kilobytes * 1024;
        }
        std::getline(status, key);
    }
    return 0;
}

}  // namespace

std::uint64_t ResidentBytes() { return StatusBytes("VmRSS"); }

PeakMemory::PeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
    StartResident = ResidentBytes();
    StartPeak = StatusBytes("VmHWM");
}

std::uint64_t PeakMemory::Growth() const {
    const std::uint64_t peak = StatusBytes("VmHWM");
    return peak > StartResident ? peak - StartResident : 0;
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace process_stats

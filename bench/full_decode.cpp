// The full decoding pass against its peers, measured in the same run: for every large file
// given, the pass (TkestInfo::DecodeFully, best of five), `jpeginfo -c` and
// `djpeg -outfile /dev/null` on the same file, as MB/s of compressed data, the ratios, and
// the peak memory of each in a process of its own; then the same over the corpus; then the
// latency of a fast field of another file asked through TOrvaneRoot while a full decoding
// runs on a second thread. Times are processor time (user and system; the peers' include
// starting their process), which other work on the machine disturbs less than the wall
// clock; the load average is printed beside them. Prints, never fails.
//
// Usage: bench_full_decode [--corpus DIR] FILE...
//        bench_full_decode --decode FILE   (one pass, for the peak-memory measurement)
#include "analysis/root.h"
#include "frame/wdx.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Processor time of this thread so far.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double TimevalSeconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

std::string DecodeOnce(const std::filesystem::path& file) {
    TkestInfo info;
    info.FileName = file.u16string();
    info.Kind = fkJpeg;
    info.DecodeFully();
    return platform::WideToAnsi(info.Integrity);
}

// A program run to its end: seconds and peak resident memory in KiB; -1 when it could not run.
struct Run {
    double seconds = -1;
    long peakKiB = -1;
};

Run Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);  // the child must not write this process's buffered output again
    const pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 127)) return {};
    return {TimevalSeconds(usage.ru_utime) + TimevalSeconds(usage.ru_stime), usage.ru_maxrss};
}

Run BestOf(int runs, const std::vector<std::string>& arguments) {
    Run best;
    for (int i = 0; i < runs; ++i) {
        const Run r = Spawn(arguments);
        if (r.seconds < 0) return r;
        if (best.seconds < 0 || r.seconds < best.seconds) best.seconds = r.seconds;
        best.peakKiB = std::max(best.peakKiB, r.peakKiB);
    }
    return best;
}

double Mb(std::uintmax_t bytes) { return static_cast<double>(bytes) / 1e6; }

void PrintPeer(const char* name, const Run& run, double bytes, double ours, long ourPeak) {
    if (run.seconds < 0) {
        std::printf("  %-26s %10s\n", name, "not found");
        return;
    }
    std::printf("  %-26s %8.1f MB/s %9.1f ms   ours %5.2fx faster   peak %7ld KiB (ours %5.2f of it)\n", name,
                bytes / 1e6 / run.seconds, run.seconds * 1000, run.seconds / ours, run.peakKiB,
                static_cast<double>(ourPeak) / static_cast<double>(run.peakKiB));
}

void LargeFile(const std::string& self, const std::filesystem::path& file) {
    const auto size = std::filesystem::file_size(file);
    double ours = 1e9;
    std::string integrity;
    for (int run = 0; run < 5; ++run) {
        const double start = ThreadSeconds();
        integrity = DecodeOnce(file);
        ours = std::min(ours, ThreadSeconds() - start);
    }
    const Run ourProcess = BestOf(1, {self, "--decode", file.string()});
    std::printf("%s: %.1f MB, %s\n", file.filename().string().c_str(), Mb(size), integrity.c_str());
    std::printf("  %-26s %8.1f MB/s %9.1f ms                          peak %7ld KiB\n", "Orvane full decoding pass",
                Mb(size) / ours, ours * 1000, ourProcess.peakKiB);
    const double bytes = static_cast<double>(size);
    PrintPeer("jpeginfo -c", BestOf(5, {"jpeginfo", "-c", file.string()}), bytes, ours, ourProcess.peakKiB);
    PrintPeer("djpeg -outfile /dev/null", BestOf(3, {"djpeg", "-outfile", "/dev/null", file.string()}), bytes, ours,
              ourProcess.peakKiB);
}

void Corpus(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (ext == ".jpg" || ext == ".jpeg" || ext == ".mpo" || ext == ".jps") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::uintmax_t bytes = 0;
    for (const auto& f : files) bytes += std::filesystem::file_size(f);
    double ours = 1e9;
    for (int run = 0; run < 3; ++run) {
        const double start = ThreadSeconds();
        for (const auto& f : files) DecodeOnce(f);
        ours = std::min(ours, ThreadSeconds() - start);
    }
    std::vector<std::string> jpeginfo = {"jpeginfo", "-c"};
    for (const auto& f : files) jpeginfo.push_back(f.string());
    const Run info = BestOf(3, jpeginfo);
    Run djpeg{0, 0};
    for (const auto& f : files) {
        const Run r = Spawn({"djpeg", "-outfile", "/dev/null", f.string()});
        if (r.seconds < 0) {
            djpeg = {};
            break;
        }
        djpeg.seconds += r.seconds;
    }
    std::printf("corpus: %zu files, %.1f MB\n", files.size(), Mb(bytes));
    std::printf("  %-26s %8.1f MB/s %9.1f ms\n", "Orvane full decoding pass", Mb(bytes) / ours, ours * 1000);
    const auto peer = [&](const char* name, const Run& r) {
        if (r.seconds < 0)
            std::printf("  %-26s %10s\n", name, "not found");
        else
            std::printf("  %-26s %8.1f MB/s %9.1f ms   ours %5.2fx faster\n", name, Mb(bytes) / r.seconds,
                        r.seconds * 1000, r.seconds / ours);
    };
    peer("jpeginfo -c (one process)", info);
    peer("djpeg (a process per file)", djpeg);
}

// While one thread runs the full decoding of `slow` through the root, the other asks for a
// fast field of `other` again and again (each time a new file name for the cache: the
// header pass runs every time).
void Latency(const std::filesystem::path& slow, const std::filesystem::path& other) {
    InstallRoot(std::make_unique<TOrvaneRoot>());
    TkestWDXRoot& root = *GlobalRoot();
    constexpr int kIntegrity = 10, kColorspace = 4;
    std::atomic<bool> done{false};
    double decodeSeconds = 0;
    std::thread decoder([&] {
        std::array<char, 256> buffer{};
        const auto start = Clock::now();
        root.GetFieldValue(slow.u16string(), kIntegrity, 0, buffer.data(), 256, 0, true);
        decodeSeconds = Seconds(start);
        done = true;
    });
    std::vector<double> latencies;
    std::array<char, 256> buffer{};
    const std::u16string name = other.u16string();
    // Variants of the name the cache treats as other files (a "./" more each time).
    std::u16string prefix;
    while (!done) {
        const std::u16string variant = other.has_parent_path()
                                           ? other.parent_path().u16string() + u"/" + prefix + other.filename().u16string()
                                           : prefix + name;
        prefix += u"./";
        if (prefix.size() > 200) prefix.clear();
        const auto start = Clock::now();
        root.GetFieldValue(variant, kColorspace, 0, buffer.data(), 256, 0, true);
        latencies.push_back(Seconds(start) * 1000);
    }
    decoder.join();
    RemoveRoot();
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) return;
    std::printf("latency of \"Colorspace\" of %s while \"Integrity\" of %s decodes (%.0f ms) on another thread:\n"
                "  %zu requests, median %.3f ms, max %.3f ms\n",
                other.filename().string().c_str(), slow.filename().string().c_str(), decodeSeconds * 1000,
                latencies.size(), latencies[latencies.size() / 2], latencies.back());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--decode") == 0) {
        DecodeOnce(argv[2]);
        return 0;
    }
    std::filesystem::path corpus;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--corpus") == 0 && i + 1 < argc)
            corpus = argv[++i];
        else
            files.emplace_back(argv[i]);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: bench_full_decode [--corpus DIR] FILE...\n");
        return 2;
    }
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("processor times, best of several runs; load average %.2f on %u processors\n", load[0],
                std::thread::hardware_concurrency());
    for (const auto& file : files) LargeFile(self, file);
    if (!corpus.empty() && std::filesystem::is_directory(corpus)) Corpus(corpus);
    Latency(files.back(), files.front());
    return 0;
}

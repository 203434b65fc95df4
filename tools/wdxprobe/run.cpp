// The whole program: the command line, the plugin, the targets asked about on a pool of
// threads and their outcomes printed in the targets' order, with a progress bar on request.
#include "output.h"
#include "probe.h"
#include "text.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace wdxprobe {
namespace {

using Clock = std::chrono::steady_clock;

// Targets are numbered in walk order. Threads take them from a queue and leave their outcomes
// in a reorder buffer, which the main thread empties in number order. The main thread keeps
// at most `window` targets between the queue and the printer, so the memory held does not
// grow with the collection.
class Pool {
public:
    Pool(const Probe& probe, int threads) : probe_(probe) {
        for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    }

    ~Pool() {
        {
            const std::lock_guard lock(mutex_);
            closing_ = true;
        }
        work_ready_.notify_all();
        for (std::thread& thread : threads_) thread.join();
    }

    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    void Submit(Target target) {
        {
            const std::lock_guard lock(mutex_);
            queue_.emplace_back(submitted_++, std::move(target));
        }
        work_ready_.notify_one();
    }

    // Submitted and not yet taken by Next.
    std::uint64_t InFlight() {
        const std::lock_guard lock(mutex_);
        return submitted_ - taken_;
    }

    std::uint64_t Finished() const { return finished_.load(); }

    // The outcome of the next target in order; nullopt when it is not ready within `wait`.
    // Only called while a target is in flight.
    std::optional<Outcome> Next(std::optional<std::chrono::milliseconds> wait) {
        std::unique_lock lock(mutex_);
        const auto ready = [this] { return !done_.empty() && done_.begin()->first == taken_; };
        if (wait) {
            if (!result_ready_.wait_for(lock, *wait, ready)) return std::nullopt;
        } else {
            result_ready_.wait(lock, ready);
        }
        auto node = done_.extract(done_.begin());
        ++taken_;
        return std::move(node.mapped());
    }

private:
    void Work() {
        std::unique_lock lock(mutex_);
        while (true) {
            work_ready_.wait(lock, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return;
            auto [number, target] = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            Outcome outcome = Examine(target);
            lock.lock();
            done_.emplace(number, std::move(outcome));
            finished_.fetch_add(1);
            if (number == taken_) result_ready_.notify_one();
        }
    }

    // Never lets an exception end a thread: running out of memory or a failing file-system
    // call becomes the file's error.
    Outcome Examine(const Target& target) const {
        try {
            return probe_.Examine(target);
        } catch (const std::exception& e) {
            Outcome outcome;
            outcome.file.name = target.name;
            outcome.file.error = "cannot probe it: " + SanitizeUtf8(e.what());
            return outcome;
        }
    }

    const Probe& probe_;
    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable result_ready_;
    std::deque<std::pair<std::uint64_t, Target>> queue_;
    std::map<std::uint64_t, Outcome> done_;
    std::uint64_t submitted_ = 0;
    std::uint64_t taken_ = 0;
    std::atomic<std::uint64_t> finished_{0};
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

// One line on stderr, redrawn in place at most ten times a second:
//   [########............]  812/2000 files  95.1 files/s  0:12 left
// Until the count of all targets is known (a second walk counts them) only the files done and
// the rate show.
class ProgressBar {
public:
    explicit ProgressBar(std::ostream& err) : err_(err), start_(Clock::now()) {}

    void SetTotal(std::uint64_t total) { total_.store(total); }

    // Redraws when the last drawing is old enough (taken away by Clear or not), or always
    // with `now`.
    void Update(std::uint64_t done, bool now = false) {
        const auto time = Clock::now();
        if (!now && time - last_ < std::chrono::milliseconds(100)) return;
        last_ = time;
        std::string line = Line(done, time);
        const std::size_t width = DisplayWidth(line);
        if (width < width_) line += std::string(width_ - width, ' ');
        width_ = width;
        err_ << '\r' << line << std::flush;
        drawn_ = true;
    }

    // Takes the line away before other output.
    void Clear() {
        if (!drawn_) return;
        err_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
        drawn_ = false;
        width_ = 0;
    }

private:
    std::string Line(std::uint64_t done, Clock::time_point time) const {
        const double seconds = std::chrono::duration<double>(time - start_).count();
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
        const std::uint64_t total = total_.load();
        char rate_text[32];
        std::snprintf(rate_text, sizeof rate_text, "%.1f", rate);
        std::string line;
        if (total == kUnknown) {
            line = std::to_string(done) + " files  " + rate_text + " files/s";
        } else {
            constexpr std::size_t kWidth = 20;
            const std::size_t filled =
                total == 0 ? kWidth : static_cast<std::size_t>(std::min<std::uint64_t>(kWidth, done * kWidth / total));
            line = "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "]  " + std::to_string(done) +
                   "/" + std::to_string(total) + " files  " + rate_text + " files/s";
            if (rate > 0 && total >= done) {
                const auto left = static_cast<std::uint64_t>(static_cast<double>(total - done) / rate + 0.5);
                char left_text[32];
                std::snprintf(left_text, sizeof left_text, "  %llu:%02llu left",
                              static_cast<unsigned long long>(left / 60), static_cast<unsigned long long>(left % 60));
                line += left_text;
            }
        }
        return line;
    }

    static constexpr std::uint64_t kUnknown = UINT64_MAX;
    std::ostream& err_;
    const Clock::time_point start_;
    std::atomic<std::uint64_t> total_{kUnknown};
    Clock::time_point last_;
    std::size_t width_ = 0;
    bool drawn_ = false;
};

std::unique_ptr<ReportWriter> MakeWriter(Format format, std::ostream& out) {
    switch (format) {
        case Format::Json: return MakeJsonWriter(out);
        case Format::Table: return MakeTableWriter(out);
        case Format::Csv: return MakeCsvWriter(out);
        case Format::JsonLines: return MakeJsonLinesWriter(out);
        case Format::Text: break;
    }
    return MakeTextWriter(out);
}

int Threads(const Options& options) {
    if (options.jobs > 0) return options.jobs;
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, static_cast<unsigned>(kMaxJobs)));
}

}  // namespace

int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    const ParsedOptions parsed = ParseOptions(args);
    if (parsed.help) {
        out << HelpText();
        return kExitOk;
    }
    if (!parsed.error.empty()) {
        err << "wdxprobe: " << parsed.error << "\nTry 'wdxprobe --help'.\n";
        return kExitUsage;
    }
    const Options& options = parsed.options;
    std::string error;
    int status = kExitOk;
    const auto probe = Probe::Open(options, error, status);
    if (!probe) {
        err << "wdxprobe: " << error << "\n";
        return status;
    }
    const PluginReport& report = probe->Report();
    if (options.recursive && (!report.detect_string || report.detect_string->empty())) {
        err << "wdxprobe: the plugin offers no detect string: every file found is asked about\n";
    } else if (options.recursive && !report.detect_error.empty()) {
        err << "wdxprobe: the detect string cannot be evaluated (" << report.detect_error
            << "): every file found is asked about\n";
    }

    std::optional<ProgressBar> bar;
    if (options.progress == Progress::On || (options.progress == Progress::Auto && StderrIsTerminal())) bar.emplace(err);
    // The second walk that counts the targets for the bar; stopped when the run ends first.
    std::jthread counter;
    if (bar) {
        counter = std::jthread([&options, &bar](std::stop_token stop) {
            Walker walk(options.files, options.recursive);
            std::uint64_t count = 0;
            while (!stop.stop_requested() && walk.Next()) ++count;
            if (!stop.stop_requested()) bar->SetTotal(count);
        });
    }

    const auto writer = MakeWriter(options.format, out);
    writer->Begin(report);
    const int threads = Threads(options);
    const std::uint64_t window = std::max<std::uint64_t>(16, 4 * static_cast<std::uint64_t>(threads));
    {
        Pool pool(*probe, threads);
        Walker walk(options.files, options.recursive);
        bool walking = true;
        while (true) {
            while (walking && pool.InFlight() < window) {
                auto target = walk.Next();
                if (!target) {
                    walking = false;
                    break;
                }
                pool.Submit(std::move(*target));
            }
            if (!walking && pool.InFlight() == 0) break;
            const auto outcome = pool.Next(bar ? std::optional(std::chrono::milliseconds(100)) : std::nullopt);
            if (outcome && outcome->shown) {
                if (bar) bar->Clear();
                const FileReport& file = outcome->file;
                if (!file.error.empty()) {
                    out.flush();  // keeps the message in its place on a terminal
                    err << "wdxprobe: " << file.name << ": " << file.error << "\n";
                    status = kExitFileMissing;
                }
                writer->File(file);
            }
            if (bar) {
                out.flush();
                bar->Update(pool.Finished());
            }
        }
        if (bar) {
            bar->Update(pool.Finished(), true);
            bar->Clear();
        }
    }
    counter = std::jthread();  // asks the counting walk to stop and waits for it
    writer->End();
    out.flush();
    return status;
}

}  // namespace wdxprobe

// The header pass against its peers: every field but the four that need a full decoding,
// for every JPEG given, through the plugin's exports in this process; then, in the same run,
// `exiftool -fast -j` over the same files in one process and `identify -ping` likewise.
// Prints per-file times and the ratios. Usage: bench_header_pass FILE...
#include "analysis/root.h"
#include "frame/wdx.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>

WDX_EXPORT int WDX_CALL ContentGetValueW(const WdxChar* AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                         int AMaxLen, int AFlags);

namespace {

using Clock = std::chrono::steady_clock;

bool NeedsFullDecoding(int field) { return field == 2 || field == 10 || field == 11 || field == 12; }

// Seconds for one pass over all files, each asked for every fast field once. Each pass uses
// a fresh root, so every file is analysed again.
double PluginPass(const std::vector<std::u16string>& files) {
    InstallRoot(std::make_unique<TOrvaneRoot>());
    std::array<char, 4096> buffer{};
    const auto start = Clock::now();
    for (const auto& file : files)
        for (int field = 0; field < 29; ++field)
            if (!NeedsFullDecoding(field)) ContentGetValueW(file.c_str(), field, 0, buffer.data(), 4096, 0);
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    RemoveRoot();
    return elapsed.count();
}

// Seconds for one run of `command`, or -1 when it could not be run. Peers may exit with an
// error for some files of a corpus and still have read them all.
double CommandPass(const std::string& command) {
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    if (status == -1 || (WIFEXITED(status) && WEXITSTATUS(status) == 127)) return -1;
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    return elapsed.count();
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::u16string> files;
    std::string arguments;
    for (int i = 1; i < argc; ++i) {
        files.push_back(std::filesystem::path(argv[i]).u16string());
        arguments += " " + Quote(argv[i]);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: bench_header_pass FILE...\n");
        return 2;
    }
    const double count = static_cast<double>(files.size());
    double plugin = 1e9;
    for (int run = 0; run < 5; ++run) plugin = std::min(plugin, PluginPass(files));  // best of five
    const double exiftool = CommandPass("exiftool -fast -j" + arguments + " > /dev/null 2>&1");
    const double identify = CommandPass("identify -ping" + arguments + " > /dev/null 2>&1");

    std::printf("%zu JPEG files, header pass of 25 fields each\n", files.size());
    std::printf("%-28s %12s %10s\n", "", "ms per file", "ratio");
    std::printf("%-28s %12.3f %10s\n", "Orvane (exports)", plugin / count * 1000, "1");
    const auto peer = [&](const char* name, double seconds) {
        if (seconds < 0)
            std::printf("%-28s %12s %10s\n", name, "failed", "-");
        else
            std::printf("%-28s %12.3f %9.1fx\n", name, seconds / count * 1000, seconds / plugin);
    };
    peer("exiftool -fast -j", exiftool);
    peer("identify -ping", identify);
    return 0;
}

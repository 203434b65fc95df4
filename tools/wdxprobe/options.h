// The command line of wdxprobe.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace wdxprobe {

inline constexpr int kDefaultMaxLen = 2049;  // Double Commander's value buffer
inline constexpr int kMaxBuffer = 16 * 1024 * 1024;
inline constexpr int kMaxJobs = 256;

// text and json describe the plugin, then each file; table, csv and jsonl are one row per file.
enum class Format { Text, Json, Table, Csv, JsonLines };

// The progress bar on stderr: only when stderr is a terminal (Auto), always, or never.
enum class Progress { Auto, On, Off };

struct Options {
    std::string plugin;
    std::vector<std::string> files;
    std::vector<std::string> fields;  // --fields: names or indices, empty for all
    std::vector<std::string> where;   // --where conditions, all of which a file must meet
    Format format = Format::Text;
    bool recursive = false;           // -r: walk the folders given
    int jobs = 0;                     // --jobs: threads asking the plugin; 0 for one per core
    Progress progress = Progress::Auto;
    bool ansi = false;               // ContentGetValue with an 8-bit file name
    bool delay = false;              // flag CONTENT_DELAYIFSLOW
    bool fulltext = false;
    bool show_chunks = false;
    bool send_params = true;
    int maxlen = kDefaultMaxLen;
    int chunk = kDefaultMaxLen;
    std::uint32_t version_high = 2;
    std::uint32_t version_low = 0;
};

struct ParsedOptions {
    Options options;
    bool help = false;
    std::string error;  // wrong usage when not empty
};

// Parses the arguments after the program name.
ParsedOptions ParseOptions(std::span<const std::string> args);

// The --help text.
std::string HelpText();

}  // namespace wdxprobe

// The command line of wdxprobe.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace wdxprobe {

inline constexpr int kDefaultMaxLen = 2049;  // Double Commander's value buffer
inline constexpr int kMaxBuffer = 16 * 1024 * 1024;

struct Options {
    std::string plugin;
    std::vector<std::string> files;
    std::vector<std::string> fields;  // --fields: names or indices, empty for all
    bool json = false;
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

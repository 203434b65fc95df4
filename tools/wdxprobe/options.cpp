#include "options.h"

#include <charconv>
#include <optional>
#include <string_view>

namespace wdxprobe {
namespace {

template <typename T>
std::optional<T> ParseUnsigned(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

std::optional<int> ParseSize(std::string_view text) {
    const auto value = ParseUnsigned<unsigned>(text);
    if (!value || *value > static_cast<unsigned>(kMaxBuffer)) return std::nullopt;
    return static_cast<int>(*value);
}

std::vector<std::string> SplitList(std::string_view text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = text.substr(start, comma == std::string_view::npos ? comma : comma - start);
        if (!item.empty()) items.emplace_back(item);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return items;
}

// "H.L" or "H": interface version high and low word, both decimal.
bool ParseVersion(std::string_view text, Options& options) {
    const std::size_t dot = text.find('.');
    const auto high = ParseUnsigned<std::uint32_t>(text.substr(0, dot));
    const auto low = dot == std::string_view::npos ? std::optional<std::uint32_t>(0)
                                                   : ParseUnsigned<std::uint32_t>(text.substr(dot + 1));
    if (!high || !low) return false;
    options.version_high = *high;
    options.version_low = *low;
    return true;
}

}  // namespace

ParsedOptions ParseOptions(std::span<const std::string> args) {
    ParsedOptions parsed;
    Options& options = parsed.options;
    std::vector<std::string> positional;
    bool only_positional = false;

    for (std::size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (!only_positional && arg == "-h") {
            parsed.help = true;
            continue;
        }
        if (only_positional || !arg.starts_with("--")) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            only_positional = true;
            continue;
        }
        // --name=value or --name value for the options that take one.
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        std::optional<std::string> inline_value;
        if (equals != std::string::npos) inline_value = arg.substr(equals + 1);
        const auto value = [&]() -> std::optional<std::string> {
            if (inline_value) return inline_value;
            if (i + 1 < args.size()) return args[++i];
            parsed.error = "option " + name + " needs a value";
            return std::nullopt;
        };
        const auto no_value = [&] {
            if (inline_value) parsed.error = "option " + name + " takes no value";
        };

        if (name == "--help") {
            no_value();
            parsed.help = true;
        } else if (name == "--json") {
            no_value();
            options.json = true;
        } else if (name == "--ansi") {
            no_value();
            options.ansi = true;
        } else if (name == "--delay") {
            no_value();
            options.delay = true;
        } else if (name == "--show-chunks") {
            no_value();
            options.show_chunks = true;
        } else if (name == "--no-params") {
            no_value();
            options.send_params = false;
        } else if (name == "--v1") {
            no_value();
            options.version_high = 1;
            options.version_low = 50;
        } else if (name == "--fulltext") {
            options.fulltext = true;
            if (inline_value) {
                const auto size = ParseSize(*inline_value);
                if (!size || *size < 2) {
                    parsed.error = "--fulltext=CHUNK needs a chunk size from 2 to " + std::to_string(kMaxBuffer);
                } else {
                    options.chunk = *size;
                }
            }
        } else if (name == "--maxlen") {
            if (const auto text = value()) {
                const auto size = ParseSize(*text);
                if (!size) {
                    parsed.error = "--maxlen needs a size from 0 to " + std::to_string(kMaxBuffer);
                } else {
                    options.maxlen = *size;
                }
            }
        } else if (name == "--interface") {
            if (const auto text = value(); text && !ParseVersion(*text, options)) {
                parsed.error = "--interface needs a version like 2.0 or 1.50, not '" + *text + "'";
            }
        } else if (name == "--fields") {
            if (const auto text = value()) {
                options.fields = SplitList(*text);
                if (options.fields.empty()) parsed.error = "--fields needs at least one name or index";
            }
        } else {
            parsed.error = "unknown option " + name;
        }
    }
    if (parsed.help || !parsed.error.empty()) return parsed;
    if (options.show_chunks && !options.fulltext) {
        parsed.error = "--show-chunks needs --fulltext";
    } else if (positional.empty()) {
        parsed.error = "no plugin given";
    } else {
        options.plugin = positional.front();
        options.files.assign(positional.begin() + 1, positional.end());
    }
    return parsed;
}

std::string HelpText() {
    return R"(Usage: wdxprobe [OPTIONS] PLUGIN [FILE...]

Loads the WDX content plugin PLUGIN through its exports, as a file manager does, and prints
its detect string and field list, then for every FILE whether the detect string accepts it
and the value of each field.

Options:
  --fields LIST       only these fields: names or indices, separated by commas
  --fulltext[=CHUNK]  fetch full-text fields whole, in chunks of CHUNK bytes (default 2049);
                      without it they are not asked for
  --show-chunks       with --fulltext: show every chunk as delivered, too
  --delay             ask with flag 1 (delay if slow): slow fields answer with a placeholder
  --ansi              ask through ContentGetValue with an 8-bit file name
                      (default: ContentGetValueW with a UTF-16 file name)
  --maxlen N          size of the value buffer in bytes (default 2049)
  --interface H.L     interface version passed to ContentSetDefaultParams (default 2.0)
  --v1                the same as --interface 1.50 (Double Commander's): UTF-16 fields
                      are then delivered as 8-bit text
  --no-params         do not call ContentSetDefaultParams
  --json              print one JSON document instead of text
  --help, -h          show this help

Output is UTF-8. Exit status: 0 when every FILE was probed, 1 when a FILE was missing,
2 for wrong usage, 3 when PLUGIN cannot be loaded or is no WDX plugin.
)";
}

}  // namespace wdxprobe

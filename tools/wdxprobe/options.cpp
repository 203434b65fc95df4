#include "options.h"
#include "where.h"

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

std::optional<Format> ParseFormat(std::string_view text) {
    if (text == "text") return Format::Text;
    if (text == "json") return Format::Json;
    if (text == "table") return Format::Table;
    if (text == "csv") return Format::Csv;
    if (text == "jsonl") return Format::JsonLines;
    return std::nullopt;
}

bool ParseJobs(std::string_view text, Options& options) {
    const auto jobs = ParseUnsigned<unsigned>(text);
    if (!jobs || *jobs < 1 || *jobs > static_cast<unsigned>(kMaxJobs)) return false;
    options.jobs = static_cast<int>(*jobs);
    return true;
}

std::string JobsError(std::string_view text) {
    return "--jobs needs a number of threads from 1 to " + std::to_string(kMaxJobs) + ", not '" + std::string(text) +
           "'";
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
        if (!only_positional && arg == "-r") {
            options.recursive = true;
            continue;
        }
        // -j N and -jN, the short form of --jobs.
        if (!only_positional && arg.starts_with("-j") && !arg.starts_with("--")) {
            std::optional<std::string> text;
            if (arg.size() > 2) {
                text = arg.substr(2);
            } else if (i + 1 < args.size()) {
                text = args[++i];
            } else {
                parsed.error = "option -j needs a value";
                continue;
            }
            if (!ParseJobs(*text, options)) parsed.error = JobsError(*text);
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
            options.format = Format::Json;
        } else if (name == "--format") {
            if (const auto text = value()) {
                const auto format = ParseFormat(*text);
                if (!format) {
                    parsed.error = "--format needs text, json, table, csv or jsonl, not '" + *text + "'";
                } else {
                    options.format = *format;
                }
            }
        } else if (name == "--recursive") {
            no_value();
            options.recursive = true;
        } else if (name == "--jobs") {
            if (const auto text = value(); text && !ParseJobs(*text, options)) parsed.error = JobsError(*text);
        } else if (name == "--where") {
            if (const auto text = value()) options.where.push_back(*text);
        } else if (name == "--progress") {
            no_value();
            options.progress = Progress::On;
        } else if (name == "--no-progress") {
            no_value();
            options.progress = Progress::Off;
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
    for (const std::string& condition : options.where) {
        if (!ParseCondition(condition, parsed.error)) return parsed;
    }
    if (options.show_chunks && !options.fulltext) {
        parsed.error = "--show-chunks needs --fulltext";
    } else if (options.show_chunks && options.format != Format::Text && options.format != Format::Json) {
        parsed.error = "--show-chunks needs the text or json format";
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
       wdxprobe -r [OPTIONS] PLUGIN FOLDER|FILE...

Loads the WDX content plugin PLUGIN through its exports, as a file manager does, and prints
its detect string and field list, then for every FILE whether the detect string accepts it
and the value of each field. With -r it asks about every file in the FOLDERs given.

Options:
  -r, --recursive     walk every FOLDER given, folder by folder with names in byte order;
                      the files found are asked about only when the plugin's detect string
                      accepts them (files named on the command line are always asked).
                      Links to files are followed, links to folders are not.
  -j, --jobs N        ask the plugin on N threads at once (default: one per processor core);
                      the output keeps the order of the files
  --format FORMAT     text (default): the plugin's description, then each file's values
                      json: the same as one JSON document (also --json)
                      table: one line per file, the values in columns, the file name last
                      csv: one row per file (RFC 4180), a header row, an "error" column
                      jsonl: one JSON object per file and line (JSON Lines)
  --fields LIST       only these fields: names or indices, separated by commas (table, csv
                      and jsonl leave out full-text fields unless --fulltext is given)
  --where CONDITION   print only the files whose field meets the condition; with several
                      --where options a file must meet all of them. CONDITION is
                      FIELD OPERATOR VALUE, FIELD a name or index as in --fields:
                        FIELD=TEXT   the value is TEXT        FIELD!=TEXT  it is not
                        FIELD~TEXT   it contains TEXT         FIELD!~TEXT  it does not
                        FIELD~/RE/   it matches the regular expression RE (ECMAScript);
                                     /RE/i ignores letter case; !~/RE/ for no match
                        FIELD<N  FIELD>N  FIELD<=N  FIELD>=N
                                     the value is a number (or a text that is one)
                                     below, above... the number N
                      For = != ~ !~ numbers are their decimal text, Booleans true or false.
                      An empty VALUE stands for the empty value: the plugin's "no value"
                      (-3) or an empty text, so FIELD= finds the files without a value and
                      FIELD!= those with one. Answers that are no value at all (file error,
                      no such field, delayed) meet only != and !~. Spaces around the
                      operator are ignored. Files that could not be probed are always shown.
  --progress          show the progress bar on stderr even when it is not a terminal
  --no-progress       never show it (by default it is shown when stderr is a terminal)
  --fulltext[=CHUNK]  fetch full-text fields whole, in chunks of CHUNK bytes (default 2049);
                      without it they are not asked for. One full text is fetched at a time.
  --show-chunks       with --fulltext: show every chunk as delivered, too (text, json)
  --delay             ask with flag 1 (delay if slow): slow fields answer with a placeholder
  --ansi              ask through ContentGetValue with an 8-bit file name
                      (default: ContentGetValueW with a UTF-16 file name)
  --maxlen N          size of the value buffer in bytes (default 2049)
  --interface H.L     interface version passed to ContentSetDefaultParams (default 2.0)
  --v1                the same as --interface 1.50 (Double Commander's): UTF-16 fields
                      are then delivered as 8-bit text
  --no-params         do not call ContentSetDefaultParams
  --help, -h          show this help

Files that cannot be probed (missing, unreadable, broken links, files that vanish while they
are probed, folders that cannot be listed) are reported on stderr and, in the json, table,
csv and jsonl formats, as a row with an error; the run goes on.

Output is UTF-8. Exit status: 0 when every file was probed, 1 when a file or folder could not
be probed, 2 for wrong usage, 3 when PLUGIN cannot be loaded or is no WDX plugin.
)";
}

}  // namespace wdxprobe

// The probe's work, apart from its output: open the plugin and describe it, then examine one
// file after another, from as many threads as asked. Run (run.cpp) ties this to the command
// line, the walk, a pool of threads and a report writer.
#pragma once

#include "detect.h"
#include "options.h"
#include "plugin.h"
#include "report.h"
#include "walk.h"
#include "where.h"

#include <iosfwd>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace wdxprobe {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFileMissing = 1;  // a file or folder could not be probed
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPlugin = 3;

// One file's report and whether it is printed: a file found by the walk that the detect
// string rejects is not, nor a file whose values do not meet the --where conditions. Files
// that could not be probed always are.
struct Outcome {
    FileReport file;
    bool shown = true;
};

class Probe {
public:
    // Loads the plugin, hands it the parameter record and reads its detect string and fields.
    // nullptr on failure, with the message in `error` and the exit status in `status`.
    static std::unique_ptr<Probe> Open(const Options& options, std::string& error, int& status);

    const PluginReport& Report() const { return report_; }

    // Everything about one target: its size, the detect string's verdict and the selected
    // values, and whether it is printed. A file that does not exist, cannot be read or
    // vanishes while it is probed is reported in FileReport::error. Safe to call from several
    // threads at once: the plugin's value entries are called concurrently, except full-text
    // fetches, which run one at a time as in a host's text search.
    Outcome Examine(const Target& target) const;

    Probe(const Options& options, std::unique_ptr<WdxPlugin> plugin);  // made by Open

private:
    // The detect string's verdict on `stream`, the open file.
    Detection Detect(std::istream& stream, const std::string& name, std::uint64_t size) const;
    // The values of the fields in `fetch_` (FileReport::error is empty on return).
    FileReport Ask(const Target& target, bool& rejected) const;
    Value FetchValue(const PluginFileName& name, const FieldInfo& field) const;

    Options options_;
    std::unique_ptr<WdxPlugin> plugin_;
    PluginReport report_;
    DetectExpression detect_;
    std::vector<Condition> conditions_;
    std::vector<int> fetch_;  // the selected fields, then those only the conditions need
    mutable std::mutex fulltext_lock_;
};

// The position of the --fields item `item` in `fields` (exact name, then name ignoring letter
// case, then index), or -1.
int ResolveField(const std::vector<FieldInfo>& fields, const std::string& item);

// Resolves --fields items to positions in `fields`; an empty request selects all. On failure
// `error` names the item.
std::vector<int> SelectFields(const std::vector<FieldInfo>& fields, const std::vector<std::string>& request,
                              std::string& error);

// The whole program: arguments after the program name, UTF-8.
int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace wdxprobe

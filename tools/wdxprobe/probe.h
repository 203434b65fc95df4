// The probe's work, apart from its output: open the plugin and describe it, then probe one
// file after another. Run ties both to the command line and a report writer.
#pragma once

#include "detect.h"
#include "options.h"
#include "plugin.h"
#include "report.h"

#include <iosfwd>
#include <memory>
#include <span>
#include <string>

namespace wdxprobe {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFileMissing = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPlugin = 3;

class Probe {
public:
    // Loads the plugin, hands it the parameter record and reads its detect string and fields.
    // nullptr on failure, with the message in `error` and the exit status in `status`.
    static std::unique_ptr<Probe> Open(const Options& options, std::string& error, int& status);

    const PluginReport& Report() const { return report_; }

    // Everything about one file: its size, the detect string's verdict and the selected
    // values. A file that does not exist is reported in FileReport::error.
    FileReport ProbeFile(const std::string& name) const;

    Probe(const Options& options, std::unique_ptr<WdxPlugin> plugin);  // made by Open

private:
    Detection Detect(const std::filesystem::path& path, const std::string& name, std::uint64_t size) const;

    Options options_;
    std::unique_ptr<WdxPlugin> plugin_;
    PluginReport report_;
    DetectExpression detect_;
};

// Resolves --fields items (exact name, then name ignoring letter case, then index) to
// positions in `fields`; an empty request selects all. On failure `error` names the item.
std::vector<int> SelectFields(const std::vector<FieldInfo>& fields, const std::vector<std::string>& request,
                              std::string& error);

// The whole program: arguments after the program name, UTF-8.
int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// A path from UTF-8 text, on every OS.
std::filesystem::path PathFromUtf8(const std::string& utf8);

}  // namespace wdxprobe

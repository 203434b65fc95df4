#include "probe.h"
#include "text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <system_error>

namespace wdxprobe {

int ResolveField(const std::vector<FieldInfo>& fields, const std::string& item) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name == item) return static_cast<int>(i);
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (AsciiUpper(fields[i].name) == AsciiUpper(item)) return static_cast<int>(i);
    }
    int index = -1;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), index);
    if (ec == std::errc{} && end == item.data() + item.size() && index >= 0 &&
        static_cast<std::size_t>(index) < fields.size()) {
        return index;
    }
    return -1;
}

std::vector<int> SelectFields(const std::vector<FieldInfo>& fields, const std::vector<std::string>& request,
                              std::string& error) {
    std::vector<int> selected;
    if (request.empty()) {
        for (std::size_t i = 0; i < fields.size(); ++i) selected.push_back(static_cast<int>(i));
        return selected;
    }
    for (const std::string& item : request) {
        const int found = ResolveField(fields, item);
        if (found < 0) {
            error = "the plugin has no field '" + item + "' (run without --fields to see its fields)";
            return {};
        }
        selected.push_back(found);
    }
    return selected;
}

Probe::Probe(const Options& options, std::unique_ptr<WdxPlugin> plugin)
    : options_(options), plugin_(std::move(plugin)) {}

std::unique_ptr<Probe> Probe::Open(const Options& options, std::string& error, int& status) {
    status = kExitPlugin;
    const std::filesystem::path path = PathFromUtf8(options.plugin);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "plugin not found: " + options.plugin;
        return nullptr;
    }
    // An absolute path: a bare name would send dlopen and LoadLibrary searching elsewhere.
    std::string reason;
    auto plugin = WdxPlugin::Load(std::filesystem::absolute(path, ec), reason);
    if (!plugin) {
        error = "cannot load plugin " + options.plugin + ": " + reason;
        return nullptr;
    }
    if (options.ansi && !plugin->Exported().get_value) {
        error = "--ansi: the plugin does not export ContentGetValue";
        status = kExitUsage;
        return nullptr;
    }
    auto probe = std::make_unique<Probe>(options, std::move(plugin));
    PluginReport& report = probe->report_;
    WdxPlugin& loaded = *probe->plugin_;
    report.path = options.plugin;
    report.exports = loaded.Exported();
    if (options.send_params) {
        report.params_sent = loaded.SetDefaultParams(options.version_high, options.version_low);
        report.version_high = options.version_high;
        report.version_low = options.version_low;
    }
    report.wide = report.exports.get_value_w && !options.ansi;
    report.maxlen = options.maxlen;
    report.flags = options.delay ? CONTENT_DELAYIFSLOW : 0;
    report.fulltext = options.fulltext;
    report.show_chunks = options.show_chunks;
    report.chunk = options.chunk;
    report.detect_string = loaded.DetectString();
    if (report.detect_string && !report.detect_string->empty()) {
        probe->detect_ = DetectExpression::Parse(*report.detect_string);
        report.detect_error = probe->detect_.Error();
    }
    report.fields = loaded.Fields(report.fields_truncated);
    report.selected = SelectFields(report.fields, options.fields, error);
    if (!error.empty()) {
        status = kExitUsage;
        return nullptr;
    }
    // A column of "not fetched" in every row helps nobody: the row formats leave full-text
    // fields out unless they are fetched or asked for by name.
    const bool rows = options.format != Format::Text && options.format != Format::Json;
    if (rows && options.fields.empty() && !options.fulltext) {
        std::erase_if(report.selected, [&](int i) { return report.fields[static_cast<std::size_t>(i)].type == ft_fulltext; });
    }

    probe->fetch_ = report.selected;
    for (const std::string& text : options.where) {
        auto condition = ParseCondition(text, error);
        if (!condition) {
            status = kExitUsage;
            return nullptr;
        }
        condition->position = ResolveField(report.fields, condition->field);
        if (condition->position < 0) {
            error = "--where: the plugin has no field '" + condition->field + "' (run without --fields to see its fields)";
            status = kExitUsage;
            return nullptr;
        }
        const FieldInfo& field = report.fields[static_cast<std::size_t>(condition->position)];
        if (field.type == ft_fulltext && !options.fulltext) {
            error = "--where: the full-text field '" + field.name + "' is fetched only with --fulltext";
            status = kExitUsage;
            return nullptr;
        }
        if (std::find(probe->fetch_.begin(), probe->fetch_.end(), condition->position) == probe->fetch_.end()) {
            probe->fetch_.push_back(condition->position);
        }
        probe->conditions_.push_back(std::move(*condition));
    }
    status = kExitOk;
    return probe;
}

Detection Probe::Detect(std::istream& stream, const std::string& name, std::uint64_t size) const {
    if (!report_.detect_string || report_.detect_string->empty()) return Detection::NoDetectString;
    if (!detect_.Valid()) return Detection::CannotEvaluate;
    FileFacts facts;
    facts.name = name;
    facts.size = size;
    facts.read = [&stream](std::uint64_t offset, std::span<std::uint8_t> out) -> std::size_t {
        stream.clear();
        stream.seekg(static_cast<std::streamoff>(offset));
        stream.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
        return static_cast<std::size_t>(stream.gcount());
    };
    return detect_.Matches(facts) ? Detection::Accepted : Detection::Rejected;
}

Value Probe::FetchValue(const PluginFileName& name, const FieldInfo& field) const {
    Value value;
    if (field.type == ft_fulltext) {
        if (!options_.fulltext) {
            value.kind = ValueKind::NotFetched;
            value.code = ft_fulltext;
            return value;
        }
        // A plugin may keep the rest of a full text between calls (hosts fetch one at a time).
        const std::lock_guard lock(fulltext_lock_);
        return plugin_->FullText(name, report_.wide, field.index, options_.chunk);
    }
    return DecodeValue(plugin_->GetValue(name, report_.wide, field.index, 0, options_.maxlen, report_.flags));
}

FileReport Probe::Ask(const Target& target, bool& rejected) const {
    FileReport file;
    file.name = target.name;
    rejected = false;
    const std::filesystem::path& path = target.path;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) {
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
            file.error = "broken link to " + PathToUtf8(std::filesystem::read_symlink(path, ec));
        } else {
            file.error = "no such file";
        }
        return file;
    }
    if (std::filesystem::is_directory(status)) {
        file.error = "is a folder, not a file";
        return file;
    }
    file.size = std::filesystem::file_size(path, ec);
    if (ec) {
        file.error = "cannot read its size: " + SanitizeUtf8(ec.message());
        return file;
    }
    {
        errno = 0;
        std::ifstream stream(path, std::ios::binary);
        if (!stream) {
            const int reason = errno;
            file.error = "cannot open it: " + (reason != 0 ? SanitizeUtf8(std::generic_category().message(reason))
                                                           : std::string("not readable"));
            return file;
        }
        file.detection = Detect(stream, target.name, file.size);
    }
    if (file.detection == Detection::Rejected && !target.named) {
        rejected = true;
        return file;
    }

    // Hosts hand plugins full paths.
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    const PluginFileName plugin_name{Utf8ToUtf16(PathToUtf8(full)), PathToPluginText(full)};
    for (const int index : fetch_) {
        FieldValue value;
        value.field = index;
        value.value = FetchValue(plugin_name, report_.fields[static_cast<std::size_t>(index)]);
        file.values.push_back(std::move(value));
    }
    // A file deleted under the plugin's feet leaves answers about nothing.
    if (!std::filesystem::exists(path, ec)) {
        file.values.clear();
        file.error = "vanished while it was probed";
    }
    return file;
}

Outcome Probe::Examine(const Target& target) const {
    Outcome outcome;
    if (!target.error.empty()) {
        outcome.file.name = target.name;
        outcome.file.error = target.error;
        return outcome;
    }
    bool rejected = false;
    outcome.file = Ask(target, rejected);
    if (!outcome.file.error.empty()) return outcome;
    outcome.shown = !rejected && MeetsAll(conditions_, outcome.file);
    // The fields only the conditions needed come after the selected ones.
    if (outcome.file.values.size() > report_.selected.size()) outcome.file.values.resize(report_.selected.size());
    return outcome;
}

}  // namespace wdxprobe

#include "probe.h"
#include "output.h"
#include "text.h"

#include <charconv>
#include <fstream>
#include <ostream>

namespace wdxprobe {

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

namespace {

std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

std::vector<int> SelectFields(const std::vector<FieldInfo>& fields, const std::vector<std::string>& request,
                              std::string& error) {
    std::vector<int> selected;
    if (request.empty()) {
        for (std::size_t i = 0; i < fields.size(); ++i) selected.push_back(static_cast<int>(i));
        return selected;
    }
    for (const std::string& item : request) {
        int found = -1;
        for (std::size_t i = 0; i < fields.size() && found < 0; ++i) {
            if (fields[i].name == item) found = static_cast<int>(i);
        }
        for (std::size_t i = 0; i < fields.size() && found < 0; ++i) {
            if (AsciiUpper(fields[i].name) == AsciiUpper(item)) found = static_cast<int>(i);
        }
        int index = -1;
        const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), index);
        if (found < 0 && ec == std::errc{} && end == item.data() + item.size() && index >= 0 &&
            static_cast<std::size_t>(index) < fields.size()) {
            found = index;
        }
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
    status = kExitOk;
    return probe;
}

Detection Probe::Detect(const std::filesystem::path& path, const std::string& name, std::uint64_t size) const {
    if (!report_.detect_string || report_.detect_string->empty()) return Detection::NoDetectString;
    if (!detect_.Valid()) return Detection::CannotEvaluate;
    std::ifstream stream(path, std::ios::binary);
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

FileReport Probe::ProbeFile(const std::string& name) const {
    FileReport file;
    file.name = name;
    const std::filesystem::path path = PathFromUtf8(name);
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) {
        file.error = "no such file";
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
    file.detection = Detect(path, name, file.size);

    // Hosts hand plugins full paths.
    const std::string full = PathToUtf8(std::filesystem::absolute(path, ec));
    PluginFileName plugin_name{Utf8ToUtf16(full), Utf8ToPluginText(full)};
    for (const int index : report_.selected) {
        const FieldInfo& field = report_.fields[static_cast<std::size_t>(index)];
        FieldValue value;
        value.field = index;
        if (field.type == ft_fulltext) {
            if (options_.fulltext) {
                value.value = plugin_->FullText(plugin_name, report_.wide, field.index, options_.chunk);
            } else {
                value.value.kind = ValueKind::NotFetched;
                value.value.code = ft_fulltext;
            }
        } else {
            value.value = DecodeValue(
                plugin_->GetValue(plugin_name, report_.wide, field.index, 0, options_.maxlen, report_.flags));
        }
        file.values.push_back(std::move(value));
    }
    return file;
}

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
    std::string error;
    int status = kExitOk;
    const auto probe = Probe::Open(parsed.options, error, status);
    if (!probe) {
        err << "wdxprobe: " << error << "\n";
        return status;
    }
    const auto writer = parsed.options.json ? MakeJsonWriter(out) : MakeTextWriter(out);
    writer->Begin(probe->Report());
    for (const std::string& name : parsed.options.files) {
        const FileReport file = probe->ProbeFile(name);
        if (!file.error.empty()) {
            out.flush();  // keeps the message in its place on a terminal
            err << "wdxprobe: " << name << ": " << file.error << "\n";
            status = kExitFileMissing;
        }
        writer->File(file);
    }
    writer->End();
    out.flush();
    return status;
}

}  // namespace wdxprobe

#include "plugin.h"
#include "text.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace wdxprobe {
namespace {

constexpr int kDetectStringSize = 2048;  // Double Commander's buffer
constexpr int kFieldBufferSize = 256;
constexpr int kMaxFields = 1000;        // a plugin that never answers 0 is cut here
constexpr std::uint64_t kMaxFullText = 256u * 1024 * 1024;
// Bytes after the buffer, and the pattern it is filled with, to notice writes past its end.
constexpr std::size_t kGuardSize = 32;
constexpr std::uint8_t kFill = 0xCD;

template <typename T>
T* Resolve(const Library& library, const char* name) {
    return reinterpret_cast<T*>(library.Symbol(name));
}

// The zero-terminated text in `bytes`, never reading past them.
std::string_view Terminated(std::span<const char> bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), '\0');
    return std::string_view(bytes.data(), static_cast<std::size_t>(end - bytes.begin()));
}

std::vector<std::string> SplitUnits(std::string_view units) {
    std::vector<std::string> names;
    if (units.empty()) return names;
    std::size_t start = 0;
    while (true) {
        const std::size_t bar = units.find('|', start);
        names.push_back(PluginTextToUtf8(units.substr(start, bar == std::string_view::npos ? bar : bar - start)));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    return names;
}

bool IsNumeric(int code) { return code == ft_numeric_32 || code == ft_numeric_64 || code == ft_boolean; }

}  // namespace

std::unique_ptr<WdxPlugin> WdxPlugin::Load(const std::filesystem::path& path, std::string& error) {
    auto library = Library::Open(path, error);
    if (!library) return nullptr;
    Entries entries;
    entries.detect_string = Resolve<ContentGetDetectStringProc>(*library, "ContentGetDetectString");
    entries.supported_field = Resolve<ContentGetSupportedFieldProc>(*library, "ContentGetSupportedField");
    entries.get_value = Resolve<ContentGetValueProc>(*library, "ContentGetValue");
    entries.get_value_w = Resolve<ContentGetValueWProc>(*library, "ContentGetValueW");
    entries.set_default_params = Resolve<ContentSetDefaultParamsProc>(*library, "ContentSetDefaultParams");
    entries.unloading = Resolve<ContentPluginUnloadingProc>(*library, "ContentPluginUnloading");

    const bool has_fields = entries.supported_field != nullptr;
    const bool has_values = entries.get_value != nullptr || entries.get_value_w != nullptr;
    if (!has_fields || !has_values) {
        error = "not a WDX content plugin: it ";
        if (!has_fields && !has_values) {
            error += "exports neither ContentGetSupportedField nor ContentGetValueW/ContentGetValue";
        } else {
            error += std::string("does not export ") +
                     (has_fields ? "ContentGetValueW or ContentGetValue" : "ContentGetSupportedField");
        }
        return nullptr;
    }
    return std::make_unique<WdxPlugin>(std::move(library), entries);
}

WdxPlugin::WdxPlugin(std::unique_ptr<Library> library, const Entries& entries)
    : library_(std::move(library)), entries_(entries) {
    exports_.detect_string = entries.detect_string != nullptr;
    exports_.supported_field = entries.supported_field != nullptr;
    exports_.get_value = entries.get_value != nullptr;
    exports_.get_value_w = entries.get_value_w != nullptr;
    exports_.set_default_params = entries.set_default_params != nullptr;
    exports_.unloading = entries.unloading != nullptr;
}

WdxPlugin::~WdxPlugin() {
    if (entries_.unloading != nullptr) entries_.unloading();
}

bool WdxPlugin::SetDefaultParams(std::uint32_t version_high, std::uint32_t version_low) {
    if (entries_.set_default_params == nullptr) return false;
    TkestWDXDefaultParams params{};
    params.Size = static_cast<std::int32_t>(sizeof(params));
    params.VersionLow = version_low;
    params.VersionHigh = version_high;
    constexpr std::string_view kIniFile = "wdxprobe.ini";
    std::copy(kIniFile.begin(), kIniFile.end(), params.IniFileName);
    entries_.set_default_params(&params);
    return true;
}

std::optional<std::string> WdxPlugin::DetectString() const {
    if (entries_.detect_string == nullptr) return std::nullopt;
    std::array<char, kDetectStringSize> buffer{};
    entries_.detect_string(buffer.data(), kDetectStringSize);
    return PluginTextToUtf8(Terminated(buffer));
}

std::vector<FieldInfo> WdxPlugin::Fields(bool& truncated) const {
    std::vector<FieldInfo> fields;
    truncated = false;
    for (int index = 0;; ++index) {
        if (index == kMaxFields) {
            truncated = true;
            break;
        }
        std::array<char, kFieldBufferSize> name{};
        std::array<char, kFieldBufferSize> units{};
        const int type = entries_.supported_field(index, name.data(), units.data(), kFieldBufferSize);
        if (type == 0) break;  // ft_nomorefields
        FieldInfo field;
        field.index = index;
        field.name = PluginTextToUtf8(Terminated(name));
        field.type = type;
        field.units = SplitUnits(Terminated(units));
        fields.push_back(std::move(field));
    }
    return fields;
}

RawValue WdxPlugin::GetValue(const PluginFileName& name, bool wide, int field, int unit, int maxlen,
                             int flags) const {
    RawValue raw;
    raw.maxlen = static_cast<std::size_t>(std::max(maxlen, 0));
    raw.wide = wide;
    const std::size_t usable = std::max<std::size_t>(raw.maxlen, 8);
    std::vector<std::uint8_t> buffer(usable + kGuardSize, kFill);
    if (wide) {
        raw.code = entries_.get_value_w(name.wide.c_str(), field, unit, buffer.data(), maxlen, flags);
    } else {
        raw.code = entries_.get_value(name.narrow.c_str(), field, unit, buffer.data(), maxlen, flags);
    }
    // Numbers are written whole, 8 bytes at most, whatever the size; text stays below it.
    const std::size_t limit = IsNumeric(raw.code) ? usable : raw.maxlen;
    raw.overrun = std::any_of(buffer.begin() + static_cast<std::ptrdiff_t>(limit), buffer.end(),
                              [](std::uint8_t byte) { return byte != kFill; });
    buffer.resize(usable);
    raw.bytes = std::move(buffer);
    return raw;
}

Value WdxPlugin::FullText(const PluginFileName& name, bool wide, int field, int chunk) const {
    Value text;
    text.kind = ValueKind::FullText;
    text.code = ft_fulltext;
    std::uint64_t delivered = 0;
    while (true) {
        if (delivered > static_cast<std::uint64_t>(INT_MAX) || delivered > kMaxFullText) {
            text.note = "stopped after " + std::to_string(delivered) + " bytes";
            break;
        }
        const RawValue raw = GetValue(name, wide, field, static_cast<int>(delivered), chunk, 0);
        text.overrun = text.overrun || raw.overrun;
        if (raw.code != ft_fulltext) {
            if (raw.code == ft_fieldempty && !text.chunks.empty()) break;  // the end of the text
            if (text.chunks.empty()) return DecodeValue(raw);              // no text at all
            text.note = "stopped: the plugin answered " + std::to_string(raw.code) + " after " +
                        std::to_string(text.chunks.size()) + " chunks";
            break;
        }
        const Value part = DecodeValue(raw);
        const std::size_t limit = std::min(raw.maxlen, raw.bytes.size());
        const auto bytes = static_cast<std::size_t>(
            std::find(raw.bytes.begin(), raw.bytes.begin() + static_cast<std::ptrdiff_t>(limit), std::uint8_t{0}) -
            raw.bytes.begin());
        text.unterminated = text.unterminated || part.unterminated;
        if (bytes == 0) {
            text.note = "stopped: the plugin delivered an empty chunk";
            break;
        }
        text.chunks.push_back(Chunk{delivered, part.text});
        text.text += part.text;
        delivered += bytes;
    }
    return text;
}

}  // namespace wdxprobe

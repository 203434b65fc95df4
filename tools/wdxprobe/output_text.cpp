// The text form:
//
//   plugin     ./Orvane.wdx
//   exports    ContentGetDetectString ContentGetSupportedField ...
//   ...
//   fields     30
//      0  Exif   string (8-bit)
//
//   photo.jpg  (53012 bytes, detect string: accepted)
//      0  Exif   "yes"
#include "output.h"
#include "frame/wdx.h"
#include "text.h"
#include "value.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace wdxprobe {
namespace {

constexpr const char* kIndent = "           ";  // under the values of the header

std::string Pad(const std::string& text, std::size_t width) {
    const std::size_t shown = DisplayWidth(text);
    return shown >= width ? text : text + std::string(width - shown, ' ');
}

std::string PadLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (const std::string& item : items) {
        if (!out.empty()) out += separator;
        out += item;
    }
    return out;
}

class TextWriter : public ReportWriter {
public:
    explicit TextWriter(std::ostream& out) : out_(out) {}

    void Begin(const PluginReport& plugin) override {
        plugin_ = &plugin;
        const Exports& e = plugin.exports;
        std::vector<std::string> present;
        std::vector<std::string> absent;
        const auto note = [&](bool has, const char* name, const char* consequence) {
            if (has) {
                present.push_back(name);
            } else if (consequence != nullptr) {
                absent.push_back(std::string(name) + " (" + consequence + ")");
            }
        };
        note(e.detect_string, "ContentGetDetectString", "no detect string");
        note(e.supported_field, "ContentGetSupportedField", nullptr);
        note(e.get_value, "ContentGetValue", "no 8-bit file names");
        note(e.get_value_w, "ContentGetValueW", "no UTF-16 file names");
        note(e.set_default_params, "ContentSetDefaultParams", "no interface version handed over");
        note(e.unloading, "ContentPluginUnloading", nullptr);

        out_ << "plugin     " << plugin.path << "\n";
        out_ << "exports    " << Join(present, " ") << "\n";
        if (!absent.empty()) out_ << kIndent << "not exported: " << Join(absent, ", ") << "\n";
        out_ << "params     ";
        if (plugin.params_sent) {
            out_ << "interface " << plugin.version_high << "." << plugin.version_low << ", ini file wdxprobe.ini\n";
        } else if (e.set_default_params) {
            out_ << "not sent (--no-params)\n";
        } else {
            out_ << "not sent: ContentSetDefaultParams is not exported\n";
        }
        out_ << "values     " << (plugin.wide ? "ContentGetValueW" : "ContentGetValue") << ", buffer "
             << plugin.maxlen << " bytes, flags " << plugin.flags
             << (plugin.flags & CONTENT_DELAYIFSLOW ? " (delay if slow)" : "");
        if (plugin.fulltext) out_ << ", full text in chunks of " << plugin.chunk << " bytes";
        out_ << "\n";
        out_ << "detect     ";
        if (!plugin.detect_string) {
            out_ << "(none: ContentGetDetectString is not exported)\n";
        } else if (plugin.detect_string->empty()) {
            out_ << "(empty)\n";
        } else {
            out_ << *plugin.detect_string << "\n";
            if (!plugin.detect_error.empty()) out_ << kIndent << "cannot evaluate: " << plugin.detect_error << "\n";
        }

        std::vector<std::size_t> all(plugin.fields.size());
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
        const std::size_t name_width = NameWidth(all);
        if (!plugin.fields.empty()) index_width_ = std::to_string(plugin.fields.back().index).size();
        std::size_t type_width = 0;
        for (const FieldInfo& field : plugin.fields) type_width = std::max(type_width, TypeLabel(field.type).size());
        out_ << "fields     " << plugin.fields.size();
        if (plugin.fields_truncated) out_ << " (the plugin never answered 0; the list was cut here)";
        out_ << "\n";
        for (const FieldInfo& field : plugin.fields) {
            std::string line = "  " + PadLeft(std::to_string(field.index), index_width_) + "  " +
                               Pad(field.name, name_width) + "  " + TypeLabel(field.type);
            if (!field.units.empty()) {
                line = Pad(line, 6 + index_width_ + name_width + type_width) + "  units " + Join(field.units, "|");
            }
            out_ << line << "\n";
        }
        std::vector<std::size_t> shown;
        for (const int index : plugin.selected) shown.push_back(static_cast<std::size_t>(index));
        value_name_width_ = NameWidth(shown);
    }

    void File(const FileReport& file) override {
        if (!file.error.empty()) return;
        out_ << "\n" << file.name << "  (" << file.size << (file.size == 1 ? " byte" : " bytes")
             << ", detect string: " << DetectionText(file.detection) << ")\n";
        for (const FieldValue& entry : file.values) {
            const FieldInfo& field = plugin_->fields[static_cast<std::size_t>(entry.field)];
            const std::string lead = "  " + PadLeft(std::to_string(field.index), index_width_) + "  " +
                                     Pad(field.name, value_name_width_) + "  ";
            const Value& value = entry.value;
            out_ << lead << ValueText(value) << Remarks(field, value) << "\n";
            if (value.kind == ValueKind::FullText && plugin_->show_chunks) {
                const std::string under(DisplayWidth(lead), ' ');
                for (std::size_t i = 0; i < value.chunks.size(); ++i) {
                    out_ << under << "chunk " << i + 1 << " at " << value.chunks[i].offset << ": "
                         << QuoteForDisplay(value.chunks[i].text) << "\n";
                }
            }
        }
    }

    void End() override {}

private:
    // The widest of these fields' names, up to a limit beyond which lines just run longer.
    std::size_t NameWidth(const std::vector<std::size_t>& positions) const {
        std::size_t width = 0;
        for (const std::size_t i : positions) width = std::max(width, DisplayWidth(plugin_->fields[i].name));
        return std::min<std::size_t>(width, 40);
    }

    // Notes after a value: anything a plugin author should look at.
    static std::string Remarks(const FieldInfo& field, const Value& value) {
        std::string notes;
        if (IsTypeCode(value.code) && value.kind != ValueKind::NotFetched && value.code != field.type) {
            notes += "  [answered as " + TypeLabel(value.code) + "]";
        }
        if (value.kind == ValueKind::FullText && !value.chunks.empty()) {
            notes += "  [" + std::to_string(value.chunks.size()) + (value.chunks.size() == 1 ? " chunk]" : " chunks]");
        }
        if (!value.note.empty()) notes += "  [" + value.note + "]";
        if (value.unterminated) notes += "  [no zero terminator inside the buffer]";
        if (value.overrun) notes += "  [wrote past the end of the buffer]";
        return notes;
    }

    std::ostream& out_;
    const PluginReport* plugin_ = nullptr;
    std::size_t index_width_ = 1;
    std::size_t value_name_width_ = 0;
};

}  // namespace

const char* DetectionText(Detection detection) {
    switch (detection) {
        case Detection::Accepted: return "accepted";
        case Detection::Rejected: return "rejected";
        case Detection::CannotEvaluate: return "cannot evaluate";
        case Detection::NoDetectString: return "none";
    }
    return "";
}

std::unique_ptr<ReportWriter> MakeTextWriter(std::ostream& out) { return std::make_unique<TextWriter>(out); }

}  // namespace wdxprobe

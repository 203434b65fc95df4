// The JSON form: one document, keys always in the same order, one field or value per line.
//
//   {
//     "plugin": "./Orvane.wdx",
//     ...
//     "fields": [
//       {"index": 0, "name": "Exif", "type": "string", "type_code": 8, "units": []}
//     ],
//     "files": [
//       {
//         "name": "photo.jpg",
//         "size": 53012,
//         "accepted": true,
//         "values": [
//           {"index": 0, "name": "Exif", "result": 8, "type": "string", "value": "yes"}
//         ]
//       }
//     ]
//   }
#include "output.h"
#include "text.h"
#include "value.h"

#include <ostream>
#include <string>

namespace wdxprobe {
namespace {

const char* Bool(bool value) { return value ? "true" : "false"; }

std::string ValueMembers(const Value& value) {
    std::string out;
    if (value.kind != ValueKind::NotFetched) out += ", \"result\": " + std::to_string(value.code);
    out += ", \"type\": " + JsonString(KindId(value));
    switch (value.kind) {
        case ValueKind::Int32:
        case ValueKind::Int64: out += ", \"value\": " + std::to_string(value.number); break;
        case ValueKind::Boolean: out += std::string(", \"value\": ") + Bool(value.number != 0); break;
        case ValueKind::String:
        case ValueKind::WideString:
        case ValueKind::FullText: out += ", \"value\": " + JsonString(value.text); break;
        case ValueKind::Delayed: out += ", \"placeholder\": " + JsonString(value.text); break;
        case ValueKind::NotFetched: out += ", \"value\": null, \"note\": \"not fetched: use --fulltext\""; break;
        default: break;
    }
    if (!value.chunks.empty()) {
        out += ", \"chunks\": [";
        for (std::size_t i = 0; i < value.chunks.size(); ++i) {
            if (i > 0) out += ", ";
            out += "{\"offset\": " + std::to_string(value.chunks[i].offset) +
                   ", \"text\": " + JsonString(value.chunks[i].text) + "}";
        }
        out += "]";
    }
    if (!value.note.empty()) out += ", \"note\": " + JsonString(value.note);
    if (value.unterminated) out += ", \"unterminated\": true";
    if (value.overrun) out += ", \"overrun\": true";
    return out;
}

class JsonWriter : public ReportWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    void Begin(const PluginReport& plugin) override {
        plugin_ = &plugin;
        const Exports& e = plugin.exports;
        out_ << "{\n";
        out_ << "  \"plugin\": " << JsonString(plugin.path) << ",\n";
        out_ << "  \"exports\": {\"ContentGetDetectString\": " << Bool(e.detect_string)
             << ", \"ContentGetSupportedField\": " << Bool(e.supported_field)
             << ", \"ContentGetValue\": " << Bool(e.get_value) << ", \"ContentGetValueW\": " << Bool(e.get_value_w)
             << ", \"ContentSetDefaultParams\": " << Bool(e.set_default_params)
             << ", \"ContentPluginUnloading\": " << Bool(e.unloading) << "},\n";
        out_ << "  \"interface\": ";
        if (plugin.params_sent) {
            out_ << "{\"high\": " << plugin.version_high << ", \"low\": " << plugin.version_low << "},\n";
        } else {
            out_ << "null,\n";
        }
        out_ << "  \"entry\": " << JsonString(plugin.wide ? "ContentGetValueW" : "ContentGetValue") << ",\n";
        out_ << "  \"maxlen\": " << plugin.maxlen << ",\n";
        out_ << "  \"flags\": " << plugin.flags << ",\n";
        out_ << "  \"fulltext_chunk\": ";
        if (plugin.fulltext) {
            out_ << plugin.chunk << ",\n";
        } else {
            out_ << "null,\n";
        }
        out_ << "  \"detect_string\": " << (plugin.detect_string ? JsonString(*plugin.detect_string) : "null")
             << ",\n";
        out_ << "  \"detect_error\": " << (plugin.detect_error.empty() ? "null" : JsonString(plugin.detect_error))
             << ",\n";
        out_ << "  \"fields_truncated\": " << Bool(plugin.fields_truncated) << ",\n";
        out_ << "  \"fields\": [";
        for (std::size_t i = 0; i < plugin.fields.size(); ++i) {
            const FieldInfo& field = plugin.fields[i];
            out_ << (i > 0 ? ",\n    " : "\n    ") << "{\"index\": " << field.index
                 << ", \"name\": " << JsonString(field.name) << ", \"type\": " << JsonString(TypeId(field.type))
                 << ", \"type_code\": " << field.type << ", \"units\": [";
            for (std::size_t u = 0; u < field.units.size(); ++u) out_ << (u > 0 ? ", " : "") << JsonString(field.units[u]);
            out_ << "]}";
        }
        out_ << (plugin.fields.empty() ? "],\n" : "\n  ],\n");
        out_ << "  \"files\": [";
    }

    void File(const FileReport& file) override {
        out_ << (files_ > 0 ? ",\n" : "\n") << "    {\n";
        ++files_;
        out_ << "      \"name\": " << JsonString(file.name) << ",\n";
        if (!file.error.empty()) {
            out_ << "      \"error\": " << JsonString(file.error) << "\n    }";
            return;
        }
        out_ << "      \"size\": " << file.size << ",\n";
        out_ << "      \"accepted\": ";
        switch (file.detection) {
            case Detection::Accepted: out_ << "true"; break;
            case Detection::Rejected: out_ << "false"; break;
            default: out_ << "null"; break;
        }
        out_ << ",\n      \"values\": [";
        for (std::size_t i = 0; i < file.values.size(); ++i) {
            const FieldValue& entry = file.values[i];
            const FieldInfo& field = plugin_->fields[static_cast<std::size_t>(entry.field)];
            out_ << (i > 0 ? ",\n        " : "\n        ") << "{\"index\": " << field.index
                 << ", \"name\": " << JsonString(field.name) << ValueMembers(entry.value) << "}";
        }
        out_ << (file.values.empty() ? "]\n    }" : "\n      ]\n    }");
    }

    void End() override { out_ << (files_ > 0 ? "\n  ]\n}\n" : "]\n}\n"); }

private:
    std::ostream& out_;
    const PluginReport* plugin_ = nullptr;
    std::size_t files_ = 0;
};

}  // namespace

std::unique_ptr<ReportWriter> MakeJsonWriter(std::ostream& out) { return std::make_unique<JsonWriter>(out); }

}  // namespace wdxprobe

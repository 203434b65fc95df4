// The row formats, one file per line or record:
//
//   table                          csv                              jsonl
//   Integrity  Quality  file       file,Integrity,Quality,error     {"file": "a.jpg", "values": {"Integrity": "OK", "Quality": 92}}
//   OK         92       a.jpg      a.jpg,OK,92,
//   error: broken link  b.jpg      b.jpg,,,broken link              {"file": "b.jpg", "error": "broken link"}
#include "output.h"
#include "text.h"
#include "value.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace wdxprobe {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Control characters as \n, \r, \t or \xHH, so that a cell stays on its line.
std::string EscapeControls(std::string_view utf8) {
    std::string out;
    for (const char c : SanitizeUtf8(utf8)) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

const FieldInfo& FieldOf(const PluginReport& plugin, const FieldValue& entry) {
    return plugin.fields[static_cast<std::size_t>(entry.field)];
}

class TableWriter : public ReportWriter {
public:
    explicit TableWriter(std::ostream& out) : out_(out) {}

    void Begin(const PluginReport& plugin) override {
        Row header;
        for (const int index : plugin.selected) {
            header.cells.push_back(EscapeControls(plugin.fields[static_cast<std::size_t>(index)].name));
        }
        header.cells.push_back("file");
        Keep(std::move(header));
    }

    void File(const FileReport& file) override {
        Row row;
        row.error = !file.error.empty();
        if (row.error) {
            row.cells.push_back("error: " + EscapeControls(file.error));
        } else {
            for (const FieldValue& entry : file.values) row.cells.push_back(EscapeControls(CellText(entry.value)));
        }
        row.cells.push_back(EscapeControls(file.name));
        Keep(std::move(row));
    }

    void End() override { Flush(); }

private:
    // The cells of a line, the file name (or "file") last.
    struct Row {
        std::vector<std::string> cells;
        bool error = false;  // one message over the value columns
    };

    static constexpr std::size_t kSampleRows = 100;  // with the header, they size the columns

    void Keep(Row row) {
        if (sized_) {
            Print(row);
            return;
        }
        held_.push_back(std::move(row));
        if (held_.size() > kSampleRows) Flush();
    }

    void Flush() {
        if (sized_) return;
        sized_ = true;
        for (const Row& row : held_) {
            if (row.error) continue;
            if (widths_.size() + 1 < row.cells.size()) widths_.resize(row.cells.size() - 1, 0);
            for (std::size_t c = 0; c + 1 < row.cells.size(); ++c) {
                widths_[c] = std::max(widths_[c], DisplayWidth(row.cells[c]));
            }
        }
        for (const Row& row : held_) Print(row);
        held_.clear();
    }

    void Print(const Row& row) {
        std::string line;
        const auto pad = [&](const std::string& cell, std::size_t width) {
            const std::size_t shown = DisplayWidth(cell);
            line += cell + std::string((shown < width ? width - shown : 0) + 2, ' ');
        };
        if (row.error) {
            std::size_t span = 0;
            for (const std::size_t width : widths_) span += width + 2;
            pad(row.cells.front(), span >= 2 ? span - 2 : 0);
        } else {
            for (std::size_t c = 0; c + 1 < row.cells.size(); ++c) pad(row.cells[c], c < widths_.size() ? widths_[c] : 0);
        }
        out_ << line << row.cells.back() << "\n";
    }

    std::ostream& out_;
    std::vector<Row> held_;  // until the columns are sized
    std::vector<std::size_t> widths_;
    bool sized_ = false;
};

class CsvWriter : public ReportWriter {
public:
    explicit CsvWriter(std::ostream& out) : out_(out) {}

    void Begin(const PluginReport& plugin) override {
        columns_ = plugin.selected.size();
        std::string line = "file";
        for (const int index : plugin.selected) line += "," + CsvField(plugin.fields[static_cast<std::size_t>(index)].name);
        out_ << line << ",error\r\n";
    }

    void File(const FileReport& file) override {
        std::string line = CsvField(file.name);
        if (!file.error.empty()) {
            line += std::string(columns_, ',') + "," + CsvField(file.error);
        } else {
            for (const FieldValue& entry : file.values) line += "," + CsvField(CellText(entry.value));
            line += ",";
        }
        out_ << line << "\r\n";
    }

    void End() override {}

private:
    std::ostream& out_;
    std::size_t columns_ = 0;
};

class JsonLinesWriter : public ReportWriter {
public:
    explicit JsonLinesWriter(std::ostream& out) : out_(out) {}

    void Begin(const PluginReport& plugin) override { plugin_ = &plugin; }

    void File(const FileReport& file) override {
        std::string line = "{\"file\": " + JsonString(file.name);
        if (!file.error.empty()) {
            line += ", \"error\": " + JsonString(file.error);
        } else {
            line += ", \"values\": {";
            for (std::size_t i = 0; i < file.values.size(); ++i) {
                if (i > 0) line += ", ";
                line += JsonString(FieldOf(*plugin_, file.values[i]).name) + ": " + JsonValue(file.values[i].value);
            }
            line += "}";
        }
        out_ << line << "}\n";
    }

    void End() override {}

private:
    std::ostream& out_;
    const PluginReport* plugin_ = nullptr;
};

}  // namespace

std::string CellText(const Value& value) {
    switch (value.kind) {
        case ValueKind::String:
        case ValueKind::WideString:
        case ValueKind::FullText: return SanitizeUtf8(value.text);
        case ValueKind::Empty: return {};
        default: return ValueText(value);
    }
}

std::string CsvField(std::string_view text) {
    const std::string utf8 = SanitizeUtf8(text);
    if (utf8.find_first_of(",\"\r\n") == std::string::npos) return utf8;
    std::string out = "\"";
    for (const char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string JsonValue(const Value& value) {
    switch (value.kind) {
        case ValueKind::Int32:
        case ValueKind::Int64: return std::to_string(value.number);
        case ValueKind::Boolean: return value.number != 0 ? "true" : "false";
        case ValueKind::String:
        case ValueKind::WideString:
        case ValueKind::FullText: return JsonString(value.text);
        case ValueKind::Empty: return "null";
        case ValueKind::Delayed:
            return "{\"result\": " + std::to_string(value.code) + ", \"type\": \"delayed\", \"placeholder\": " +
                   JsonString(value.text) + "}";
        case ValueKind::NotFetched: return "{\"type\": \"fulltext\", \"note\": \"not fetched: use --fulltext\"}";
        default: return "{\"result\": " + std::to_string(value.code) + ", \"type\": " + JsonString(KindId(value)) + "}";
    }
}

std::unique_ptr<ReportWriter> MakeTableWriter(std::ostream& out) { return std::make_unique<TableWriter>(out); }
std::unique_ptr<ReportWriter> MakeCsvWriter(std::ostream& out) { return std::make_unique<CsvWriter>(out); }
std::unique_ptr<ReportWriter> MakeJsonLinesWriter(std::ostream& out) { return std::make_unique<JsonLinesWriter>(out); }

}  // namespace wdxprobe

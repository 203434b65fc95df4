// Printing a probe: the plugin's description once (where the format has one), then one file
// after another, so that files can be printed while the next ones are still being probed.
#pragma once

#include "report.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace wdxprobe {

class ReportWriter {
public:
    virtual ~ReportWriter() = default;
    // `plugin` must outlive the writer's use.
    virtual void Begin(const PluginReport& plugin) = 0;
    virtual void File(const FileReport& file) = 0;
    virtual void End() = 0;
};

// Aligned text for people; files that were not probed are left to the error stream.
std::unique_ptr<ReportWriter> MakeTextWriter(std::ostream& out);

// One JSON document with a fixed key order.
std::unique_ptr<ReportWriter> MakeJsonWriter(std::ostream& out);

// One line per file: the selected fields' values in columns under their names, the file name
// last. The columns are as wide as the first 100 rows need; a longer value later only pushes
// the rest of its own line to the right, so that rows are printed as they come.
std::unique_ptr<ReportWriter> MakeTableWriter(std::ostream& out);

// RFC 4180: a header row ("file", the field names, "error"), then one row per file; fields
// quoted when they hold a comma, a quote or a line break; lines end with CR LF.
std::unique_ptr<ReportWriter> MakeCsvWriter(std::ostream& out);

// JSON Lines: one object per file, {"file": ..., "values": {NAME: VALUE, ...}} or
// {"file": ..., "error": ...}.
std::unique_ptr<ReportWriter> MakeJsonLinesWriter(std::ostream& out);

// A value as one table or CSV cell: numbers in decimal, true or false, texts as they are,
// nothing for the empty value, and the words of the text form for answers without a value.
std::string CellText(const Value& value);

// The text as RFC 4180 writes a field.
std::string CsvField(std::string_view text);

// A value as a JSON value: numbers, true or false, strings, null for the empty value, and an
// object with the result code for answers without a value.
std::string JsonValue(const Value& value);

// How a file fared with the detect string, in words.
const char* DetectionText(Detection detection);

}  // namespace wdxprobe

#include "frame/wdx.h"
#include "output.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace wdxprobe {
namespace {

Value Make(ValueKind kind, int code, std::int64_t number = 0, std::string text = {}) {
    Value value;
    value.kind = kind;
    value.code = code;
    value.number = number;
    value.text = std::move(text);
    return value;
}

TEST(Rows, CsvFieldsQuotedOnlyWhenNeeded) {
    EXPECT_EQ(CsvField("plain text"), "plain text");
    EXPECT_EQ(CsvField(""), "");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(CsvField("tab\there"), "tab\there");
    EXPECT_EQ(CsvField("bad \xFF byte"), "bad \xEF\xBF\xBD byte");
}

TEST(Rows, CellsAndJsonValues) {
    struct Case {
        Value value;
        const char* cell;
        const char* json;
    };
    const Case cases[] = {
        {Make(ValueKind::Int32, ft_numeric_32, -7), "-7", "-7"},
        {Make(ValueKind::Int64, ft_numeric_64, 5000000000), "5000000000", "5000000000"},
        {Make(ValueKind::Boolean, ft_boolean, 1), "true", "true"},
        {Make(ValueKind::WideString, ft_stringw, 0, "say \"hi\""), "say \"hi\"", "\"say \\\"hi\\\"\""},
        {Make(ValueKind::String, ft_string, 0, ""), "", "\"\""},
        {Make(ValueKind::Empty, ft_fieldempty), "", "null"},
        {Make(ValueKind::FileError, ft_fileerror), "(file error)", "{\"result\": -2, \"type\": \"fileerror\"}"},
        {Make(ValueKind::Delayed, ft_delayed, 0, "Decoding..."), "(delayed: Decoding...)",
         "{\"result\": 0, \"type\": \"delayed\", \"placeholder\": \"Decoding...\"}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CellText(c.value), c.cell) << c.json;
        EXPECT_EQ(JsonValue(c.value), c.json) << c.cell;
    }
}

// A report of two fields, as the writers see it.
PluginReport TwoFields() {
    PluginReport plugin;
    plugin.fields = {{0, "Integrity", ft_stringw, {}}, {1, "Quality", ft_numeric_32, {}}};
    plugin.selected = {0, 1};
    return plugin;
}

FileReport Row(std::string name, std::string integrity, std::int64_t quality) {
    FileReport file;
    file.name = std::move(name);
    file.values = {{0, Make(ValueKind::WideString, ft_stringw, 0, std::move(integrity))},
                   {1, Make(ValueKind::Int32, ft_numeric_32, quality)}};
    return file;
}

FileReport ErrorRow(std::string name, std::string error) {
    FileReport file;
    file.name = std::move(name);
    file.error = std::move(error);
    return file;
}

std::string Write(std::unique_ptr<ReportWriter> (*make)(std::ostream&), const std::vector<FileReport>& files) {
    std::ostringstream out;
    const PluginReport plugin = TwoFields();
    const auto writer = make(out);
    writer->Begin(plugin);
    for (const FileReport& file : files) writer->File(file);
    writer->End();
    return out.str();
}

TEST(Rows, TableAlignsValuesAndPutsTheNameLast) {
    const std::string table = Write(MakeTableWriter, {Row("a.jpg", "OK", 92), ErrorRow("b.jpg", "broken link"),
                                                      Row("some/c.jpg", "Corrupted (5% read)\n", 7)});
    EXPECT_EQ(table,
              "Integrity              Quality  file\n"
              "OK                     92       a.jpg\n"
              "error: broken link              b.jpg\n"
              "Corrupted (5% read)\\n  7        some/c.jpg\n");
}

TEST(Rows, TableRowsAfterTheSampleKeepTheirColumns) {
    std::vector<FileReport> files(101, Row("a.jpg", "OK", 1));
    files.push_back(Row("late.jpg", "a much longer value", 100));
    const std::string table = Write(MakeTableWriter, files);
    EXPECT_EQ(table.substr(0, 20), "Integrity  Quality  ");
    EXPECT_NE(table.find("\nOK         1        a.jpg\n"), std::string::npos);
    EXPECT_TRUE(table.ends_with("\na much longer value  100      late.jpg\n"));
}

TEST(Rows, CsvAndJsonLines) {
    const std::vector<FileReport> files = {Row("a, b.jpg", "OK", 92), ErrorRow("c.jpg", "vanished")};
    EXPECT_EQ(Write(MakeCsvWriter, files),
              "file,Integrity,Quality,error\r\n"
              "\"a, b.jpg\",OK,92,\r\n"
              "c.jpg,,,vanished\r\n");
    EXPECT_EQ(Write(MakeJsonLinesWriter, files),
              "{\"file\": \"a, b.jpg\", \"values\": {\"Integrity\": \"OK\", \"Quality\": 92}}\n"
              "{\"file\": \"c.jpg\", \"error\": \"vanished\"}\n");
}

}  // namespace
}  // namespace wdxprobe

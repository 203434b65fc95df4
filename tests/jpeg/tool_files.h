// Where the tests find the files made by real tools (written natively before the tests run
// by make_tool_files.sh) and the corpus of real files made by others.
#pragma once

#include "support/temp_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

inline std::filesystem::path FromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return std::filesystem::path(value && *value ? value : fallback);
}

inline std::filesystem::path ToolDir() { return FromEnvironment("ORVANE_JPEG_TOOL_DIR", ORVANE_JPEG_TOOL_DIR); }
inline std::filesystem::path CorpusDir() { return FromEnvironment("ORVANE_CORPUS", ORVANE_CORPUS_DEFAULT); }

// Whether the setup step found `tool` (cjpeg, jpegtran, exiftool) and made its files.
inline bool HasTool(const std::string& tool) {
    std::ifstream in(ToolDir() / "tools.txt");
    std::string line;
    while (std::getline(in, line))
        if (line == tool) return true;
    return false;
}

// The rows of a tab-separated file, each split into its fields.
inline std::vector<std::vector<std::string>> ReadTsv(const std::filesystem::path& path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        std::stringstream fieldStream(line);
        std::string field;
        while (std::getline(fieldStream, field, '\t')) fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

#define SKIP_WITHOUT_TOOL(tool) \
    if (!HasTool(tool)) GTEST_SKIP() << tool " was not found when the tool files were made in " << ToolDir()

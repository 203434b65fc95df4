// A temporary folder per test, removed with everything in it when the test ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    // Writes `bytes` to the file `name` in this folder and returns its full path as UTF-16.
    std::u16string Write(std::string_view name, const Bytes& bytes) const;

private:
    std::filesystem::path path_;
};

// A path as the UTF-16 file name a host passes.
std::u16string WideName(const std::filesystem::path& path);

void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadFile(const std::filesystem::path& path);

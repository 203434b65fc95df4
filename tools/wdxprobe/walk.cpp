#include "walk.h"
#include "os.h"
#include "text.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace wdxprobe {

Walker::Walker(std::vector<std::string> arguments, bool recursive)
    : arguments_(std::move(arguments)), recursive_(recursive) {}

std::optional<Target> Walker::Enter(const std::filesystem::path& folder) {
    const auto failure = [&](const std::string& message) {
        return Target{folder, PathToUtf8(folder), false, message};
    };
    if (stack_.size() >= kMaxFolderDepth) {
        return failure("nested deeper than " + std::to_string(kMaxFolderDepth) + " folders: not walked");
    }
    Level level;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) level.entries.push_back(*it);
    if (ec) return failure("cannot list the folder: " + SanitizeUtf8(ec.message()));
    std::sort(level.entries.begin(), level.entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename().native() < b.path().filename().native();
    });
    stack_.push_back(std::move(level));
    return std::nullopt;
}

std::optional<Target> Walker::Visit(const std::filesystem::directory_entry& entry) {
    const std::filesystem::path& path = entry.path();
    std::error_code ec;
    const std::filesystem::file_status own = entry.symlink_status(ec);
    if (std::filesystem::is_symlink(own)) {
        const std::filesystem::file_status target = std::filesystem::status(path, ec);
        if (!std::filesystem::exists(target)) {
            const std::filesystem::path to = std::filesystem::read_symlink(path, ec);
            return Target{path, PathToUtf8(path), false, "broken link to " + PathToUtf8(to)};
        }
        if (std::filesystem::is_regular_file(target)) return Target{path, PathToUtf8(path), false, {}};
        return std::nullopt;  // a link to a folder (a way into cycles) or to a device
    }
    if (std::filesystem::is_directory(own)) return Enter(path);
    if (std::filesystem::is_regular_file(own)) return Target{path, PathToUtf8(path), false, {}};
    if (ec) return Target{path, PathToUtf8(path), false, "cannot tell what it is: " + SanitizeUtf8(ec.message())};
    return std::nullopt;
}

std::optional<Target> Walker::Next() {
    while (true) {
        if (!stack_.empty()) {
            Level& level = stack_.back();
            if (level.next == level.entries.size()) {
                stack_.pop_back();
                continue;
            }
            // Copied: Visit may push a level, which moves the one this entry lives in.
            const std::filesystem::directory_entry entry = level.entries[level.next++];
            if (auto target = Visit(entry)) return target;
            continue;
        }
        if (argument_ == arguments_.size()) return std::nullopt;
        const std::string& argument = arguments_[argument_++];
        const std::filesystem::path path = PathFromUtf8(argument);
        std::error_code ec;
        if (recursive_ && std::filesystem::is_directory(path, ec)) {
            if (auto failure = Enter(path)) {
                failure->name = argument;
                failure->named = true;
                return failure;
            }
            continue;
        }
        return Target{path, argument, true, {}};
    }
}

}  // namespace wdxprobe

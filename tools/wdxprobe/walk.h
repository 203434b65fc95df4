// The files to probe, from the command line's arguments: each argument as it is, or with -r
// each folder walked in a fixed order. The walk yields one file at a time and holds only the
// entries of the folders it is in, so that a collection of any size costs little memory.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace wdxprobe {

struct Target {
    std::filesystem::path path;
    std::string name;    // UTF-8, as printed: the argument, or a folder argument and the names below it
    bool named = true;   // given on the command line: asked about whatever the detect string says
    std::string error;   // what the walk found wrong (a folder it cannot list, a broken link), or empty
};

// Folders nested deeper than this below an argument are reported, not walked: a guard against
// cycles the walk cannot see (bind mounts, junctions).
inline constexpr std::size_t kMaxFolderDepth = 256;

class Walker {
public:
    // `arguments` as given (UTF-8). Without `recursive` every argument is one target.
    Walker(std::vector<std::string> arguments, bool recursive);

    // The next target, or nullopt after the last. Within a folder the entries come in byte
    // order of their names, each subfolder's files where its name sorts. Links to files are
    // followed, links to folders are not (a folder argument that is a link is); entries that
    // are neither files nor folders (devices, pipes, sockets) are passed over.
    std::optional<Target> Next();

private:
    struct Level {
        std::vector<std::filesystem::directory_entry> entries;
        std::size_t next = 0;
    };

    // Lists `folder` onto the stack; on failure the target that reports it.
    std::optional<Target> Enter(const std::filesystem::path& folder);
    // What the entry `entry` is to the walk: a target, or nothing to ask about (nullopt).
    std::optional<Target> Visit(const std::filesystem::directory_entry& entry);

    std::vector<std::string> arguments_;
    std::size_t argument_ = 0;
    bool recursive_ = false;
    std::vector<Level> stack_;
};

}  // namespace wdxprobe

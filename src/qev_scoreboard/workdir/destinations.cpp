#include "qev_scoreboard/workdir/destinations.hpp"

#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "qev_scoreboard/platform/destination.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"

namespace qev_scoreboard {

namespace {

// Where `path` leads for a write, or nullopt when nothing is there or it cannot be looked up (the write
// itself then reports why). A link another user planted is refused.
std::optional<platform::FileInfo> destination_of(const fs::path& path) {
    try {
        platform::Destination at = platform::resolve_destination(path, "yazılamadı");
        if (at.exists) return at.info;
    } catch (const ForeignLinkRefused&) {
        throw;
    } catch (const FileError&) {
    }
    return std::nullopt;
}

bool same_destination(const fs::path& a, const fs::path& b) {
    const auto x = destination_of(a), y = destination_of(b);
    return x && y && platform::same_file(*x, *y);
}

}  // namespace

void check_destinations(const std::vector<fs::path>& paths) {
    std::map<std::pair<std::uint64_t, std::uint64_t>, const fs::path*> reached;
    for (const fs::path& path : paths) {
        const auto info = destination_of(path);
        if (!info) continue;
        const auto [first, added] = reached.emplace(std::pair{info->device, info->file_id}, &path);
        if (added) continue;
        // A file another run made meanwhile may have taken the number of one that run replaced: only names
        // that lead to one file when looked at again, and again, are one file.
        if (!same_destination(*first->second, path) || !same_destination(path, *first->second)) {
            first->second = &path;
            continue;
        }
        // A name linked to another (or a second hard link): one would be written over the other.
        throw FileError("yazılamadı", path, EINVAL, platform::path_to_utf8(*first->second) + " ile aynı dosya");
    }
}

}  // namespace qev_scoreboard

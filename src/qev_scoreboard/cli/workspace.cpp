// The pieces of a work directory that init and the auto-sync share: the version stamp, the listing of
// the package's notebooks, the left-overs of killed runs and the check of what a run will write.
#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/kept_copies.hpp"
#include "qev_scoreboard/cli/sync.hpp"
#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/platform/replace.hpp"
#include "qev_scoreboard/services/paths.hpp"

namespace qev_scoreboard {

namespace {

// Longer than any version text, however padded: such a stamp is not one, and is not read in whole.
constexpr size_t MAX_STAMP_SIZE = 4096;

}  // namespace

fs::path version_stamp_path(const fs::path& base) { return base / "db" / ".nb_version"; }

std::string read_version_stamp(const fs::path& base) {
    const fs::path path = version_stamp_path(base);
    if (!path_exists(path)) return "";
    std::string text;
    try {
        text = read_utf8_file(path, MAX_STAMP_SIZE);
    } catch (const FileError& e) {
        // Not a version text (damaged, or some other file in its place): no version is recorded, and the
        // run writes the stamp anew rather than failing for ever.
        if (e.code().value() == EILSEQ || e.code().value() == EFBIG) return "";
        throw;
    }
    // White space of every kind: a stamp someone padded in an editor still names the version inside it.
    return trim_unicode_space(text);
}

void write_version_stamp(const fs::path& base, const std::string& version) {
    const fs::path path = version_stamp_path(base);
    write_file_atomic(path, version);
    sync_directory(path.parent_path());
}

PackageFile open_package_file(const fs::path& path) {
    PackageFile f{path, open_regular_for_reading(path), {}, {}};
    f.info = platform::info(f.file.get(), path);
    f.fingerprint = fingerprint_of_open_file(f.file.get(), path);
    return f;
}

void install_package_file(const PackageFile& package_file, const fs::path& dst, Flush flush) {
    rewind_for_reading(package_file.file.get(), package_file.path);
    copy_open_file_atomic(package_file.file.get(), package_file.info, package_file.path, dst, flush);
}

std::vector<std::string> installable_notebooks(const fs::path& nb_dir) {
    // A broken installation, not a package without notebooks: nothing may be recorded as installed.
    require_directory(nb_dir, "listelenemedi");
    std::vector<std::string> names = list_package_notebooks(nb_dir);
    std::erase(names, INGEST_NOTEBOOK);
    return names;
}

void remove_left_overs(const fs::path& base) {
    for (const fs::path& dir : {base, base / "db", base / "external_data"})
        platform::remove_left_over_temporaries_in(dir);
    remove_abandoned_folders(base);
}

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

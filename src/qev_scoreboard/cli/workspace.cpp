// The pieces of a work directory that init and the auto-sync share: the version stamp and the
// listing of the package's notebooks.
#include <cerrno>

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/sync.hpp"
#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/services/paths.hpp"

namespace qev_scoreboard {

namespace {

fs::path stamp_path(const fs::path& base) { return base / "db" / ".nb_version"; }

// Longer than any version text, however padded: such a stamp is not one, and is not read in whole.
constexpr size_t MAX_STAMP_SIZE = 4096;

}  // namespace

std::string read_version_stamp(const fs::path& base) {
    const fs::path path = stamp_path(base);
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
    const fs::path path = stamp_path(base);
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

}  // namespace qev_scoreboard

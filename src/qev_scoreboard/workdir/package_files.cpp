#include "qev_scoreboard/workdir/package_files.hpp"

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/services/paths.hpp"
#include "qev_scoreboard/workdir/facts.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"

namespace qev_scoreboard {

PackageFile open_package_file(const fs::path& path, const platform::FileInfo* seen, const std::string* fingerprint,
                              std::chrono::system_clock::time_point looked_at, bool fingerprint_it) {
    PackageFile f{path, open_regular_for_reading(path), {}, {}};
    f.info = platform::info(f.file.get(), path);
    // The access time as it was before that look read the file: a copy carries the package's own.
    if (seen != nullptr && platform::same_file(*seen, f.info) && seen->modified == f.info.modified)
        f.info.accessed = seen->accessed;
    if (seen != nullptr && fingerprint != nullptr && unchanged_since(*seen, looked_at, f.info))
        f.fingerprint = *fingerprint;
    else if (fingerprint_it)
        f.fingerprint = fingerprint_of_open_file(f.file.get(), path);
    return f;
}

std::vector<std::string> installable_notebooks(const fs::path& nb_dir) {
    // A broken installation, not a package without notebooks: nothing may be recorded as installed.
    require_directory(nb_dir, "listelenemedi");
    std::vector<std::string> names = list_package_notebooks(nb_dir);
    std::erase(names, layout::INGEST_NOTEBOOK);
    return names;
}

}  // namespace qev_scoreboard

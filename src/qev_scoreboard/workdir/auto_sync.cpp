// The notebook auto-sync offered to callers outside the program: when the package version changed since
// the work directory was last synchronised, reinstall its notebooks and clear the stale error reports.
#include "qev_scoreboard/workdir/auto_sync.hpp"

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/qev_scoreboard.hpp"
#include "qev_scoreboard/services/paths.hpp"
#include "qev_scoreboard/services/services.hpp"
#include "qev_scoreboard/workdir/destinations.hpp"
#include "qev_scoreboard/workdir/error_reports.hpp"
#include "qev_scoreboard/workdir/kept_copies.hpp"
#include "qev_scoreboard/workdir/left_overs.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"
#include "qev_scoreboard/workdir/stop.hpp"

namespace qev_scoreboard {

void sync_notebooks(const fs::path& base, std::vector<std::string>* kept_out) {
    // A mistyped path would otherwise become a new directory of notebooks, and the real one stay stale.
    require_directory(base, "güncellenemedi");
    make_directories(layout::db_dir(base));
    const std::string current = read_version_stamp(base);
    const std::string version = services().version();
    if (current == version) return;
    remove_left_overs(base);

    const fs::path nb_dir = get_notebooks_dir();
    const InstallRecord record = read_install_record(base);
    KeptCopies kept(base, record);
    if (kept_out != nullptr) kept.on_kept([kept_out](const std::vector<std::string>& all) { *kept_out = all; });
    std::vector<std::string> updated;
    int silinen = 0;
    try {
        const std::vector<std::string> names = installable_notebooks(nb_dir);
        std::vector<fs::path> destinations;
        for (const std::string& name : names) destinations.push_back(base / platform::path_from_utf8(name));
        destinations.push_back(layout::install_record_path(base));
        destinations.push_back(layout::version_stamp_path(base));
        std::optional<Seasons> seasons;
        for (fs::path& meta : meta_files_of(base, names, seasons)) destinations.push_back(std::move(meta));
        check_destinations(destinations);

        // The data readme is init's alone: what the record says of it stays.
        Fingerprints installed;
        if (const auto readme = record.files.find(layout::data_readme_rel()); readme != record.files.end())
            installed.insert(*readme);
        for (const auto& name : names) {
            stop_point(base);
            const PackageFile src = open_package_file(nb_dir / platform::path_from_utf8(name));
            kept.keep_if_changed(name, src.fingerprint);
            stop_point(base);
            install_package_file(src, base / platform::path_from_utf8(name), Flush::ByCaller);
            installed[name] = src.fingerprint;
            updated.push_back(name);
        }
        stop_point(base);
        write_install_record(base, record, installed);
        update_meta_hashes(base, updated, seasons);
        stop_point(base);
        silinen = remove_error_reports(base);
        // The stamp names what this run did: the notebooks, the record, the meta files' renames and the
        // deletions reach the disk first, all in one flush.
        sync_filesystem(base);
        stop_point(base);
        // Recorded last, so a run that fails or is interrupted before here is done again by the next one.
        write_version_stamp(base, version);
    } catch (...) {
        // However the run ends, the user learns where the work it kept is.
        for (const std::string& copy : kept.kept()) print_line("  [SYNC] Yedeklendi: " + printable(copy));
        throw;
    }

    const std::string count = " (" + std::to_string(updated.size()) + " dosya)";
    if (!current.empty())
        print_line("  [SYNC] Notebook'lar güncellendi: v" + current + " → v" + version + count);
    else
        print_line("  [SYNC] Notebook'lar kopyalandı: v" + version + count);
    for (const std::string& copy : kept.kept()) print_line("  [SYNC] Yedeklendi: " + printable(copy));
    if (silinen != 0) print_line("  [SYNC] " + std::to_string(silinen) + " eski error_report temizlendi");
}

void _sync_notebooks(const fs::path& base) { sync_notebooks(base, nullptr); }

}  // namespace qev_scoreboard

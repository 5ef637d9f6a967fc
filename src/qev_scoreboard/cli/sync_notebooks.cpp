// The notebook auto-sync offered to callers outside the program: when the package version changed since
// the work directory was last synchronised, reinstall its notebooks and clear the stale error reports.
#include <cerrno>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qev_scoreboard/cli/kept_copies.hpp"
#include "qev_scoreboard/cli/output.hpp"
#include "qev_scoreboard/cli/sync.hpp"
#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/services/paths.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

namespace {

constexpr std::string_view ERROR_REPORT = "error_report.txt";

// Every error report under `seasons`, at any depth, itself included; links to directories are not
// descended into. Collected before any deletion so the walk never sees a directory change under it.
// A directory we may not list holds nothing we could delete: it is passed over, not a reason to leave
// the reports elsewhere in place.
std::vector<fs::path> find_error_reports(const fs::path& seasons) {
    std::vector<fs::path> found;
    if (!leads_to_directory(seasons)) return found;
    std::vector<fs::path> pending{seasons};
    while (!pending.empty()) {
        const fs::path dir = std::move(pending.back());
        pending.pop_back();
        std::vector<DirEntry> entries;
        try {
            entries = list_directory(dir);
        } catch (const FileError& e) {
            if (e.code().value() == EACCES || e.code().value() == EPERM) continue;
            throw;
        }
        for (const DirEntry& entry : entries) {
            if (platform::same_entry_name(entry.name, ERROR_REPORT))
                found.push_back(dir / platform::path_from_utf8(entry.name));
            if (entry.is_directory) pending.push_back(dir / platform::path_from_utf8(entry.name));
        }
    }
    return found;
}

int remove_error_reports(const fs::path& base) {
    int silinen = 0;
    for (const auto& report : find_error_reports(base / "seasons")) silinen += remove_file(report);
    // The two fixed places count only when something is really there: a dangling link is no report.
    for (const fs::path& report : {base / "outputs" / "json" / ERROR_REPORT, base / "outputs" / ERROR_REPORT})
        if (path_exists(report)) silinen += remove_file(report);
    return silinen;
}

}  // namespace

void _sync_notebooks(const fs::path& base) {
    // A mistyped path would otherwise become a new directory of notebooks, and the real one stay stale.
    require_directory(base, "güncellenemedi");
    make_directories(base / "db");
    const std::string current = read_version_stamp(base);
    const std::string version = services().version();
    if (current == version) return;

    const fs::path nb_dir = get_notebooks_dir();
    const InstallRecord record = read_install_record(base);
    KeptCopies kept(base, record);
    // The data readme is init's alone: what the record says of it stays.
    Fingerprints installed;
    if (const auto readme = record.files.find(std::string(README_IN_WORK_DIR)); readme != record.files.end())
        installed.insert(*readme);
    std::vector<std::string> updated;
    for (const auto& name : installable_notebooks(nb_dir)) {
        const PackageFile src = open_package_file(nb_dir / platform::path_from_utf8(name));
        kept.keep_if_changed(name, src.fingerprint);
        install_package_file(src, base / platform::path_from_utf8(name), Flush::ByCaller);
        installed[name] = src.fingerprint;
        updated.push_back(name);
    }
    write_install_record(base, record, installed);
    _update_meta_hashes(base, updated);
    const int silinen = remove_error_reports(base);
    // The stamp names what this run did: the notebooks, the record, the meta files' renames and the
    // deletions reach the disk first, all in one flush.
    sync_filesystem(base);
    // Recorded last, so a run that fails or is interrupted before here is done again by the next one.
    write_version_stamp(base, version);

    const std::string count = " (" + std::to_string(updated.size()) + " dosya)";
    if (!current.empty())
        print_line("  [SYNC] Notebook'lar güncellendi: v" + current + " → v" + version + count);
    else
        print_line("  [SYNC] Notebook'lar kopyalandı: v" + version + count);
    for (const std::string& copy : kept.kept()) print_line("  [SYNC] Yedeklendi: " + printable(copy));
    if (silinen != 0) print_line("  [SYNC] " + std::to_string(silinen) + " eski error_report temizlendi");
}

}  // namespace qev_scoreboard

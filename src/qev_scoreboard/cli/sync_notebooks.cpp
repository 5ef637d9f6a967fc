// The notebook auto-sync offered to callers outside the program: when the package version changed since
// the work directory was last synchronised, reinstall its notebooks and clear the stale error reports.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "qev_scoreboard/cli/cli.hpp"
#include "qev_scoreboard/cli/fs_util.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

namespace {

constexpr std::string_view ERROR_REPORT = "error_report.txt";

// Deletes the error report at `path`: a link is deleted as a link; a directory of that name is no report
// and stays. Returns whether something was deleted.
bool remove_error_report(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        throw_errno("erişilemedi", path, errno);
    }
    if (S_ISDIR(st.st_mode)) return false;
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT) return false;  // gone meanwhile: not ours to count
        throw_errno("silinemedi", path, errno);
    }
    return true;
}

// Every error report under `seasons`, at any depth, itself included; links to directories are not
// descended into. Collected before any deletion so the walk never sees a directory change under it.
// Walked by hand so that a directory that cannot be listed is named in the error.
std::vector<fs::path> find_error_reports(const fs::path& seasons) {
    std::vector<fs::path> found;
    if (!path_exists(seasons) || !fs::is_directory(seasons)) return found;
    std::vector<fs::path> pending{seasons};
    while (!pending.empty()) {
        const fs::path dir = std::move(pending.back());
        pending.pop_back();
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->path().filename() == ERROR_REPORT) found.push_back(it->path());
            std::error_code type_ec;
            if (fs::is_directory(it->symlink_status(type_ec))) pending.push_back(it->path());
            if (type_ec && type_ec != std::errc::no_such_file_or_directory)
                throw fs::filesystem_error("erişilemedi", it->path(), type_ec);
        }
        if (ec) throw fs::filesystem_error("dizin okunamadı", dir, ec);
    }
    return found;
}

int remove_error_reports(const fs::path& base) {
    int silinen = 0;
    for (const auto& report : find_error_reports(base / "seasons")) silinen += remove_error_report(report);
    // The two fixed places count only when something is really there: a dangling link is no report.
    for (const fs::path& report : {base / "outputs" / "json" / ERROR_REPORT, base / "outputs" / ERROR_REPORT})
        if (path_exists(report)) silinen += remove_error_report(report);
    return silinen;
}

}  // namespace

void _sync_notebooks(const fs::path& base) {
    make_directories(base / "db");
    const std::string current = read_version_stamp(base);
    const std::string version = services().version();
    if (current == version) return;

    const fs::path nb_dir = services().get_notebooks_dir();
    std::vector<std::string> updated;
    for (const auto& name : installable_notebooks(nb_dir)) {
        copy_file_atomic(nb_dir / name, base / name);
        updated.push_back(name);
    }
    // Recorded before the refresh and the clean-up: if one of those fails, the next call does not redo them.
    write_version_stamp(base, version);
    _update_meta_hashes(base, updated);
    const int silinen = remove_error_reports(base);

    const std::string count = " (" + std::to_string(updated.size()) + " dosya)";
    if (!current.empty())
        print_line("  [SYNC] Notebook'lar güncellendi: v" + current + " → v" + version + count);
    else
        print_line("  [SYNC] Notebook'lar kopyalandı: v" + version + count);
    if (silinen != 0) print_line("  [SYNC] " + std::to_string(silinen) + " eski error_report temizlendi");
}

}  // namespace qev_scoreboard

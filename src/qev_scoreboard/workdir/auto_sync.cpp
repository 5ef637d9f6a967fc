// The notebook auto-sync offered to callers outside the program: when the package version changed since
// the work directory was last synchronised, reinstall its notebooks and clear the stale error reports.
#include "qev_scoreboard/workdir/auto_sync.hpp"

#include <string>
#include <vector>

#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/services/paths.hpp"
#include "qev_scoreboard/services/services.hpp"
#include "qev_scoreboard/workdir/apply.hpp"
#include "qev_scoreboard/workdir/kept_copies.hpp"
#include "qev_scoreboard/workdir/left_overs.hpp"
#include "qev_scoreboard/workdir/plan.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"

namespace qev_scoreboard {

void sync_notebooks(const fs::path& base, std::vector<std::string>* kept_out) {
    // A mistyped path would otherwise become a new directory of notebooks, and the real one stay stale.
    require_directory(base, "güncellenemedi");
    make_directories(layout::db_dir(base));
    const std::string current = read_version_stamp(base);
    const std::string version = services().version();
    if (current == version) return;
    remove_left_overs(base);

    InstallPlan plan = plan_install(base, get_notebooks_dir(), InstallPolicy::Sync, version);
    KeptCopies kept(base, plan.record);
    if (kept_out != nullptr) kept.on_kept([kept_out](const std::vector<std::string>& all) { *kept_out = all; });
    InstallResult result;
    try {
        result = apply_install(plan, kept);
    } catch (...) {
        // However the run ends, the user learns where the work it kept is.
        for (const std::string& copy : kept.kept()) print_line("  [SYNC] Yedeklendi: " + printable(copy));
        throw;
    }

    const std::string count = " (" + std::to_string(result.updated.size()) + " dosya)";
    if (!current.empty())
        print_line("  [SYNC] Notebook'lar güncellendi: v" + current + " → v" + version + count);
    else
        print_line("  [SYNC] Notebook'lar kopyalandı: v" + version + count);
    for (const std::string& copy : kept.kept()) print_line("  [SYNC] Yedeklendi: " + printable(copy));
    if (result.silinen != 0) print_line("  [SYNC] " + std::to_string(result.silinen) + " eski error_report temizlendi");
}

void _sync_notebooks(const fs::path& base) { sync_notebooks(base, nullptr); }

}  // namespace qev_scoreboard

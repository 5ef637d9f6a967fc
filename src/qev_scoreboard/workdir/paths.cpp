#include "qev_scoreboard/workdir/paths.hpp"

#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/platform/path_text.hpp"

namespace qev_scoreboard {

fs::path get_work_dir(const std::optional<std::string>& dir) {
    if (!dir) return current_directory();
    if (dir->empty()) return fs::path(".");
    return platform::path_from_utf8(*dir);
}

fs::path get_source_dir(const std::optional<std::string>& dir) { return layout::external_data_dir(get_work_dir(dir)); }
fs::path get_db_path(const std::optional<std::string>& dir) { return layout::database_path(get_work_dir(dir)); }
fs::path get_output_dir(const std::optional<std::string>& dir) { return layout::outputs_dir(get_work_dir(dir)); }

}  // namespace qev_scoreboard

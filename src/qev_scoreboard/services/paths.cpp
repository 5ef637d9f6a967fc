#include "qev_scoreboard/services/paths.hpp"

#include <algorithm>

#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

fs::path get_work_dir(const std::optional<std::string>& dir) {
    if (!dir) return current_directory();
    if (dir->empty()) return fs::path(".");
    return platform::path_from_utf8(*dir);
}

fs::path get_source_dir(const std::optional<std::string>& dir) { return get_work_dir(dir) / "external_data"; }
fs::path get_db_path(const std::optional<std::string>& dir) { return get_work_dir(dir) / "db" / "qev.duckdb"; }
fs::path get_output_dir(const std::optional<std::string>& dir) { return get_work_dir(dir) / "outputs"; }

fs::path get_notebooks_dir() { return services().data_dir() / "notebooks"; }
fs::path get_data_readme() { return services().data_dir() / "VERI_KOPYALA.txt"; }

std::vector<std::string> list_package_notebooks(const fs::path& nb_dir) {
    std::vector<std::string> names;
    auto entries = list_directory_if_present(nb_dir);
    if (!entries) return names;
    for (DirEntry& entry : *entries)
        if (entry.name.ends_with(".ipynb")) names.push_back(std::move(entry.name));
    // std::string compares bytes; for UTF-8 names byte order is code-point order.
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace qev_scoreboard

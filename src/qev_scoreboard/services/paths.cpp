#include "qev_scoreboard/services/paths.hpp"

#include <algorithm>

#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

fs::path get_notebooks_dir() { return services().data_dir() / std::string(layout::PACKAGE_NOTEBOOKS); }
fs::path get_data_readme() { return services().data_dir() / std::string(layout::DATA_README); }

std::vector<std::string> list_package_notebooks(const fs::path& nb_dir) {
    std::vector<std::string> names;
    auto entries = list_directory_if_present(nb_dir);
    if (!entries) return names;
    for (DirEntry& entry : *entries)
        if (entry.name.ends_with(layout::NOTEBOOK_SUFFIX)) names.push_back(std::move(entry.name));
    // std::string compares bytes; for UTF-8 names byte order is code-point order.
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace qev_scoreboard

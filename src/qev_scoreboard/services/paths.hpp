#pragma once
// Where things lie: the work directory and its parts for a --dir value, and the package's data.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The work directory for a --dir value: absent gives the current directory, "" gives ".", anything
// else is used exactly as typed.
fs::path get_work_dir(const std::optional<std::string>& dir);
fs::path get_source_dir(const std::optional<std::string>& dir);  // <work>/external_data
fs::path get_db_path(const std::optional<std::string>& dir);     // <work>/db/qev.duckdb
fs::path get_output_dir(const std::optional<std::string>& dir);  // <work>/outputs

// The directory whose *.ipynb entries are the package's notebooks.
fs::path get_notebooks_dir();
// The data readme copied to external_data/VERI_KOPYALA.txt.
fs::path get_data_readme();

// The package notebook names (*.ipynb directly in nb_dir), ascending by code point. A missing nb_dir,
// or one that is not a directory, yields none.
std::vector<std::string> list_package_notebooks(const fs::path& nb_dir);

}  // namespace qev_scoreboard

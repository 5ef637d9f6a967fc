#pragma once
// Where the package's data lies: its notebooks and its data readme.

#include <filesystem>
#include <string>
#include <vector>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The directory whose *.ipynb entries are the package's notebooks.
fs::path get_notebooks_dir();
// The data readme copied to external_data/VERI_KOPYALA.txt.
fs::path get_data_readme();

// The package notebook names (*.ipynb directly in nb_dir), ascending by code point. A missing nb_dir,
// or one that is not a directory, yields none.
std::vector<std::string> list_package_notebooks(const fs::path& nb_dir);

}  // namespace qev_scoreboard

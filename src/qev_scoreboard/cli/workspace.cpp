// The pieces of a work directory that init and the auto-sync share: the version stamp and the
// listing of the package's notebooks.
#include <algorithm>
#include <stdexcept>

#include "qev_scoreboard/cli/cli.hpp"
#include "qev_scoreboard/cli/fs_util.hpp"

namespace qev_scoreboard {

namespace {

fs::path stamp_path(const fs::path& base) { return base / "db" / ".nb_version"; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

std::string read_version_stamp(const fs::path& base) {
    const fs::path path = stamp_path(base);
    if (!path_exists(path)) return "";
    std::string text = read_file(path);
    if (!is_valid_utf8(text)) throw std::runtime_error(path.string() + ": geçerli UTF-8 değil");
    auto first = std::find_if_not(text.begin(), text.end(), is_space);
    auto last = std::find_if_not(text.rbegin(), text.rend(), is_space).base();
    return first < last ? std::string(first, last) : std::string();
}

void write_version_stamp(const fs::path& base, const std::string& version) {
    write_file_atomic(stamp_path(base), version);
}

std::vector<std::string> list_package_notebooks(const fs::path& nb_dir) {
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::is_directory(nb_dir, ec)) return names;
    for (const auto& entry : fs::directory_iterator(nb_dir)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 6 && name.ends_with(".ipynb")) names.push_back(std::move(name));
    }
    // std::string compares bytes; for UTF-8 names byte order is code-point order.
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace qev_scoreboard

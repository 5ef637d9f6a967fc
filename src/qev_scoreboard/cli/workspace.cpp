// The pieces of a work directory that init and the auto-sync share: the version stamp and the
// listing of the package's notebooks.
#include <algorithm>
#include <stdexcept>

#include "qev_scoreboard/cli/cli.hpp"
#include "qev_scoreboard/cli/fs_util.hpp"

namespace qev_scoreboard {

namespace {

fs::path stamp_path(const fs::path& base) { return base / "db" / ".nb_version"; }

bool is_space_code_point(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Decodes the code point starting at s[i] (valid UTF-8 assumed) and returns its length in bytes.
size_t decode_at(std::string_view s, size_t i, char32_t& cp) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    cp = len == 1 ? c : c & (0xFF >> (len + 1));
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return len;
}

// Strips white space, Unicode's included, from both ends of valid UTF-8 text: a stamp someone
// padded in an editor still names the version inside it.
std::string trim(std::string_view s) {
    size_t begin = 0, end = 0;
    bool seen = false;
    for (size_t i = 0; i < s.size();) {
        char32_t cp;
        const size_t len = decode_at(s, i, cp);
        if (!is_space_code_point(cp)) {
            if (!seen) begin = i;
            seen = true;
            end = i + len;
        }
        i += len;
    }
    return seen ? std::string(s.substr(begin, end - begin)) : std::string();
}

}  // namespace

std::string read_version_stamp(const fs::path& base) {
    const fs::path path = stamp_path(base);
    if (!path_exists(path)) return "";
    std::string text = read_file(path);
    if (!is_valid_utf8(text)) throw std::runtime_error(path.string() + ": geçerli UTF-8 değil");
    return trim(text);
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
        if (name.ends_with(".ipynb")) names.push_back(std::move(name));
    }
    // std::string compares bytes; for UTF-8 names byte order is code-point order.
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> installable_notebooks(const fs::path& nb_dir) {
    std::vector<std::string> names = list_package_notebooks(nb_dir);
    std::erase(names, INGEST_NOTEBOOK);
    return names;
}

}  // namespace qev_scoreboard

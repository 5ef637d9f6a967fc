#include "qev_scoreboard/core/self_location.hpp"

#include <stdexcept>
#include <string>
#include <vector>

#include "qev_scoreboard/build_config.hpp"
#include "qev_scoreboard/platform/path_text.hpp"
#include "qev_scoreboard/platform/self_location.hpp"

namespace qev_scoreboard {

namespace {

struct Location {
    fs::path prefix;
    std::string error;  // why `prefix` is empty
};

// `dir` less the trailing components of `rel`, or empty when it does not end with them.
fs::path strip_suffix(const fs::path& dir, const fs::path& rel) {
    std::vector<fs::path> parts(rel.begin(), rel.end());
    fs::path p = dir;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        if (p.filename() != *it) return {};
        p = p.parent_path();
    }
    return p;
}

Location locate() noexcept {
    fs::path file;
    try {
        file = platform::module_file();
    } catch (const std::exception& e) {
        return {{}, e.what()};
    }
    try {
        const fs::path dir = file.parent_path();
        for (const char* rel : {QEV_INSTALL_BINDIR, QEV_INSTALL_LIBDIR}) {
            fs::path prefix = strip_suffix(dir, rel);
            if (!prefix.empty()) return {prefix, ""};
        }
        return {{}, platform::path_to_utf8(dir) + ": kütüphanenin konumu bulunamadı: kurulum düzenine uymuyor"};
    } catch (const std::exception& e) {
        return {{}, std::string("kütüphanenin konumu bulunamadı: ") + e.what()};
    }
}

const Location& location() {
    static const Location loc = locate();
    return loc;
}

// Resolved while the file is being loaded, before any caller can change directory.
[[maybe_unused]] const Location& g_resolved_at_load = location();

}  // namespace

fs::path installation_prefix() {
    const Location& loc = location();
    if (loc.prefix.empty()) throw std::runtime_error(loc.error);
    return loc.prefix;
}

fs::path package_data_dir() { return installation_prefix() / QEV_DATA_SUBDIR; }

fs::path private_library_dir() { return installation_prefix() / QEV_PRIVATE_LIBDIR; }

}  // namespace qev_scoreboard

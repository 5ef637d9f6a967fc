#include "qev_scoreboard/core/self_location.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "qev_scoreboard/build_config.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/platform/files.hpp"
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

Location& location() {
    static Location loc = locate();
    return loc;
}

bool directory_there(const fs::path& path) {
    platform::FileInfo info;
    return platform::describe(path, platform::Follow::Links, info) == 0 && info.kind == platform::FileKind::Directory;
}

// Where installers put a wheel's packages for the scripts directory `scripts`, most likely first. The
// Python version in the path is not known here: every lib/python*, lib/pypy* is a candidate.
std::vector<fs::path> site_directories(const fs::path& scripts) {
    const fs::path env = scripts.parent_path();
    // Windows: a virtual or conda environment, the system's Python, a prefix; the user's base.
    std::vector<fs::path> sites = {env / "Lib" / "site-packages", env / "site-packages"};
    for (const char* lib : {"lib", "lib64"}) {
        std::vector<std::string> pythons;
        try {
            if (auto entries = list_directory_if_present(env / lib))
                for (const DirEntry& e : *entries)
                    if (e.name.starts_with("python") || e.name.starts_with("pypy")) pythons.push_back(e.name);
        } catch (const std::exception&) {
            continue;  // a directory that cannot be listed holds nothing found
        }
        std::sort(pythons.begin(), pythons.end());
        for (const std::string& python : pythons)
            for (const char* site : {"site-packages", "dist-packages"})
                sites.push_back(env / lib / platform::path_from_utf8(python) / site);
    }
    sites.push_back(env / "lib" / "python");  // a --home directory
    sites.push_back(env);                     // a --target directory, whose scripts go to its bin/
    return sites;
}

// Resolved while the file is being loaded, before any caller can change directory.
[[maybe_unused]] const Location& g_resolved_at_load = location();

}  // namespace

fs::path wheel_package_dir(const fs::path& scripts, std::string_view version) {
    const std::string record = std::string(QEV_PYTHON_PACKAGE) + "-" + std::string(version) + ".dist-info";
    for (const fs::path& site : site_directories(scripts)) {
        const fs::path package = site / QEV_PYTHON_PACKAGE;
        if (directory_there(site / platform::path_from_utf8(record)) && directory_there(package / QEV_DATA_SUBDIR))
            return package;
    }
    return {};
}

void locate_as_wheel_command() {
    Location& loc = location();
    try {
        const fs::path scripts = platform::module_file().parent_path();
        const fs::path package = wheel_package_dir(scripts, QEV_SCOREBOARD_VERSION_TEXT);
        loc = package.empty()
                  ? Location{{},
                             platform::path_to_utf8(scripts) + ": kütüphanenin konumu bulunamadı: " +
                                 QEV_PYTHON_PACKAGE " " QEV_SCOREBOARD_VERSION_TEXT " kurulumu bu ortamda yok"}
                  : Location{package, ""};
    } catch (const std::exception& e) {
        loc = {{}, e.what()};
    }
}

fs::path installation_prefix() {
    const Location& loc = location();
    if (loc.prefix.empty()) throw std::runtime_error(loc.error);
    return loc.prefix;
}

fs::path package_data_dir() { return installation_prefix() / QEV_DATA_SUBDIR; }

fs::path private_library_dir() { return installation_prefix() / QEV_PRIVATE_LIBDIR; }

}  // namespace qev_scoreboard

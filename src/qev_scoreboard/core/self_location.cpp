#include "qev_scoreboard/core/self_location.hpp"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

#include "qev_scoreboard/build_config.hpp"
#include "qev_scoreboard/core/file_error.hpp"

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
    try {
        Dl_info info{};
        link_map* map = nullptr;
        if (::dladdr1(reinterpret_cast<void*>(&locate), &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
            map == nullptr)
            return {{}, "kütüphanenin konumu bulunamadı"};
        // The main program's link map has no name of its own.
        const char* file = map->l_name && *map->l_name ? map->l_name : "/proc/self/exe";
        char real[PATH_MAX];
        if (::realpath(file, real) == nullptr)
            return {{}, std::string(file) + ": kütüphanenin konumu bulunamadı: " + errno_reason(errno)};
        const fs::path dir = fs::path(real).parent_path();
        for (const char* rel : {QEV_INSTALL_BINDIR, QEV_INSTALL_LIBDIR}) {
            fs::path prefix = strip_suffix(dir, rel);
            if (!prefix.empty()) return {prefix, ""};
        }
        return {{}, dir.string() + ": kütüphanenin konumu bulunamadı: kurulum düzenine uymuyor"};
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

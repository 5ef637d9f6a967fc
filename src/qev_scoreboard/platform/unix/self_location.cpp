#include "qev_scoreboard/platform/self_location.hpp"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <string_view>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/unix/system_calls.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"

#if QEV_HAVE_LINUX_CALLS
#include <link.h>
#endif

namespace qev_scoreboard::platform {

namespace {

constexpr const char* NOT_FOUND = "kütüphanenin konumu bulunamadı";

// An address inside this file, so inside the program or library holding this code.
const void* anchor() { return reinterpret_cast<const void*>(&anchor); }

fs::path resolved(const std::string& file) {
    char real[PATH_MAX];
    if (sys::realpath(file.c_str(), real) == nullptr)
        throw std::runtime_error(file + ": " + NOT_FOUND + ": " + errno_reason(errno));
    return real;
}

// A program started through PATH is known to the loader by its bare name: find it as the shell did.
std::string search_path(const std::string& name) {
    const char* path = ::getenv("PATH");
    std::string_view dirs = path ? path : "";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string_view::npos) end = dirs.size();
        const std::string dir(dirs.substr(start, end - start));
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return name;
}

}  // namespace

namespace unix_variants {

#if QEV_HAVE_LINUX_CALLS
fs::path module_file_linux() {
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr1(anchor(), &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || map == nullptr)
        throw std::runtime_error(NOT_FOUND);
    // The main program's link map has no name of its own.
    return resolved(map->l_name && *map->l_name ? map->l_name : "/proc/self/exe");
}
#endif

fs::path module_file_posix() {
    Dl_info info{};
    if (::dladdr(anchor(), &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0')
        throw std::runtime_error(NOT_FOUND);
    const std::string file = info.dli_fname;
    return resolved(file.find('/') == std::string::npos ? search_path(file) : file);
}

}  // namespace unix_variants

fs::path module_file() {
#if QEV_USE_LINUX_CALLS
    return unix_variants::module_file_linux();
#else
    return unix_variants::module_file_posix();
#endif
}

}  // namespace qev_scoreboard::platform

#include "qev_scoreboard/platform/path_text.hpp"

#include "qev_scoreboard/platform/files.hpp"

namespace qev_scoreboard::platform {

fs::path path_from_utf8(std::string_view text) { return fs::path(std::string(text)); }

std::string path_to_utf8(const fs::path& path) { return path.native(); }

std::string path_to_library_text(const fs::path& path) { return path.native(); }

std::string path_to_joinable_text(const fs::path& path) { return path.native(); }

fs::path absolute_path(const fs::path& path, const char*) {
    // Not made canonical: ".." after a link means what the system makes of it, here as anywhere.
    return path.is_absolute() ? path : current_directory() / path;
}

void require_keepable_names(const fs::path&, const char*) {}

bool same_entry_name(std::string_view a, std::string_view b) { return a == b; }

}  // namespace qev_scoreboard::platform

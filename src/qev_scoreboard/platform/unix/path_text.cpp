#include "qev_scoreboard/platform/path_text.hpp"

namespace qev_scoreboard::platform {

fs::path path_from_utf8(std::string_view text) { return fs::path(std::string(text)); }

std::string path_to_utf8(const fs::path& path) { return path.native(); }

}  // namespace qev_scoreboard::platform

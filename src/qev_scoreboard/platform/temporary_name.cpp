// The temporary names replacements use, the same on every system.
#include "qev_scoreboard/platform/temporary_name.hpp"

#include <string_view>

#include "qev_scoreboard/platform/temporary_file.hpp"

namespace qev_scoreboard::platform {

bool is_temporary_name(std::string_view name) {
    if (!name.starts_with(TEMP_PREFIX) || name.size() != TEMP_PREFIX.size() + TEMP_SUFFIX_LENGTH) return false;
    return name.substr(TEMP_PREFIX.size()).find_first_not_of(TEMP_ALPHABET) == std::string_view::npos;
}

}  // namespace qev_scoreboard::platform

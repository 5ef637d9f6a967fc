#pragma once
// How the temporary files of a replacement are named (see TemporaryFile), for the layer's own files.

#include <cstddef>
#include <string_view>

namespace qev_scoreboard::platform {

inline constexpr std::string_view TEMP_PREFIX = ".qev-";
inline constexpr std::size_t TEMP_SUFFIX_LENGTH = 8;
inline constexpr std::string_view TEMP_ALPHABET = "abcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace qev_scoreboard::platform

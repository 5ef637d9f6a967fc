#pragma once
// The text an interrupt tells the user before the process ends (set_interrupt_notice in process.hpp), as
// each system's interrupt code reads it. Not for use above the platform layer.

#include <string_view>

namespace qev_scoreboard::platform {

// The notice in force, or an empty view. Async-signal-safe; valid until the next set_interrupt_notice
// but one, so an interrupt that reads it while one call replaces it still reads whole text.
std::string_view interrupt_notice() noexcept;

}  // namespace qev_scoreboard::platform

#pragma once
// The commands' reports: whole lines on standard output.

#include <string_view>

namespace qev_scoreboard {

// Writes `text` and one line break ("\n" on every system) to standard output.
void print_line(std::string_view text);

}  // namespace qev_scoreboard

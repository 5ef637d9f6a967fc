#include "qev_scoreboard/cli/output.hpp"

#include <string>

#include "qev_scoreboard/platform/console.hpp"

namespace qev_scoreboard {

void print_line(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text).push_back('\n');
    // One write per line: on a console a line is converted whole.
    platform::write_stdout(line);
}

}  // namespace qev_scoreboard

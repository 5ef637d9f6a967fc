#include "qev_scoreboard/platform/arguments.hpp"

namespace qev_scoreboard::platform {

std::vector<std::string> utf8_arguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace qev_scoreboard::platform

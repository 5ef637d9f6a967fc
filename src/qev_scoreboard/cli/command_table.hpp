#pragma once
// The sub-commands: adding one is one entry in the table (and its handler's file).

#include <vector>

#include "qev_scoreboard/cli/handlers.hpp"

namespace qev_scoreboard {

struct OptionSpec {
    const char* name;
    const char* metavar;  // nullptr for a flag
    const char* help;
    void (*apply)(Args& args, const char* value);  // value is nullptr for a flag
};

struct Command {
    const char* name;
    const char* help;
    std::vector<OptionSpec> options;
    void (*handler)(const Args& args);
};

// The command's name, and what every parser's -h/--help says of itself.
inline constexpr const char* PROGRAM_NAME = "qev-scoreboard";
inline constexpr const char* HELP_OPTION_HELP = "bu yardımı göster ve çık";

// The main parser's own option, --dir.
const OptionSpec& main_option();

// The sub-commands in help order.
const std::vector<Command>& command_table();

}  // namespace qev_scoreboard

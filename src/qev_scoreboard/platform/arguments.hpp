#pragma once
// The command line as the program received it, in UTF-8.

#include <string>
#include <vector>

namespace qev_scoreboard::platform {

// The program's arguments, argv[0] included, as UTF-8. POSIX systems hand them over as bytes, which
// pass unchanged. Windows' narrow argv is in the ANSI code page and loses what it cannot hold, so the
// wide command line is taken instead; `argc` and `argv` are then only the fallback should that fail.
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace qev_scoreboard::platform

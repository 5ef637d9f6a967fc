#include "qev_scoreboard/platform/console.hpp"

#include <cerrno>
#include <cstdio>

namespace qev_scoreboard::platform {

void write_stdout(std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stdout); }

void write_stderr(std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stderr); }

int flush_stdout() {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    return errno != 0 ? errno : EIO;
}

}  // namespace qev_scoreboard::platform

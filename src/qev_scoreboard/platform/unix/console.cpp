#include "qev_scoreboard/platform/console.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace qev_scoreboard::platform {

void write_stdout(std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stdout); }

void write_stderr(std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stderr); }

bool stderr_is_terminal() { return ::isatty(2) == 1; }

unsigned stderr_columns() {
    struct winsize size {};
    return ::ioctl(2, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void end_when_stdout_closes() {}

int flush_stdout() {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    return errno != 0 ? errno : EIO;
}

}  // namespace qev_scoreboard::platform

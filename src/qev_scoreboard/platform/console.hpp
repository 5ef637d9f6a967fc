#pragma once
// Standard output and standard error as reports need them: the same UTF-8 bytes with "\n" line ends on
// every system, in order with whatever else the process prints through C stdio. Where a stream is a
// Windows console, the text is shown as characters (WriteConsoleW) instead, so Turkish letters and box
// characters read right. No process-wide setting (a stream's mode, the code page) is changed.

#include <string_view>

namespace qev_scoreboard::platform {

void write_stdout(std::string_view utf8);
void write_stderr(std::string_view utf8);

// Whether standard error is a terminal (a console on Windows), where a line may be rewritten in place.
bool stderr_is_terminal();

// The width in columns of the terminal (console window) standard error is, as it is now; 0 when it is
// none or does not say.
unsigned stderr_columns();

// Flushes standard output. Returns 0, or an errno value when anything written to it since the process
// started failed to reach its destination (a full disk, a closed pipe).
int flush_stdout();

// For programs, not libraries: when the reader of standard output goes away (`| more` quit early), the
// process ends at once and quietly, with status STDOUT_CLOSED_EXIT, as SIGPIPE ends it on a POSIX system
// (which needs nothing more); a temporary file in flight is left for a later run, as after SIGPIPE.
void end_when_stdout_closes();

// 128 + SIGPIPE, what a POSIX shell reports for a program that SIGPIPE ended: one status on every system.
inline constexpr int STDOUT_CLOSED_EXIT = 141;

}  // namespace qev_scoreboard::platform

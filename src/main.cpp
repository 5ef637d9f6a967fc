#include <string>
#include <vector>

#include "qev_scoreboard/cli/dispatcher.hpp"
#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/duckdb_loader.hpp"
#include "qev_scoreboard/core/self_location.hpp"
#include "qev_scoreboard/platform/arguments.hpp"
#include "qev_scoreboard/platform/console.hpp"
#include "qev_scoreboard/platform/process.hpp"

int main(int argc, char** argv) {
#if QEV_WHEEL_COMMAND
    // This copy lies in the scripts directory of the environment the wheel went into, away from the
    // wheel's package directory, where its data and DuckDB are.
    qev_scoreboard::locate_as_wheel_command();
#endif
    // The program, unlike the library, owns its signal dispositions: an interrupted copy leaves nothing.
    qev_scoreboard::remove_temporary_files_on_signals();
    // A file-size limit makes a write fail with EFBIG, reported like any failed write, instead of ending us.
    qev_scoreboard::platform::ignore_file_size_signal();
    // A reader that stops reading (`| more`, `| head`) ends us quietly, on Windows as SIGPIPE does elsewhere.
    qev_scoreboard::platform::end_when_stdout_closes();
    // Nor does any other code share its working directory, which status may move where threads cannot
    // have one of their own.
    qev_scoreboard::allow_process_directory_change();
    // Arguments are UTF-8 from here on, whatever the system's own encoding of them.
    std::vector<std::string> args = qev_scoreboard::platform::utf8_arguments(argc, argv);
    std::vector<char*> utf8_argv;
    for (std::string& a : args) utf8_argv.push_back(a.data());
    utf8_argv.push_back(nullptr);
    return qev_scoreboard::run_main(static_cast<int>(args.size()), utf8_argv.data());
}

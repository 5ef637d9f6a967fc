#include <signal.h>

#include "qev_scoreboard/cli/dispatcher.hpp"
#include "qev_scoreboard/core/atomic_file.hpp"

int main(int argc, char** argv) {
    // The program, unlike the library, owns its signal dispositions: an interrupted copy leaves nothing.
    qev_scoreboard::remove_temporary_files_on_signals();
    // A file-size limit makes a write fail with EFBIG, reported like any failed write, instead of ending us.
    ::signal(SIGXFSZ, SIG_IGN);
    return qev_scoreboard::run_main(argc, argv);
}

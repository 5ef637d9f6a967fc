/* The C header used from C proper. Built alone (with a main) for the pkg-config check. */
#include <qev_scoreboard/qev_scoreboard.h>
#include <stdio.h>

int c_part_sync(const char* work_dir) {
    if (qev_scoreboard_sync_notebooks(work_dir) != 0) {
        fprintf(stderr, "C: %s\n", qev_scoreboard_last_error());
        return 1;
    }
    return 0;
}

#ifdef QEV_C_PART_MAIN
int main(int argc, char** argv) { return argc == 2 ? c_part_sync(argv[1]) : 2; }
#endif

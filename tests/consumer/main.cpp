// Synchronises three work directories as an outside caller would: through the C++ function, through the
// C function from C code, and once more through the C function on a directory that must fail.
#include <qev_scoreboard/qev_scoreboard.h>

#include <cstdio>
#include <exception>
#include <qev_scoreboard/qev_scoreboard.hpp>

extern "C" int c_part_sync(const char* work_dir);  // c_part.c

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: consumer CXX_WORK_DIR C_WORK_DIR FAILING_WORK_DIR\n");
        return 2;
    }
    try {
        qev_scoreboard::_sync_notebooks(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "C++: %s\n", e.what());
        return 1;
    }
    if (c_part_sync(argv[2]) != 0) return 1;
    if (qev_scoreboard_sync_notebooks(argv[3]) == 0) {
        std::fprintf(stderr, "%s: accepted, expected a failure\n", argv[3]);
        return 1;
    }
    std::printf("failure: %s\n", qev_scoreboard_last_error());
    return 0;
}

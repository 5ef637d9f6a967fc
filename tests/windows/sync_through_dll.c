/* Calls the notebook auto-sync of qev_scoreboard.dll as an outside C program does.
 *   qev_sync_through_dll WORK_DIR
 * Prints each line the library reports, then, on failure, the error, its errno, path and reason, one a
 * line; exits with the function's status. */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

#include "qev_scoreboard/qev_scoreboard.h"

static void print_line(const char* line, void* ctx) {
    (void)ctx;
    fputs(line, stdout);
    fputc('\n', stdout);
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fputs("usage: qev_sync_through_dll WORK_DIR\n", stderr);
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY); /* "\n" as on every other system */
    /* The library takes UTF-8, whatever the code page. */
    const int n = WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, NULL, 0, NULL, NULL);
    char* dir = malloc((size_t)n);
    if (dir == NULL || WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, dir, n, NULL, NULL) != n) return 2;
    const int rc = qev_scoreboard_sync_notebooks_cb(dir, print_line, NULL);
    if (rc != 0)
        printf("hata: %s\nerrno: %d\nyol: %s\nneden: %s\n", qev_scoreboard_last_error(), qev_scoreboard_last_errno(),
               qev_scoreboard_last_error_path(), qev_scoreboard_last_error_reason());
    free(dir);
    fflush(stdout);
    return rc;
}

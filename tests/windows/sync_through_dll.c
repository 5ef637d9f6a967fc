/* Calls the notebook auto-sync of qev_scoreboard.dll as an outside C program does.
 *   qev_sync_through_dll WORK_DIR
 * Prints each line the library reports, then, on failure, the error, its errno, path and reason, one a
 * line; exits with the function's status.
 *   qev_sync_through_dll --plain WORK_DIR
 * The same through the call without a callback: the library prints the lines itself.
 *   qev_sync_through_dll --status WORK_DIR
 *   qev_sync_through_dll --report WORK_DIR
 * Prints the status report's JSON instead, or its data, text and HTML together (or the failure,
 * exiting 1). */
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

static void print_failure(void) {
    printf("hata: %s\nerrno: %d\nyol: %s\nneden: %s\n", qev_scoreboard_last_error(), qev_scoreboard_last_errno(),
           qev_scoreboard_last_error_path(), qev_scoreboard_last_error_reason());
}

int wmain(int argc, wchar_t** argv) {
    const wchar_t* mode = argc == 3 ? argv[1] : L"";
    const int status = wcscmp(mode, L"--status") == 0, report = wcscmp(mode, L"--report") == 0;
    const int plain = wcscmp(mode, L"--plain") == 0;
    if (argc != 2 && !status && !report && !plain) {
        fputs("usage: qev_sync_through_dll [--status|--report|--plain] WORK_DIR\n", stderr);
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY); /* "\n" as on every other system */
    /* The library takes UTF-8, whatever the code page. */
    const wchar_t* wide = argv[argc - 1];
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
    char* dir = malloc((size_t)n);
    if (dir == NULL || WideCharToMultiByte(CP_UTF8, 0, wide, -1, dir, n, NULL, NULL) != n) return 2;
    if (status || report) {
        char* json = status ? qev_scoreboard_status_json(dir) : qev_scoreboard_status_report(dir);
        if (json == NULL)
            print_failure();
        else
            fputs(json, stdout);
        qev_scoreboard_free(json);
        free(dir);
        fflush(stdout);
        return json == NULL;
    }
    fflush(stdout);
    const int rc = plain ? qev_scoreboard_sync_notebooks(dir) : qev_scoreboard_sync_notebooks_cb(dir, print_line, NULL);
    if (rc != 0) print_failure();
    free(dir);
    fflush(stdout);
    return rc;
}

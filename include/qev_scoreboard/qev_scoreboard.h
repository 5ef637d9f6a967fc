#ifndef QEV_SCOREBOARD_H
#define QEV_SCOREBOARD_H
/*
 * qev_scoreboard: the C interface of the package's command module, for callers that cannot use C++
 * (for instance Python through ctypes). Link with -lqev_scoreboard (`pkg-config --libs qev_scoreboard`).
 * All text is UTF-8. No C++ exception ever leaves these functions.
 */

/* Marks the library's interface; everything else in it is hidden. The library's own build defines
 * QEV_SCOREBOARD_BUILDING; callers define nothing. */
#if defined(_WIN32)
#if defined(QEV_SCOREBOARD_BUILDING)
#define QEV_SCOREBOARD_API __declspec(dllexport)
#else
#define QEV_SCOREBOARD_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QEV_SCOREBOARD_API __attribute__((visibility("default")))
#else
#define QEV_SCOREBOARD_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Brings the notebooks installed in a work directory up to the installed package version: the C form
 * of qev_scoreboard::_sync_notebooks (see qev_scoreboard.hpp for every step). When the directory's
 * version stamp already names the package version, nothing is changed or printed. Summary lines go to
 * the process's standard output, which is flushed before the function returns.
 *
 * work_dir: path of the work directory, a NUL-terminated string. NULL or "" is a failure.
 * Returns: 0 on success; non-zero on failure, after which qev_scoreboard_last_error() describes it.
 *          Work done before the failure stays done.
 */
QEV_SCOREBOARD_API int qev_scoreboard_sync_notebooks(const char* work_dir);

/*
 * Returns the description of the failure of the most recent qev_scoreboard_sync_notebooks call made on
 * the calling thread (naming the path and the reason), or "" when that call succeeded or none was made.
 * Never NULL.
 *
 * The string is owned by the library and must not be freed or modified. It stays valid until the next
 * qev_scoreboard_sync_notebooks call on the same thread; copy it to keep it longer.
 */
QEV_SCOREBOARD_API const char* qev_scoreboard_last_error(void);

#ifdef __cplusplus
}
#endif

#endif /* QEV_SCOREBOARD_H */

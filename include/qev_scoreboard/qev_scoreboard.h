#ifndef QEV_SCOREBOARD_H
#define QEV_SCOREBOARD_H
/*
 * qev_scoreboard: the C interface of the package's command module, for callers that cannot use C++
 * (for instance Python through ctypes). Link with -lqev_scoreboard (`pkg-config --libs qev_scoreboard`).
 * All text is UTF-8. No C++ exception ever leaves these functions.
 *
 * Failures are described per thread: after a failed call, the qev_scoreboard_last_* functions called on
 * the same thread describe it, until that thread's next sync or status call.
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

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/*!
Receives one output line of qev_scoreboard_sync_notebooks_cb.

* @param line The line, without its line break, a NUL-terminated UTF-8 string. It is owned by the library
  and valid only until the function returns; copy it to keep it.
* @param ctx The `ctx` given to qev_scoreboard_sync_notebooks_cb, unchanged.

The function is called on the thread that called qev_scoreboard_sync_notebooks_cb, before that call
returns. It must return normally (no longjmp, no C++ exception) and must not call the sync functions.
*/
typedef void (*qev_scoreboard_line_fn)(const char* line, void* ctx);

/*!
Brings the notebooks installed in a work directory up to the installed package version: the C form of
qev_scoreboard::_sync_notebooks (see qev_scoreboard.hpp for every step). When the directory's version stamp
already names the package version, nothing is changed or printed. Summary lines go to the process's
standard output, which is flushed before the function returns.

* @param work_dir Path of the work directory, a NUL-terminated UTF-8 string (on Windows too, whatever the
  code page). NULL or "" is a failure (EINVAL); a directory that does not exist is a failure (ENOENT) and
  nothing is created.
* @return 0 on success; non-zero on failure, after which qev_scoreboard_last_error() and the other
  qev_scoreboard_last_* functions describe it. Work done before the failure stays done.
*/
QEV_SCOREBOARD_API int qev_scoreboard_sync_notebooks(const char* work_dir);

/*!
Does what qev_scoreboard_sync_notebooks does, but hands each summary line to `line` instead of writing
the process's standard output, which this call never touches. The lines reach only this call's `line`,
also when other threads synchronise at the same time.

* @param work_dir As for qev_scoreboard_sync_notebooks: UTF-8; NULL, "" or a missing directory fail.
* @param line Called once per line, in order; NULL drops the lines.
* @param ctx Passed to `line` as is; the library never reads it.
* @return 0 on success; non-zero on failure, described as for qev_scoreboard_sync_notebooks. Lines handed
  over before a failure stay handed over.
*/
QEV_SCOREBOARD_API int qev_scoreboard_sync_notebooks_cb(const char* work_dir, qev_scoreboard_line_fn line, void* ctx);

/*!
Asked by qev_scoreboard_sync_notebooks_ex whether to stop, at each point where the sync can stop with
every file holding its old or its new content: before each file it keeps or replaces, between its
steps, and before the version stamp, which a stopped sync never writes.

* @param ctx The `ctx` given to qev_scoreboard_sync_notebooks_ex, unchanged.
* @return Non-zero to stop there; 0 to go on.

Called on the thread that called qev_scoreboard_sync_notebooks_ex, before that call returns. The same
rules hold as for qev_scoreboard_line_fn. A callback that must end the sync (an interrupt the caller's
language raised in its line callback, say) remembers it and returns non-zero here.
*/
typedef int (*qev_scoreboard_stop_fn)(void* ctx);

/*!
Does what qev_scoreboard_sync_notebooks_cb does, and stops at the first point where `stop` asks it to.

* @param work_dir As for qev_scoreboard_sync_notebooks: UTF-8; NULL, "" or a missing directory fail.
* @param line As for qev_scoreboard_sync_notebooks_cb; NULL drops the lines.
* @param stop Asked at each point where the sync can stop (see qev_scoreboard_stop_fn); NULL never stops.
* @param ctx Passed to `line` and `stop` as is; the library never reads it.
* @return 0 on success; non-zero on failure, or when stopped: then qev_scoreboard_last_errno() is EINTR
  and qev_scoreboard_last_error() reads "<work_dir>: güncellenemedi: istek üzerine durduruldu". Whatever
  ended it, the copies kept of the user's files are named through `line` ("  [SYNC] Yedeklendi: ...")
  before the call returns, and by qev_scoreboard_last_kept() after it; every file holds its old or its
  new content, and the version stamp names the old version.
*/
QEV_SCOREBOARD_API int qev_scoreboard_sync_notebooks_ex(const char* work_dir, qev_scoreboard_line_fn line,
                                                        qev_scoreboard_stop_fn stop, void* ctx);

/*!
How many copies of the user's own files the most recent sync call made on the calling thread kept under
the work directory's yedek/ (or named again, where an earlier run had kept the same bytes), whether it
succeeded, failed or was stopped.

* @return The number of copies; 0 when none was kept or no sync call was made.
*/
QEV_SCOREBOARD_API size_t qev_scoreboard_last_kept_count(void);

/*!
One of the copies counted by qev_scoreboard_last_kept_count(), in the order they were kept.

* @param index From 0 to qev_scoreboard_last_kept_count() - 1.
* @return The copy's path relative to the work directory, as the sync printed it ("yedek/<time>/<name>",
  with the system's separator), a NUL-terminated UTF-8 string owned by the library and valid until the
  next sync or status call on the same thread; NULL for an index out of range.
*/
QEV_SCOREBOARD_API const char* qev_scoreboard_last_kept(size_t index);

/*!
Describes the failure of the most recent sync or status call made on the calling thread, as
"<path>: <action>: <reason>" when a file was at fault.

* @return The description, or "" when that call succeeded or none was made. Never NULL. The string is owned
  by the library and must not be freed or modified; it stays valid until the next sync or status call on the same
  thread. Copy it to keep it longer.
*/
QEV_SCOREBOARD_API const char* qev_scoreboard_last_error(void);

/*!
The errno value of the failure of the most recent sync or status call made on the calling thread: ENOENT, EACCES,
ENOTDIR and so on; EINVAL for a missing work directory or a file whose content is invalid, EILSEQ for text
that is not UTF-8.

* @return The errno value, or 0 when that call succeeded, none was made, or the failure has no errno value
  (qev_scoreboard_last_error() still describes it).
*/
QEV_SCOREBOARD_API int qev_scoreboard_last_errno(void);

/*!
The path of the file or directory at fault in the failure of the most recent sync or status call made on the calling
thread, as the library named it (the work directory joined with the entry's relative path).

* @return The path, or "" when no path was at fault or that call succeeded. Never NULL. Owned by the
  library, valid until the next sync or status call on the same thread, like qev_scoreboard_last_error().
*/
QEV_SCOREBOARD_API const char* qev_scoreboard_last_error_path(void);

/*!
The reason of the failure of the most recent sync or status call made on the calling thread, in Turkish: the
"<reason>" part of qev_scoreboard_last_error(), for instance "böyle bir dosya ya da dizin yok" for ENOENT.

* @return The reason, or "" when that call succeeded, none was made, or the failure has no errno value.
  Never NULL. Owned by the library, valid until the next sync or status call on the same thread, like
  qev_scoreboard_last_error().
*/
QEV_SCOREBOARD_API const char* qev_scoreboard_last_error_reason(void);

/*!
The status report on a work directory as JSON data, the same as the `status` command reports and more:
the version, the work directory as given, the ten raw-data directories (each with its number of entries,
or null and the reason), the database (its path, size, every table and view of every schema with its row
count, or null and the engine's message, and an error when it could not be opened or listed), the two
sample outputs, and the steps of the registry whose meta file is in a season, with the fingerprint their
newest meta file records, the one of the notebook installed now, and whether they differ (the engine runs
such a step again). Prints nothing; the database is opened read-only.

* @param work_dir Path of an existing work directory, a NUL-terminated UTF-8 string. NULL or "" is a
  failure (EINVAL); so is a directory that is not there (ENOENT).
* @return A NUL-terminated UTF-8 JSON text (an object; a byte of a name that is not UTF-8 is written as
  the escape of the lone surrogate U+DC00 plus that byte), which the caller releases with
  qev_scoreboard_free(); or NULL on failure, after which qev_scoreboard_last_error() and the other
  qev_scoreboard_last_* functions describe it.
*/
QEV_SCOREBOARD_API char* qev_scoreboard_status_json(const char* work_dir);

/*!
The status report collected once and given in its three forms, for a caller that shows it more than one
way (the Python module does): a JSON object with "data" (what qev_scoreboard_status_json returns), "text"
(the `status` command's report, byte for byte) and "html" (an HTML fragment of the same blocks as tables,
for a notebook cell). Arguments, result and failures as for qev_scoreboard_status_json.
*/
QEV_SCOREBOARD_API char* qev_scoreboard_status_report(const char* work_dir);

/*!
Releases what a qev_scoreboard_status_* function returned. NULL is ignored.
*/
QEV_SCOREBOARD_API void qev_scoreboard_free(void* p);

#ifdef __cplusplus
}
#endif

#endif /* QEV_SCOREBOARD_H */

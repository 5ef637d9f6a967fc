"""SQL run on a test's own database through a DuckDB library of an installation, for tests that shape one."""

import contextlib
import ctypes
import os


def run_sql(library, db, statements, cwd=None):
    """Runs `statements` on the database `db` with the DuckDB library at `library`, from directory `cwd`
    (where relative file names in the statements are found) when given."""
    lib = ctypes.CDLL(str(library))
    handle, con = ctypes.c_void_p(), ctypes.c_void_p()
    with contextlib.chdir(cwd) if cwd is not None else contextlib.nullcontext():
        assert lib.duckdb_open(str(db).encode(), ctypes.byref(handle)) == 0, db
        try:
            assert lib.duckdb_connect(handle, ctypes.byref(con)) == 0
            for sql in statements:
                assert lib.duckdb_query(con, sql.encode(), None) == 0, sql
        finally:
            lib.duckdb_disconnect(ctypes.byref(con))
            lib.duckdb_close(ctypes.byref(handle))

/* Builds the benchmark database for the status command: TABLES tables named t0000.., every
 * (TABLES / BIG)th of them with a million rows, the others with 0..49 rows.
 * Usage: qev-bench-status-mkdb DBFILE [TABLES [BIG]]   (defaults: 500 tables, 4 big ones) */
#include <duckdb.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: qev-bench-status-mkdb DBFILE [TABLES [BIG]]\n");
        return 2;
    }
    const int tables = argc > 2 ? atoi(argv[2]) : 500;
    const int big = argc > 3 ? atoi(argv[3]) : 4;
    const int stride = big > 0 ? tables / big : tables + 1;
    duckdb_database db;
    duckdb_connection con;
    if (duckdb_open(argv[1], &db) != DuckDBSuccess || duckdb_connect(db, &con) != DuckDBSuccess) {
        fprintf(stderr, "qev-bench-status-mkdb: cannot open %s\n", argv[1]);
        return 1;
    }
    char sql[256];
    for (int i = 0; i < tables; ++i) {
        const long rows = (big > 0 && i % stride == 0) ? 1000000L : i % 50;
        snprintf(sql, sizeof sql,
                 "CREATE TABLE t%04d AS SELECT range AS id, range * 7 %% 1000 AS v, 'r' || range AS s FROM range(%ld)",
                 i, rows);
        duckdb_result r;
        if (duckdb_query(con, sql, &r) != DuckDBSuccess) {
            fprintf(stderr, "qev-bench-status-mkdb: %s\n", duckdb_result_error(&r));
            return 1;
        }
        duckdb_destroy_result(&r);
    }
    duckdb_result r;
    duckdb_query(con, "CHECKPOINT", &r);
    duckdb_destroy_result(&r);
    duckdb_disconnect(&con);
    duckdb_close(&db);
    return 0;
}

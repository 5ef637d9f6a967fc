/* The yardstick for the status command: the least a C program does to report the same database.
 * Opens DBFILE read-only (same settings as the command), runs SHOW TABLES and one COUNT(*) per table,
 * and prints "<t>: <n> rows" for every non-empty table.
 * Usage: qev-bench-status-baseline DBFILE */
#include <duckdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(const char* what, const char* why) {
    fprintf(stderr, "qev-bench-status-baseline: %s: %s\n", what, why ? why : "?");
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 2) return fail("usage", "qev-bench-status-baseline DBFILE");
    duckdb_config config;
    duckdb_create_config(&config);
    duckdb_set_config(config, "access_mode", "READ_ONLY");
    duckdb_set_config(config, "enable_external_access", "false");
    duckdb_set_config(config, "autoinstall_known_extensions", "false");
    duckdb_set_config(config, "autoload_known_extensions", "false");
    duckdb_database db;
    duckdb_connection con;
    char* error = NULL;
    if (duckdb_open_ext(argv[1], &db, config, &error) != DuckDBSuccess) return fail(argv[1], error);
    duckdb_destroy_config(&config);
    if (duckdb_connect(db, &con) != DuckDBSuccess) return fail(argv[1], "connect");

    duckdb_result tables;
    if (duckdb_query(con, "SHOW TABLES", &tables) != DuckDBSuccess)
        return fail("SHOW TABLES", duckdb_result_error(&tables));
    char sql[4096];
    for (idx_t row = 0; row < duckdb_row_count(&tables); ++row) {
        char* name = duckdb_value_varchar(&tables, 0, row);
        char* q = sql + snprintf(sql, sizeof sql, "SELECT COUNT(*) FROM \"");
        for (const char* p = name; *p && q < sql + sizeof sql - 4; ++p) {
            if (*p == '"') *q++ = '"';
            *q++ = *p;
        }
        strcpy(q, "\"");
        duckdb_result count;
        if (duckdb_query(con, sql, &count) != DuckDBSuccess) return fail(name, duckdb_result_error(&count));
        long long n = (long long)duckdb_value_int64(&count, 0, 0);
        if (n > 0) printf("      %s: %lld rows\n", name, n);
        duckdb_destroy_result(&count);
        duckdb_free(name);
    }
    duckdb_destroy_result(&tables);
    duckdb_disconnect(&con);
    duckdb_close(&db);
    return 0;
}

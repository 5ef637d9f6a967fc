/* The yardstick for the status command: the least a C program does to report the same database.
 * Opens DBFILE read-only (same settings as the command), runs SHOW TABLES and one COUNT(*) per table,
 * reading results as data chunks, and prints "<t>: <n> rows" for every non-empty table. With WORKDIR,
 * it first moves there, so that views over files named relative to it can be counted.
 * Usage: qev-bench-status-baseline DBFILE [WORKDIR] */
#include <duckdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int fail(const char* what, const char* why) {
    fprintf(stderr, "qev-bench-status-baseline: %s: %s\n", what, why ? why : "?");
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) return fail("usage", "qev-bench-status-baseline DBFILE [WORKDIR]");
    char* db_file = realpath(argv[1], NULL);
    if (!db_file) return fail(argv[1], "realpath");
    if (argc == 3 && chdir(argv[2]) != 0) return fail(argv[2], "chdir");
    duckdb_config config;
    duckdb_create_config(&config);
    duckdb_set_config(config, "access_mode", "READ_ONLY");
    duckdb_set_config(config, "autoinstall_known_extensions", "false");
    duckdb_set_config(config, "autoload_known_extensions", "false");
    duckdb_database db;
    duckdb_connection con;
    char* error = NULL;
    if (duckdb_open_ext(db_file, &db, config, &error) != DuckDBSuccess) return fail(db_file, error);
    duckdb_destroy_config(&config);
    if (duckdb_connect(db, &con) != DuckDBSuccess) return fail(db_file, "connect");

    duckdb_result tables;
    if (duckdb_query(con, "SHOW TABLES", &tables) != DuckDBSuccess)
        return fail("SHOW TABLES", duckdb_result_error(&tables));
    char sql[4096];
    for (duckdb_data_chunk names; (names = duckdb_fetch_chunk(tables)) != NULL; duckdb_destroy_data_chunk(&names)) {
        duckdb_string_t* col = duckdb_vector_get_data(duckdb_data_chunk_get_vector(names, 0));
        for (idx_t row = 0; row < duckdb_data_chunk_get_size(names); ++row) {
            const char* name = duckdb_string_t_data(&col[row]);
            const uint32_t len = duckdb_string_t_length(col[row]);
            char* q = sql + snprintf(sql, sizeof sql, "SELECT COUNT(*) FROM \"");
            for (uint32_t i = 0; i < len && q < sql + sizeof sql - 4; ++i) {
                if (name[i] == '"') *q++ = '"';
                *q++ = name[i];
            }
            strcpy(q, "\"");
            duckdb_result count;
            if (duckdb_query(con, sql, &count) != DuckDBSuccess) return fail(sql, duckdb_result_error(&count));
            duckdb_data_chunk c = duckdb_fetch_chunk(count);
            const long long n =
                c ? (long long)((int64_t*)duckdb_vector_get_data(duckdb_data_chunk_get_vector(c, 0)))[0] : 0;
            if (n > 0) printf("      %.*s: %lld rows\n", (int)len, name, n);
            if (c) duckdb_destroy_data_chunk(&c);
            duckdb_destroy_result(&count);
        }
    }
    duckdb_destroy_result(&tables);
    duckdb_disconnect(&con);
    duckdb_close(&db);
    free(db_file);
    return 0;
}

/* Builds a work directory shaped like the pipeline's for bench/status_views.sh: raw CSV and Parquet files
 * under WORKDIR/external_data, and WORKDIR/db/qev.duckdb whose views read them by names relative to
 * WORKDIR, between ordinary tables. ROWS (default 4,000,000) rows go into each of the FILES (default 4)
 * CSV files and each of the FILES Parquet files.
 * Usage: qev-bench-status-views-mkdb WORKDIR [ROWS [FILES]] */
#include <duckdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static duckdb_connection con;

static void run(const char* sql) {
    duckdb_result r;
    if (duckdb_query(con, sql, &r) != DuckDBSuccess) {
        fprintf(stderr, "qev-bench-status-views-mkdb: %s: %s\n", sql, duckdb_result_error(&r));
        exit(1);
    }
    duckdb_destroy_result(&r);
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: qev-bench-status-views-mkdb WORKDIR [ROWS [FILES]]\n");
        return 2;
    }
    const long rows = argc > 2 ? atol(argv[2]) : 4000000L;
    const int files = argc > 3 ? atoi(argv[3]) : 4;
    if (chdir(argv[1]) != 0) {
        perror(argv[1]);
        return 1;
    }
    mkdir("db", 0755);
    mkdir("external_data", 0755);
    mkdir("external_data/kik_data_ham_csv", 0755);
    mkdir("external_data/kredi_db", 0755);
    duckdb_database db;
    if (duckdb_open("db/qev.duckdb", &db) != DuckDBSuccess || duckdb_connect(db, &con) != DuckDBSuccess) {
        fprintf(stderr, "qev-bench-status-views-mkdb: cannot open db/qev.duckdb\n");
        return 1;
    }
    char sql[1024];
    for (int f = 0; f < files; ++f) {
        snprintf(sql, sizeof sql,
                 "COPY (SELECT range AS id, hash(range) AS h, 'kayıt ' || range AS ad, range %% 977 AS kod "
                 "FROM range(%ld, %ld)) TO 'external_data/kik_data_ham_csv/part-%d.csv' (HEADER)",
                 f * rows, (f + 1) * rows, f);
        run(sql);
        snprintf(sql, sizeof sql,
                 "COPY (SELECT range AS id, hash(range) AS h, hash(range + 1) AS h2, hash(range + 2) AS h3 "
                 "FROM range(%ld, %ld)) TO 'external_data/kredi_db/part-%d.parquet'",
                 f * rows, (f + 1) * rows, f);
        run(sql);
    }
    run("CREATE TABLE a_tablo AS SELECT range AS id FROM range(100000)");
    run("CREATE VIEW bronze_kik AS SELECT * FROM read_csv('external_data/kik_data_ham_csv/*.csv')");
    run("CREATE VIEW bronze_kredi AS SELECT * FROM read_parquet('external_data/kredi_db/*.parquet')");
    run("CREATE VIEW bronze_kredi_0 AS SELECT * FROM read_parquet('external_data/kredi_db/part-0.parquet')");
    run("CREATE TABLE z_tablo AS SELECT range AS id FROM range(1000)");
    run("CHECKPOINT");
    duckdb_disconnect(&con);
    duckdb_close(&db);
    return 0;
}

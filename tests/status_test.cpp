// The status report: raw-data counts, database summary through the engine, sample outputs, and the
// way each kind of failure shows.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <thread>

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/core/duckdb_loader.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "support.hpp"

using namespace qev_test;
namespace qs = qev_scoreboard;

namespace {

std::string heading(const std::string& dir, const std::string& version = PROJECT_VERSION) {
    return "QEV Scoreboard v" + version + " — status\nÇalışma dizini: " + dir + "\n\n";
}

// The raw-data block with the same status for all ten names.
std::string raw_block(const std::string& status) {
    std::string out = "  [external_data]\n";
    for (const auto& sub : qs::EXTERNAL_DATA_SUBDIRS) out += "    " + std::string(sub.name) + ": " + status + "\n";
    return out;
}

const std::string NOT_FOUND = "  [external_data]\n    BULUNAMADI — 'qev-scoreboard init' çalıştırın\n";
const std::string NO_DB = "\n  [db]\n    qev.duckdb: YOK — pipeline henüz çalışmamış\n";
const std::string NO_OUTPUTS =
    "\n  [outputs]\n    json/sample_scoreboard.json: YOK\n    json/sample_trending_lists.json: YOK\n";

// What lies between the "[db]" and "[outputs]" titles.
std::string db_block(const std::string& out) {
    const auto from = out.find("\n  [db]\n"), to = out.find("\n  [outputs]\n");
    if (from == std::string::npos || to == std::string::npos || to < from) return "<no db block>\n" + out;
    return out.substr(from + 8, to - from - 8);
}

std::string size_line(const fs::path& db) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "    qev.duckdb: %.2f MB\n", static_cast<double>(fs::file_size(db)) / 1048576.0);
    return buf;
}

// A read-write connection of the test's own, through the same run-time loaded engine.
struct TestDb {
    const qs::DuckDBApi& api = qs::duckdb_api();
    duckdb_database db = nullptr;
    duckdb_connection con = nullptr;

    explicit TestDb(const fs::path& path) {
        if (!path.parent_path().empty()) fs::create_directories(path.parent_path());
        if (api.duckdb_open(path.string().c_str(), &db) != DuckDBSuccess ||
            api.duckdb_connect(db, &con) != DuckDBSuccess)
            throw std::runtime_error("cannot open test database " + path.string());
    }
    ~TestDb() { close(); }
    void close() {
        if (con) api.duckdb_disconnect(&con);
        if (db) api.duckdb_close(&db);
    }
    // First column of every row, as text (VARCHAR and BIGINT columns; NULL as "NULL").
    std::vector<std::string> rows(const std::string& sql) {
        duckdb_result r;
        if (api.duckdb_query(con, sql.c_str(), &r) != DuckDBSuccess) {
            std::string message = api.duckdb_result_error(&r);
            api.duckdb_destroy_result(&r);
            throw std::runtime_error(sql + ": " + message);
        }
        std::vector<std::string> out;
        const duckdb_type type = api.duckdb_column_count(&r) ? api.duckdb_column_type(&r, 0) : DUCKDB_TYPE_INVALID;
        while (duckdb_data_chunk chunk = api.duckdb_fetch_chunk(r)) {
            duckdb_vector v = api.duckdb_data_chunk_get_vector(chunk, 0);
            uint64_t* validity = api.duckdb_vector_get_validity(v);
            void* data = api.duckdb_vector_get_data(v);
            for (idx_t i = 0; i < api.duckdb_data_chunk_get_size(chunk); ++i) {
                if (validity && !api.duckdb_validity_row_is_valid(validity, i)) {
                    out.emplace_back("NULL");
                } else if (type == DUCKDB_TYPE_VARCHAR) {
                    duckdb_string_t s = static_cast<duckdb_string_t*>(data)[i];
                    out.emplace_back(api.duckdb_string_t_data(&s), api.duckdb_string_t_length(s));
                } else if (type == DUCKDB_TYPE_BIGINT) {
                    out.push_back(std::to_string(static_cast<int64_t*>(data)[i]));
                } else {
                    out.emplace_back("<type " + std::to_string(type) + ">");
                }
            }
            api.duckdb_destroy_data_chunk(&chunk);
        }
        api.duckdb_destroy_result(&r);
        return out;
    }
    void exec(const std::string& sql) { rows(sql); }
};

RunResult status(const TempDir& ws) { return run_cli({"--dir", ws.path.string(), "status"}); }

TEST(StatusReport, NeverInitialisedDirectory) {
    TempDir ws;
    RunResult r = status(ws);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, heading(ws.path.string()) + NOT_FOUND + NO_DB + NO_OUTPUTS);

    // The directory is printed as typed; without --dir it is the current one.
    fs::create_directory(ws / "w s");
    EXPECT_EQ(run_cli({"--dir", "w s/", "status"}, ws.path).out,
              heading(shown("w s/")) + NOT_FOUND + NO_DB + NO_OUTPUTS);
    EXPECT_EQ(run_cli({"status"}, ws / "w s").out,
              heading(fs::canonical(ws / "w s").string()) + NOT_FOUND + NO_DB + NO_OUTPUTS);
    EXPECT_EQ(std::distance(fs::directory_iterator(ws.path), fs::directory_iterator()), 1) << "status wrote something";
}

TEST(StatusReport, RawDataCounts) {
    if (!can_make_symlinks(fs::temp_directory_path())) GTEST_SKIP() << "symbolic links cannot be made here";
    TempDir ws;
    for (const auto& sub : qs::EXTERNAL_DATA_SUBDIRS)
        fs::create_directories(ws / "external_data" / std::string(sub.name));
    EXPECT_EQ(status(ws).out, heading(ws.path.string()) + raw_block("BOŞ") + NO_DB + NO_OUTPUTS);

    const fs::path ed = ws / "external_data";
    spit(ed / "kik_data_ham_csv" / ".hidden", "x");                                       // hidden file: 1
    for (int i = 0; i < 25; ++i) spit(ed / "kredi_db" / "part" / std::to_string(i), "");  // one folder: 1
    fs::create_symlink("/nonexistent", ed / "yis_tahmin_data" / "dangling");              // a link counts as an entry
    spit(ed / "yis_tahmin_data" / "a.csv", "");
    fs::remove(ed / "eus_tahmin_data");
    fs::create_directory_symlink(ed / "kredi_db", ed / "eus_tahmin_data");  // followed: the target's entries
    fs::remove(ed / "eus_hedef_muta");
    fs::create_symlink(ws / "nowhere", ed / "eus_hedef_muta");  // dangling: absent
    fs::remove(ed / "statik_db");
    fs::create_symlink(ed / "statik_db", ed / "statik_db");  // loop: absent
    fs::remove(ed / "memzuc_data_donem");
    for (int i = 0; i < 1200; ++i) spit(ed / "memzuc_data_donem" / std::to_string(i), "");

    EXPECT_EQ(status(ws).out, heading(ws.path.string()) +
                                  "  [external_data]\n"
                                  "    kik_data_ham_csv: 1 dosya\n"
                                  "    kredi_db: 1 dosya\n"
                                  "    yis_tahmin_data: 2 dosya\n"
                                  "    eus_tahmin_data: 1 dosya\n"
                                  "    eus_hedef_muta: YOK\n"
                                  "    eus_sql_kapsam_muta: BOŞ\n"
                                  "    statik_db: YOK\n"
                                  "    yis_train_data: BOŞ\n"
                                  "    rkd_donem_data: BOŞ\n"
                                  "    memzuc_data_donem: 1200 dosya\n" +
                                  NO_DB + NO_OUTPUTS);
}

TEST(StatusReport, RawDataDirectoryThatIsAFileOrAMissingLink) {
    if (!can_make_symlinks(fs::temp_directory_path())) GTEST_SKIP() << "symbolic links cannot be made here";
    TempDir ws;
    spit(ws / "external_data", "not a directory");
    EXPECT_EQ(status(ws).out, heading(ws.path.string()) + raw_block("YOK") + NO_DB + NO_OUTPUTS);
    fs::remove(ws / "external_data");
    fs::create_symlink(ws / "elsewhere", ws / "external_data");
    EXPECT_EQ(status(ws).out, heading(ws.path.string()) + NOT_FOUND + NO_DB + NO_OUTPUTS);
}

// The raw-data block with `status` for every name but `odd`, which shows `odd_status`.
std::string raw_block_but(const std::string& status, std::string_view odd, const std::string& odd_status) {
    std::string out = "  [external_data]\n";
    for (const auto& sub : qs::EXTERNAL_DATA_SUBDIRS)
        out += "    " + std::string(sub.name) + ": " + (sub.name == odd ? odd_status : status) + "\n";
    return out;
}

TEST(StatusReport, SubDirectoryReplacedByFileIsAFindingAndTheReportGoesOn) {
    TempDir ws;
    for (const auto& sub : qs::EXTERNAL_DATA_SUBDIRS)
        fs::create_directories(ws / "external_data" / std::string(sub.name));
    fs::remove(ws / "external_data" / "eus_tahmin_data");
    spit(ws / "external_data" / "eus_tahmin_data", "x");
    const fs::path db = ws / "db/qev.duckdb";
    TestDb(db).exec("CREATE TABLE t AS SELECT * FROM range(2)");
    RunResult r = status(ws);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, heading(ws.path.string()) +
                         raw_block_but("BOŞ", "eus_tahmin_data", "okunamadı: " + qs::errno_reason(ENOTDIR)) +
                         "\n  [db]\n" + size_line(db) + "      t: 2 rows\n" + NO_OUTPUTS);
    EXPECT_EQ(r.err, "");
}

TEST(StatusReport, AWorkDirectoryThatCanBeEnteredButNotListedStillCounts) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a directory that can be entered but not listed";
#endif
    if (running_as_root()) GTEST_SKIP() << "root lists every directory";
    TempDir ws;
    const fs::path db = ws / "db" / "qev.duckdb";
    {
        TestDb w(db);
        w.exec("CREATE TABLE t AS SELECT * FROM range(3)");
    }
    fs::permissions(ws.path, fs::perms(0311));
    RunResult r = status(ws);
    fs::permissions(ws.path, fs::perms::owner_all);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(db_block(r.out), size_line(db) + "      t: 3 rows\n");
}

TEST(StatusReport, PermissionDeniedIsAnErrorNotAbsence) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: directories that cannot be listed or searched";
#endif
    if (running_as_root()) GTEST_SKIP() << "root reads every directory";
    TempDir ws;
    for (const auto& sub : qs::EXTERNAL_DATA_SUBDIRS)
        fs::create_directories(ws / "external_data" / std::string(sub.name));
    // Unlistable: the entry exists but cannot be counted; the others still are.
    fs::permissions(ws / "external_data" / "kredi_db", fs::perms(0311));
    RunResult r = status(ws);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, heading(ws.path.string()) +
                         raw_block_but("BOŞ", "kredi_db", "okunamadı: " + qs::errno_reason(EACCES)) + NO_DB +
                         NO_OUTPUTS);
    fs::permissions(ws / "external_data" / "kredi_db", fs::perms::owner_all);

    // Unsearchable: whether anything lies below cannot be told, which is not the same as "YOK".
    fs::permissions(ws / "external_data", fs::perms::owner_read);
    r = status(ws);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, heading(ws.path.string()) + "  [external_data]\n");
    EXPECT_NE(r.err.find(qs::errno_reason(EACCES)), std::string::npos) << r.err;
    fs::permissions(ws / "external_data", fs::perms::owner_all);
}

TEST(StatusReport, SizesAreFixedUnitsRoundedHalfEven) {
    TempDir ws;
    struct Case {
        uintmax_t db_bytes;
        std::string mb;
    };
    const uintmax_t out_bytes[2] = {1536, 1280};  // 1.5 exactly; 1.25 is a tie that goes to 1.2
    spit(ws / "outputs/json/sample_scoreboard.json", "");
    spit(ws / "outputs/json/sample_trending_lists.json", "");
    for (const Case& c :
         {Case{1048576, "1.00"}, Case{0, "0.00"}, Case{1179648, "1.12"}, Case{uintmax_t{5} << 30, "5120.00"}}) {
        spit(ws / "db/qev.duckdb", "");
        fs::resize_file(ws / "db/qev.duckdb", c.db_bytes);  // sparse, and not a database
        RunResult r = status(ws);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(db_block(r.out).starts_with("    qev.duckdb: " + c.mb + " MB\n      Okuma hatası: ")) << r.out;
        EXPECT_TRUE(
            r.out.ends_with("\n  [outputs]\n    json/sample_scoreboard.json: 0.0 KB\n"
                            "    json/sample_trending_lists.json: 0.0 KB\n"));
        EXPECT_EQ(fs::file_size(ws / "db/qev.duckdb"), c.db_bytes);
    }
    for (int i = 0; i < 2; ++i)
        fs::resize_file(ws / (i ? "outputs/json/sample_trending_lists.json" : "outputs/json/sample_scoreboard.json"),
                        out_bytes[i]);
    EXPECT_TRUE(
        status(ws).out.ends_with("\n  [outputs]\n    json/sample_scoreboard.json: 1.5 KB\n"
                                 "    json/sample_trending_lists.json: 1.2 KB\n"));
    // An output directory that is a file holds nothing.
    fs::remove_all(ws / "outputs");
    spit(ws / "outputs", "");
    EXPECT_TRUE(status(ws).out.ends_with(NO_OUTPUTS));
}

TEST(StatusDatabase, EmptyTablesShowOnlyTheSize) {
    if (!can_make_symlinks(fs::temp_directory_path())) GTEST_SKIP() << "symbolic links cannot be made here";
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb";
    TestDb(db).exec("CREATE TABLE a(x INT); CREATE TABLE b(y VARCHAR)");
    EXPECT_EQ(db_block(status(ws).out), size_line(db));
    fs::remove(db);
    fs::create_symlink(ws / "gone.duckdb", db);
    EXPECT_EQ(db_block(status(ws).out), "    qev.duckdb: YOK — pipeline henüz çalışmamış\n");
}

TEST(StatusDatabase, NonEmptyTablesInEngineOrderWithAnyName) {
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb";
    std::vector<std::string> listed;
    {
        TestDb w(db);
        w.exec("CREATE TABLE zeta AS SELECT * FROM range(3)");
        w.exec("CREATE TABLE alpha AS SELECT * FROM range(1)");
        w.exec("CREATE TABLE mid(x INT)");
        w.exec("CREATE TABLE big AS SELECT * FROM range(250000)");
        w.exec(R"(CREATE TABLE "x""; DROP TABLE y; --" AS SELECT * FROM range(4))");
        w.exec(R"(CREATE TABLE "with space" AS SELECT * FROM range(5))");
        w.exec(R"(CREATE TABLE "select" AS SELECT * FROM range(6))");
        w.exec(R"(CREATE TABLE "müşteri" AS SELECT * FROM range(7))");
        w.exec("CREATE TABLE y AS SELECT * FROM range(8)");
        listed = w.rows("SHOW TABLES");
    }
    const std::map<std::string, std::string> counts = {
        {"zeta", "3"},       {"alpha", "1"},  {"big", "250000"}, {"x\"; DROP TABLE y; --", "4"},
        {"with space", "5"}, {"select", "6"}, {"müşteri", "7"},  {"y", "8"}};
    std::string expected = size_line(db);
    // A name holding a quote is printed as SQL writes it, so that no two names print alike.
    const auto label = [](const std::string& t) { return t.starts_with("x\"") ? R"("x""; DROP TABLE y; --")" : t; };
    for (const auto& t : listed)
        if (counts.contains(t)) expected += "      " + label(t) + ": " + counts.at(t) + " rows\n";
    ASSERT_EQ(listed.size(), 9u);
    RunResult r = status(ws);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(db_block(r.out), expected);
    EXPECT_EQ(TestDb(db).rows("SELECT COUNT(*) FROM y"), std::vector<std::string>{"8"});
}

TEST(StatusDatabase, EverySchemaOfTheFileIsCountedMainFirst) {
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb";
    TestDb w(db);
    w.exec("CREATE SCHEMA silver; CREATE SCHEMA bronze; CREATE SCHEMA \"Ärşiv\"");
    w.exec("CREATE TABLE silver.scoreboard AS SELECT * FROM range(3)");
    w.exec("CREATE VIEW silver.a_view AS SELECT * FROM range(2)");
    w.exec("CREATE TABLE bronze.a AS SELECT * FROM range(4)");
    w.exec("CREATE TABLE bronze.\"Y\" AS SELECT * FROM range(5)");  // code-point order: before "a"
    w.exec("CREATE TABLE bronze.empty(x INT)");
    w.exec("CREATE TABLE \"Ärşiv\".t AS SELECT * FROM range(6)");
    w.exec("CREATE TABLE twin AS SELECT * FROM range(1)");
    w.exec("CREATE TABLE silver.twin AS SELECT * FROM range(7)");  // same name, counted apart
    w.close();
    EXPECT_EQ(db_block(status(ws).out), size_line(db) +
                                            "      twin: 1 rows\n      bronze.Y: 5 rows\n      bronze.a: 4 rows\n"
                                            "      silver.a_view: 2 rows\n      silver.scoreboard: 3 rows\n"
                                            "      silver.twin: 7 rows\n      Ärşiv.t: 6 rows\n");

    // The engine lists no table at all once one has a name that is not UTF-8; the views still count.
    TestDb again(db);
    again.exec("CREATE TABLE \"bad\xff\" AS SELECT 1; CREATE VIEW v AS SELECT * FROM range(8)");
    again.close();
    const std::string block = db_block(status(ws).out);
    EXPECT_TRUE(block.starts_with(size_line(db) + "      Okuma hatası: tablolar listelenemedi: ")) << block;
    EXPECT_TRUE(block.ends_with("\n      v: 8 rows\n      silver.a_view: 2 rows\n")) << block;
    EXPECT_EQ(std::count(block.begin(), block.end(), '\n'), 4) << block;
}

TEST(StatusDatabase, FailingObjectGetsItsOwnLineAndTheCountGoesOn) {
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb";
    spit(ws / "rows.csv", "a\n1\n2\n");
    {
        TestDb w(db);
        w.exec("CREATE TABLE a_first AS SELECT * FROM range(2)");
        w.exec("CREATE TABLE b_gone(x INT)");
        w.exec("CREATE VIEW m_broken AS SELECT * FROM b_gone");
        w.exec("DROP TABLE b_gone");
        w.exec("CREATE TABLE z_last AS SELECT * FROM range(3)");
        // A view over a raw file that has since gone away.
        w.exec("CREATE VIEW c_file AS SELECT * FROM read_csv('" + (ws / "rows.csv").string() + "')");
        ASSERT_EQ(w.rows("SHOW TABLES"), (std::vector<std::string>{"a_first", "c_file", "m_broken", "z_last"}));
    }
    fs::remove(ws / "rows.csv");
    RunResult r = status(ws);
    EXPECT_EQ(r.status, 0);
    // Each failure on a line of its own, with the engine's message (on one line, though it spans several).
    const std::string block = db_block(r.out);
    EXPECT_TRUE(block.starts_with(size_line(db) + "      a_first: 2 rows\n      c_file: Okuma hatası: ")) << block;
    EXPECT_NE(block.find("rows.csv"), std::string::npos) << block;
    EXPECT_NE(block.find("\n      m_broken: Okuma hatası: "), std::string::npos) << block;
    EXPECT_NE(block.find("b_gone"), std::string::npos) << block;
    EXPECT_TRUE(block.ends_with("\n      z_last: 3 rows\n")) << block;
    EXPECT_EQ(std::count(block.begin(), block.end(), '\n'), 5) << block;
    EXPECT_TRUE(r.out.ends_with(NO_OUTPUTS));
}

TEST(StatusDatabase, UnreadableFilesAreFindings) {
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb";
    std::string noise(20000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    // A real database with its first data block smashed, random bytes, and an empty file.
    {
        TestDb w(db);
        w.exec("CREATE TABLE t AS SELECT range AS v, 'text ' || range AS s FROM range(100000)");
    }
    std::string smashed = slurp(db);
    smashed.replace(12288, 4096, std::string(4096, '\x5a'));
    for (const std::string& content : {smashed, noise, std::string()}) {
        spit(db, content);
        RunResult r = status(ws);
        EXPECT_EQ(r.status, 0);
        const std::string block = db_block(r.out);
        EXPECT_TRUE(block.starts_with(size_line(db) + "      Okuma hatası: ")) << block;
        EXPECT_GT(block.size(), size_line(db).size() + 22);
        EXPECT_TRUE(r.out.ends_with(NO_OUTPUTS));
        EXPECT_EQ(slurp(db), content) << "status changed the file";
        EXPECT_FALSE(fs::exists(ws / "db/qev.duckdb.wal"));
    }
}

TEST(StatusDatabase, LockedByAWriterIsReportedAndLeftIntact) {
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb";
    {
        TestDb writer(db);
        writer.exec("CREATE TABLE t AS SELECT * FROM range(10)");
        RunResult r = status(ws);  // another process, while this one holds the file for writing
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(db_block(r.out).starts_with(size_line(db) + "      Okuma hatası: ")) << r.out;
        EXPECT_TRUE(r.out.ends_with(NO_OUTPUTS));
        writer.exec("INSERT INTO t SELECT * FROM range(5)");
    }
    EXPECT_EQ(TestDb(db).rows("SELECT COUNT(*) FROM t"), std::vector<std::string>{"15"});
    EXPECT_EQ(db_block(status(ws).out), size_line(db) + "      t: 15 rows\n");
}

TEST(StatusDatabase, PendingLogIsReadWithoutWriting) {
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb", wal = ws / "db/qev.duckdb.wal";
    {
        TestDb w(db);
        w.exec("CREATE TABLE t AS SELECT * FROM range(3)");
        w.exec("CHECKPOINT");
        w.exec("PRAGMA disable_checkpoint_on_shutdown");
        w.exec("SET checkpoint_threshold = '1GB'");
        w.exec("INSERT INTO t SELECT * FROM range(4)");
    }
    ASSERT_TRUE(fs::exists(wal));
    const std::string before_db = slurp(db), before_wal = slurp(wal);
    EXPECT_EQ(db_block(status(ws).out), size_line(db) + "      t: 7 rows\n");
    EXPECT_EQ(slurp(db), before_db);
    EXPECT_EQ(slurp(wal), before_wal);
}

TEST(StatusDatabase, MissingEngineIsAFinding) {
    // A copy of the installed tree without the engine's library.
    TempDir tree, ws;
#ifdef _WIN32
    fs::create_directories(tree / "bin");
    fs::copy_file(scoreboard_exe(), tree / "bin" / "qev-scoreboard.exe");
    spit(ws / "db/qev.duckdb", "");
    const RunResult r = run_program(tree / "bin" / "qev-scoreboard.exe", {"--dir", ws.path.string(), "status"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string block = db_block(r.out);
#else
    const fs::path exe = QEV_SCOREBOARD_EXE, lib = exe.parent_path().parent_path() / "lib";
    fs::create_directories(tree / "bin");
    fs::copy_file(exe, tree / "bin/qev-scoreboard");
    fs::create_directories(tree / "lib");
    for (const auto& e : fs::directory_iterator(lib))
        if (e.path().filename().string().starts_with("libqev_scoreboard"))
            fs::copy(e.path(), tree / "lib" / e.path().filename(), fs::copy_options::copy_symlinks);
    spit(ws / "db/qev.duckdb", "");
    const fs::path out = tree / "out";
    const std::string cmd = "env -u LD_LIBRARY_PATH '" + (tree / "bin/qev-scoreboard").string() + "' --dir '" +
                            ws.path.string() + "' status > '" + out.string() + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string block = db_block(slurp(out));
#endif
    EXPECT_TRUE(block.starts_with("    qev.duckdb: 0.00 MB\n      Okuma hatası: DuckDB kütüphanesi yüklenemedi: "))
        << block;
}

#ifndef _WIN32
// The built program with `args` (quoted for the shell) and a deadline, so that a hang fails the test
// instead of stopping the suite; run through `wrapper` (a command line prefix) and in `cwd` when given.
RunResult run_within(const std::string& args, int seconds, const std::string& wrapper = "", const fs::path& cwd = {}) {
    TempDir io;
    const std::string cmd = (cwd.empty() ? "" : "cd '" + cwd.string() + "' && ") + "timeout -s KILL " +
                            std::to_string(seconds) + " " + wrapper + " '" + std::string(QEV_SCOREBOARD_EXE) + "' " +
                            args + " > '" + (io / "out").string() + "' 2>'" + (io / "err").string() + "' < /dev/null";
    const int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(io / "out"), slurp(io / "err")};
}
#endif

// A work directory shaped like the pipeline's: raw CSV and Parquet files, and a database whose bronze
// views name them relative to the work directory, between ordinary tables.
struct PipelineWorkDir {
    TempDir ws;
    fs::path db = ws / "db/qev.duckdb";
    // What the db block must show, wherever status is run from.
    std::string expected;

    PipelineWorkDir() {
        spit(ws / "external_data/kik_data_ham_csv/2024.csv", "id,ad\n1,a\n2,b\n3,c\n");
        spit(ws / "external_data/kik_data_ham_csv/2025.csv", "id,ad\n4,ç\n5,ş\n");
        fs::create_directories(ws / "external_data/kredi_db");
        TestDb w(db);
        w.exec("COPY (SELECT range AS id FROM range(1234)) TO '" + (ws / "external_data/kredi_db/k.parquet").string() +
               "'");
        // The notebooks run inside the work directory; this connection finds the same names through its
        // search path (nothing of that name lies under the test's own working directory).
        w.exec("SET file_search_path = '" + ws.path.string() + "'");
        w.exec("CREATE TABLE a_before AS SELECT * FROM range(3)");
        w.exec("CREATE VIEW bronze_kik AS SELECT * FROM read_csv('external_data/kik_data_ham_csv/*.csv')");
        w.exec("CREATE VIEW bronze_kredi AS SELECT * FROM read_parquet('external_data/kredi_db/k.parquet')");
        w.exec("CREATE TABLE c_empty(x INT)");
        w.exec("CREATE TABLE z_after AS SELECT * FROM range(4)");
        w.close();
        expected = size_line(db) +
                   "      a_before: 3 rows\n      bronze_kik: 5 rows\n      bronze_kredi: 1234 rows\n"
                   "      z_after: 4 rows\n";
    }
};

TEST(StatusViews, RawFilesCountedRelativeToTheWorkDirectoryFromAnywhere) {
    PipelineWorkDir p;
    const std::string before = slurp(p.db);
    ASSERT_EQ(entries(p.ws / "db"), std::vector<std::string>{"qev.duckdb"});

    // Elsewhere, inside, and from the parent with a relative --dir.
    TempDir elsewhere;
    for (const auto& [args, cwd] : std::vector<std::pair<std::vector<std::string>, fs::path>>{
             {{"--dir", p.ws.path.string(), "status"}, elsewhere.path},
             {{"status"}, p.ws.path},
             {{"--dir", p.ws.path.filename().string(), "status"}, p.ws.path.parent_path()}}) {
        RunResult r = run_cli(args, cwd);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(db_block(r.out), p.expected) << "run in " << cwd;
    }

    // Files at the same relative names under the caller's working directory are not the work directory's.
    TempDir decoy_root;
    const fs::path decoy = decoy_root / "deep";
    spit(decoy / "external_data/kik_data_ham_csv/2024.csv", "id,ad\n9,x\n");
    fs::create_directories(decoy / "external_data/kredi_db");
    {
        TestDb d(decoy / "scratch.duckdb");
        d.exec("COPY (SELECT range AS id FROM range(7)) TO '" + (decoy / "external_data/kredi_db/k.parquet").string() +
               "'");
    }
    RunResult r = run_cli({"--dir", p.ws.path.string(), "status"}, decoy);
    EXPECT_EQ(db_block(r.out), p.expected);
#ifndef _WIN32
    // Also where a thread may not have a working directory of its own (containers refuse unshare): the
    // program then moves there for the count and back, so the relative --dir still finds the outputs.
    spit(p.ws / "outputs/json/sample_scoreboard.json", "{}");
    r = run_within("--dir '" + fs::relative(p.ws.path, decoy).string() + "' status", 120,
                   "strace -f -o /dev/null -e inject=unshare:error=EPERM", decoy);
    EXPECT_EQ(db_block(r.out), p.expected) << r.err;
    EXPECT_TRUE(r.out.ends_with("json/sample_scoreboard.json: 0.0 KB\n    json/sample_trending_lists.json: YOK\n"))
        << r.out;
#endif

    // A raw file gone since: the views before it still count, and the message names it.
    fs::remove(p.ws / "external_data/kredi_db/k.parquet");
    r = run_cli({"--dir", p.ws.path.string(), "status"}, decoy);
    const std::string block = db_block(r.out);
    EXPECT_TRUE(block.starts_with(size_line(p.db) + "      a_before: 3 rows\n      bronze_kik: 5 rows\n"
                                                    "      bronze_kredi: Okuma hatası: "))
        << block;
    EXPECT_NE(block.find("k.parquet"), std::string::npos) << block;
    EXPECT_TRUE(block.ends_with("\n      z_after: 4 rows\n")) << block;

    EXPECT_EQ(slurp(p.db), before) << "status changed the database";
    EXPECT_EQ(entries(p.ws / "db"), std::vector<std::string>{"qev.duckdb"}) << "status left a file behind";
}

TEST(StatusViews, ControlCharactersInNamesAreShownOnOneLine) {
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb";
    // Raw name, and how the report must show it.
    const std::map<std::string, std::string> shown = {
        {"line\nbreak", "line\\nbreak"},
        {"car\rriage", "car\\rriage"},
        {"tab\tstop", "tab\\tstop"},
        {"esc\x1b[2J\x1b]0;title\x07", "esc\\x1b[2J\\x1b]0;title\\x07"},
        {"del\x7f", "del\\x7f"},
        {"c1\xc2\x9b"
         "31m\xc2\x85",
         "c1\\u009b31m\\u0085"},
        {"back\\slash", "back\\\\slash"},  // doubled: not to be taken for an escape
        {"back\\nslash", "back\\\\nslash"},
        {"müşteri İĞÜŞÖÇ ığüşöç €", "müşteri İĞÜŞÖÇ ığüşöç €"},
        {"      forged: 9 rows", "      forged: 9 rows"},
    };
    std::vector<std::string> listed;
    {
        TestDb w(db);
        int n = 1;
        for (const auto& [name, _] : shown)
            w.exec("CREATE TABLE \"" + name + "\" AS SELECT * FROM range(" + std::to_string(n++) + ")");
        listed = w.rows("SHOW TABLES");
    }
    ASSERT_EQ(listed.size(), shown.size());
    std::map<std::string, int> rows;
    int n = 1;
    for (const auto& [name, _] : shown) rows[name] = n++;
    std::string expected = size_line(db);
    for (const auto& t : listed) expected += "      " + shown.at(t) + ": " + std::to_string(rows.at(t)) + " rows\n";
    RunResult r = status(ws);
    EXPECT_EQ(r.status, 0);
    const std::string block = db_block(r.out);
    EXPECT_EQ(block, expected);
    EXPECT_EQ(std::count(block.begin(), block.end(), '\n'), static_cast<long>(shown.size() + 1));
    EXPECT_EQ(std::count_if(block.begin(), block.end(),
                            [](char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f; }),
              0);
}

TEST(StatusViews, InvalidUtf8InAMessageIsShownEscaped) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: names there are UTF-16, so no invalid UTF-8 reaches a message";
#endif
    TempDir ws;
    const fs::path dir = ws / "w\xff\xc3";
    spit(dir / "db/qev.duckdb", "not a database");
    const std::string block = db_block(run_cli({"--dir", dir.string(), "status"}).out);
    EXPECT_TRUE(block.starts_with("    qev.duckdb: 0.00 MB\n      Okuma hatası: ")) << block;
    EXPECT_NE(block.find("w\\xff\\xc3"), std::string::npos) << block;
    EXPECT_EQ(block.find('\xff'), std::string::npos) << block;
}

TEST(StatusViews, DatabasePathThatIsNoRegularFileFailsAtOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: FIFOs and /dev/null";
#else
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb";
    fs::create_directories(db.parent_path());
    ASSERT_EQ(::mkfifo(db.c_str(), 0600), 0);
    // The installation check opens the database the same way.
    RunResult v = run_within("verify --db '" + db.string() + "'", 30);
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.out.find("[HATA] Veritabanı: " + db.string() + ": veritabanı açılamadı: bir FIFO"), std::string::npos)
        << v.out;
    for (int kind = 0; kind < 3; ++kind) {
        if (kind == 1) {
            fs::remove(db);
            fs::create_directory(db);  // its size can be read, it is still no database
        } else if (kind == 2) {
            fs::remove(db);
            fs::create_symlink("/dev/null", db);
        }
        RunResult r = run_within("--dir '" + ws.path.string() + "' status", 30);
        EXPECT_EQ(r.status, 0) << "kind " << kind << " (137: killed after hanging)";
        const std::string block = db_block(r.out);
        EXPECT_TRUE(block.starts_with("    qev.duckdb: 0.00 MB\n      Okuma hatası: ")) << block;
        EXPECT_EQ(std::count(block.begin(), block.end(), '\n'), 2) << block;
        EXPECT_TRUE(r.out.ends_with(NO_OUTPUTS));
    }
    fs::remove(db);
    EXPECT_EQ(entries(ws / "db"), std::vector<std::string>{});
#endif
}

TEST(StatusViews, ACountThatNeverEndsShowsWhatCameBeforeAndEndsOnCtrlC) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: FIFOs and signals (the Windows checks interrupt a replacement)";
#else
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb", raw = ws / "raw.csv";
    spit(raw, "a\n1\n");
    TestDb w(db);
    w.exec("CREATE TABLE a_first AS SELECT * FROM range(2)");
    w.exec("CREATE VIEW b_fifo AS SELECT * FROM read_csv('" + raw.string() + "')");
    w.close();
    fs::remove(raw);
    ASSERT_EQ(::mkfifo(raw.c_str(), 0600), 0);  // no writer: reading it waits forever
    // Ctrl+C after 2 s; had that not ended the run at once, SIGKILL 5 s later (status 137).
    RunResult r = run_within("--dir '" + ws.path.string() + "' status", 60, "timeout --preserve-status -k 5 -s INT 2");
    EXPECT_EQ(r.status, 128 + SIGINT);
    EXPECT_TRUE(r.out.ends_with("\n  [db]\n" + size_line(db) + "      a_first: 2 rows\n")) << r.out;
    EXPECT_EQ(entries(ws.path), (std::vector<std::string>{"db", "raw.csv"}));
    EXPECT_EQ(entries(ws / "db"), std::vector<std::string>{"qev.duckdb"});
#endif
}

// The message the engine gives for counting `object` in the file, or its row count, as the test's own
// read-only connection sees it: what the report must show whichever engine counted it.
std::string counted_in_the_file(const fs::path& db, const fs::path& work_dir, const std::string& object) {
    const qs::DuckDBApi& api = qs::duckdb_api();
    qs::DuckDBReadOnly ro(db.string(), work_dir.string());
    duckdb_result r;
    std::string out;
    if (api.duckdb_query(ro.con, ("SELECT COUNT(*) FROM \"" + object + "\"").c_str(), &r) != DuckDBSuccess) {
        // On one line, as the report shows a message.
        const std::string message = api.duckdb_result_error(&r);
        std::string line;
        for (size_t i = 0; i < message.size(); ++i) {
            if (message[i] != '\n') {
                line += message[i];
                continue;
            }
            while (i + 1 < message.size() && std::isspace(static_cast<unsigned char>(message[i + 1]))) ++i;
            line += ' ';
        }
        out = "Okuma hatası: " + line;
    } else {
        duckdb_data_chunk chunk = api.duckdb_fetch_chunk(r);
        const int64_t n =
            static_cast<int64_t*>(api.duckdb_vector_get_data(api.duckdb_data_chunk_get_vector(chunk, 0)))[0];
        api.duckdb_destroy_data_chunk(&chunk);
        out = n > 0 ? std::to_string(n) + " rows" : "";
    }
    api.duckdb_destroy_result(&r);
    return out.empty() ? out : "      " + object + ": " + out + "\n";
}

TEST(StatusViews, ViewsOverRawFilesCountAsTheFileWouldCountThem) {
    // Those counted after the file is let go, and those that need it, side by side: every line is the one
    // the file's own engine gives, errors included.
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb";
    spit(ws / "ham/a.csv", "id,ad\n1,a\n2,b\n");
    spit(ws / "ham/b.csv", "id,ad\n3,c\n");
    spit(ws / "degisen.csv", "x,y\n1,2\n");
    spit(ws / "isim.csv", "x,y\n1,2\n");
    spit(ws / "silinen.csv", "x\n1\n");
    const std::vector<std::string> objects = {
        "a_tablo", "b_csv",     "c_glob", "d_dosya_adi", "e_tablo_ustu", "f_gorunum_ustu", "g_yeniden_adli",
        "h_makro", "i_degisen", "j_isim", "k_silinen",   "l_bilinmeyen", "m_oturum",       "n_bos"};
    {
        TestDb w(db);
        w.exec("SET file_search_path = '" + ws.path.string() + "'");
        w.exec("CREATE TABLE a_tablo AS SELECT * FROM range(5)");
        w.exec("CREATE VIEW b_csv AS SELECT * FROM read_csv('ham/a.csv') WHERE id > 1");
        w.exec("CREATE VIEW c_glob AS SELECT ad FROM read_csv('ham/*.csv') UNION ALL SELECT 'x'");
        w.exec("CREATE VIEW d_dosya_adi AS SELECT * FROM 'ham/b.csv'");
        w.exec(
            "CREATE VIEW e_tablo_ustu AS SELECT * FROM read_csv('ham/a.csv') WHERE id IN (SELECT range FROM a_tablo)");
        w.exec("CREATE VIEW f_gorunum_ustu AS SELECT * FROM b_csv");
        w.exec("CREATE VIEW g_yeniden_adli (k, l) AS SELECT * FROM read_csv('ham/a.csv')");
        w.exec("CREATE MACRO iki(x) AS x * 2");
        w.exec("CREATE VIEW h_makro AS SELECT iki(id) FROM read_csv('ham/a.csv')");
        w.exec("CREATE VIEW i_degisen AS SELECT * FROM read_csv('degisen.csv')");
        w.exec("CREATE VIEW j_isim AS SELECT * FROM read_csv('isim.csv')");
        w.exec("CREATE VIEW k_silinen AS SELECT * FROM read_csv('silinen.csv')");
        w.exec("CREATE TABLE gecici AS SELECT 1 AS v");
        w.exec("CREATE VIEW l_bilinmeyen AS SELECT * FROM read_csv('ham/a.csv'), gecici");
        w.exec("DROP TABLE gecici");
        w.exec("CREATE VIEW m_oturum AS SELECT * FROM read_csv('ham/a.csv') WHERE current_database() = 'qev'");
        w.exec("CREATE VIEW n_bos AS SELECT * FROM read_csv('ham/a.csv') WHERE id > 9");
    }
    spit(ws / "degisen.csv", "x,y,z\n1,2,3\n");  // a column more than when the view was made
    spit(ws / "isim.csv", "p,q\n1,2\n");         // other names
    fs::remove(ws / "silinen.csv");
    std::string expected = size_line(db);
    for (const std::string& object : objects) expected += counted_in_the_file(db, ws.path, object);
    ASSERT_NE(expected.find("i_degisen: Okuma hatası: "), std::string::npos) << expected;
    ASSERT_NE(expected.find("j_isim: Okuma hatası: "), std::string::npos) << expected;
    ASSERT_NE(expected.find("k_silinen: Okuma hatası: "), std::string::npos) << expected;
    ASSERT_NE(expected.find("l_bilinmeyen: Okuma hatası: "), std::string::npos) << expected;
    TempDir elsewhere;
    EXPECT_EQ(db_block(run_cli({"--dir", ws.path.string(), "status"}, elsewhere.path).out), expected);
}

TEST(StatusViews, AWriterIsNotLockedOutWhileAViewOverRawFilesIsCounted) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a FIFO holds the count for as long as the test needs";
#else
    TempDir ws;
    const fs::path db = ws / "db/qev.duckdb", raw = ws / "ham.csv";
    spit(raw, "a\n1\n");
    {
        TestDb w(db);
        w.exec("SET file_search_path = '" + ws.path.string() + "'");
        w.exec("CREATE TABLE a_tablo AS SELECT * FROM range(2)");
        w.exec("CREATE VIEW b_bekleyen AS SELECT * FROM read_csv('ham.csv')");
        w.exec("CREATE VIEW c_tablo_ustu AS SELECT * FROM a_tablo");
    }
    fs::remove(raw);
    ASSERT_EQ(::mkfifo(raw.c_str(), 0600), 0);
    const std::string size = size_line(db);
    RunResult r;
    std::thread run([&] { r = run_within("--dir '" + ws.path.string() + "' status", 120); });
    // The count is under way once it opens the FIFO; it waits there until the test writes.
    int fifo = -1;
    for (int waited = 0; fifo < 0 && waited < 60000; waited += 10) {
        fifo = ::open(raw.c_str(), O_WRONLY | O_NONBLOCK);
        if (fifo < 0) ::usleep(10000);
    }
    ASSERT_GE(fifo, 0) << "status never read the FIFO";
    std::string failure;
    try {
        TestDb writer(db);  // the pipeline's own read-write open
        writer.exec("INSERT INTO a_tablo SELECT * FROM range(3)");
    } catch (const std::exception& e) {
        failure = e.what();
    }
    const std::string rows = "a\n1\n2\n3\n";
    EXPECT_EQ(::write(fifo, rows.data(), rows.size()), static_cast<ssize_t>(rows.size()));
    ::close(fifo);
    run.join();
    EXPECT_EQ(failure, "") << "a writer was locked out while status counted a view over a raw file";
    EXPECT_EQ(r.status, 0) << r.err;
    // The tables and the view over them as they were while the file was held.
    EXPECT_EQ(db_block(r.out), size +
                                   "      a_tablo: 2 rows\n      b_bekleyen: 3 rows\n"
                                   "      c_tablo_ustu: 2 rows\n");
#endif
}

TEST(StatusInProcess, AWorkDirectoryThatCannotBeFoundPrintsNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a process's working directory cannot be removed on Windows";
#else
    // Without --dir the work directory is the current one; when that is gone, nothing is printed.
    TempDir tmp;
    const int home = ::open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(home, 0);
    fs::create_directory(tmp / "gone");
    ASSERT_EQ(::chdir((tmp / "gone").c_str()), 0);
    fs::remove(tmp / "gone");
    CaptureStdout cap;
    EXPECT_THROW(qs::cmd_status(qs::Args{}), std::runtime_error);
    EXPECT_EQ(cap.finish(), "");
    ASSERT_EQ(::fchdir(home), 0);
    ::close(home);
#endif
}

TEST(StatusInProcess, EngineLoadedOnlyForAnExistingDatabase) {
    // Each check runs in a fresh copy of this program, so nothing loaded earlier can hide a load.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir ws;
    qs::Args args;
    args.dir = ws.path.string();
    auto run = [&] {
#ifdef _WIN32
        std::freopen("NUL", "w", stdout);
#else
        std::freopen("/dev/null", "w", stdout);
#endif
        qs::cmd_status(args);
        std::fflush(stdout);
        std::_Exit(qs::duckdb_loaded() ? 3 : 0);
    };
    for (const auto& sub : qs::EXTERNAL_DATA_SUBDIRS)
        fs::create_directories(ws / "external_data" / std::string(sub.name));
    spit(ws / "outputs/json/sample_scoreboard.json", "{}");
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
    spit(ws / "db/qev.duckdb", "");
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(3), "");
}

}  // namespace

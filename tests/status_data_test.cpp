// The status report as data: the C interface's JSON on a directory with every kind of finding, its three
// forms against each other and against the command, its failures, and how names with dots or quotes show.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/core/duckdb_query.hpp"
#include "qev_scoreboard/qev_scoreboard.h"
#include "qev_scoreboard/status/render.hpp"
#include "qev_scoreboard/status/report.hpp"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"
#include "support.hpp"

using namespace qev_test;
namespace qs = qev_scoreboard;
using nlohmann::json;

namespace {

// A read-write database of the test's own, through the same run-time loaded engine.
struct Db {
    const qs::DuckDBApi& api = qs::duckdb_api();
    duckdb_database db = nullptr;
    duckdb_connection con = nullptr;
    explicit Db(const fs::path& path) {
        fs::create_directories(path.parent_path());
        if (api.duckdb_open(path.string().c_str(), &db) != DuckDBSuccess ||
            api.duckdb_connect(db, &con) != DuckDBSuccess)
            throw std::runtime_error("cannot open " + path.string());
    }
    ~Db() {
        api.duckdb_disconnect(&con);
        api.duckdb_close(&db);
    }
    void exec(const std::string& sql) { qs::duckdb_execute(api, con, sql); }
};

// The caller's copy of what a status function returned, released as the header says.
std::optional<std::string> take(char* text) {
    if (text == nullptr) return std::nullopt;
    std::string out(text);
    qev_scoreboard_free(text);
    return out;
}

// A work directory with every kind of finding: raw-data directories present, empty, missing and one that
// is a file; tables and views of two schemas, empty ones, one that cannot be counted; one sample output;
// and step meta files whose fingerprints are current, stale, unreadable, or name a notebook not there.
struct EveryFinding {
    TempDir ws;
    FakeServices package;
    std::optional<ScopedServices> scope;

    EveryFinding() {
        package.version_text = "2.0.0";
        package.registry = {{"01", "nb_01.ipynb"},   {"02", "nb_02.ipynb"}, {"03", "nb_03.ipynb"},
                            {"04", "nb_yok.ipynb"},  {"05", "nb_05.ipynb"}, {"06", "nb_01.ipynb"},
                            {"07", "nb_dizin.ipynb"}};
        scope.emplace(package);
        spit(ws / "external_data/kik_data_ham_csv/2024.csv", "id\n1\n2\n");
        spit(ws / "external_data/kik_data_ham_csv/.gizli", "");
        fs::create_directories(ws / "external_data/yis_tahmin_data");
        spit(ws / "external_data/kredi_db", "a file in the directory's place");
        spit(ws / "outputs/json/sample_scoreboard.json", std::string(1536, 'x'));
        spit(ws / "kopya.csv", "x\n1\n");
        {
            Db db(ws / "db/qev.duckdb");
            db.exec("CREATE TABLE a_dolu AS SELECT * FROM range(3)");
            db.exec("CREATE TABLE bos(x INT)");
            db.exec("CREATE SCHEMA silver");
            db.exec("CREATE TABLE silver.kredi AS SELECT * FROM range(2)");
            db.exec("CREATE TABLE \"silver.kredi\" AS SELECT * FROM range(1)");
            db.exec("CREATE VIEW c_kirik AS SELECT * FROM read_csv('" + (ws / "kopya.csv").string() + "')");
            db.exec("CREATE TABLE \"<b>&\"\"x'\" AS SELECT 1");
        }
        fs::remove(ws / "kopya.csv");
        for (const char* nb : {"nb_01.ipynb", "nb_02.ipynb", "nb_03.ipynb", "nb_05.ipynb"})
            spit(ws / nb, std::string("{\"ad\": \"") + nb + "\"}");
        meta("2025", "01", fingerprint_of(ws / "nb_01.ipynb"));
        meta("2025", "02", "0123456789abcdef");
        meta("2024", "02", fingerprint_of(ws / "nb_02.ipynb"));  // older: not the one that counts
        spit(ws / "seasons/2024/meta/adim_03.json", "{ bozuk");
        meta("2024", "04", "0123456789abcdef");
        spit(ws / "seasons/2026/meta/adim_05.json", "{\"kod\": \"05\"}");
        meta("2025", "07", "0123456789abcdef");
        fs::create_directories(ws / "nb_dizin.ipynb");  // a notebook that cannot be read: the step's finding
        fs::create_directories(ws / "seasons/2027");
    }
    void meta(const std::string& season, const std::string& kod, const std::string& hash) {
        spit(ws / ("seasons/" + season + "/meta/adim_" + kod + ".json"),
             "{\"kod\": \"" + kod + "\", \"nb_hash\": \"" + hash + "\"}");
    }
    std::string dir() const { return ws.path.string(); }
};

TEST(StatusData, TheDictHoldsEveryKindOfFinding) {
    EveryFinding f;
    const auto text = take(qev_scoreboard_status_json(f.dir().c_str()));
    ASSERT_TRUE(text) << qev_scoreboard_last_error();
    const json d = json::parse(*text);
    EXPECT_EQ(d["version"], "2.0.0");
    EXPECT_EQ(d["work_dir"], f.dir());

    ASSERT_EQ(d["external_data"].size(), 10u);
    for (size_t i = 0; i < qs::EXTERNAL_DATA_SUBDIRS.size(); ++i)
        EXPECT_EQ(d["external_data"][i]["name"], std::string(qs::EXTERNAL_DATA_SUBDIRS[i].name));
    EXPECT_EQ(d["external_data"][0],
              json::parse(R"({"name": "kik_data_ham_csv", "exists": true, "entries": 2, "files": 1})"));
    EXPECT_EQ(d["external_data"][1], json::parse(R"({"name": "kredi_db", "exists": true, "entries": null,
                                                    "files": null, "error": "bir dizin değil"})"));
    EXPECT_EQ(d["external_data"][2],
              json::parse(R"({"name": "yis_tahmin_data", "exists": true, "entries": 0, "files": 0})"));
    EXPECT_EQ(d["external_data"][3],
              json::parse(R"({"name": "eus_tahmin_data", "exists": false, "entries": null, "files": null})"));

    const json& db = d["database"];
    EXPECT_EQ(db["path"], (f.ws / "db/qev.duckdb").string());
    EXPECT_EQ(db["exists"], true);
    EXPECT_EQ(db["size_bytes"], fs::file_size(f.ws / "db/qev.duckdb"));
    EXPECT_TRUE(db["error"].is_null());
    std::vector<std::string> names;
    for (const json& t : db["tables"])
        names.push_back(t["schema"].get<std::string>() + "|" + t["name"].get<std::string>());
    EXPECT_EQ(names, (std::vector<std::string>{"main|<b>&\"x'", "main|a_dolu", "main|bos", "main|c_kirik",
                                               "main|silver.kredi", "silver|kredi"}));
    EXPECT_EQ(db["tables"][1], json::parse(R"({"schema": "main", "name": "a_dolu", "kind": "table", "rows": 3})"));
    EXPECT_EQ(db["tables"][2]["rows"], 0);  // empty ones too
    EXPECT_EQ(db["tables"][3]["kind"], "view");
    EXPECT_TRUE(db["tables"][3]["rows"].is_null());
    EXPECT_NE(db["tables"][3]["error"].get<std::string>().find("kopya.csv"), std::string::npos);
    EXPECT_EQ(db["tables"][5]["rows"], 2);

    EXPECT_EQ(d["outputs"], json::parse(R"([{"name": "json/sample_scoreboard.json", "exists": true, "size_bytes": 1536},
        {"name": "json/sample_trending_lists.json", "exists": false, "size_bytes": null}])"));

    // Registry order; the newest season holding each step's meta file.
    const json& steps = d["steps"];
    ASSERT_EQ(steps.size(), 6u) << steps.dump(2);
    const std::string nb01 = fingerprint_of(f.ws / "nb_01.ipynb"), nb02 = fingerprint_of(f.ws / "nb_02.ipynb");
    EXPECT_EQ(steps[0], json({{"season", "2025"},
                              {"code", "01"},
                              {"notebook", "nb_01.ipynb"},
                              {"recorded", nb01},
                              {"current", nb01},
                              {"stale", false}}));
    EXPECT_EQ(steps[1], json({{"season", "2025"},
                              {"code", "02"},
                              {"notebook", "nb_02.ipynb"},
                              {"recorded", "0123456789abcdef"},
                              {"current", nb02},
                              {"stale", true}}));
    EXPECT_EQ(steps[2]["code"], "03");
    EXPECT_TRUE(steps[2]["recorded"].is_null());
    EXPECT_EQ(steps[2]["stale"], true);
    EXPECT_TRUE(steps[2].contains("error"));
    EXPECT_EQ(steps[3], json({{"season", "2024"},
                              {"code", "04"},
                              {"notebook", "nb_yok.ipynb"},
                              {"recorded", "0123456789abcdef"},
                              {"current", nullptr},
                              {"stale", true}}));
    EXPECT_EQ(steps[4]["season"], "2026");
    EXPECT_TRUE(steps[4]["recorded"].is_null());  // a meta file without nb_hash
    EXPECT_TRUE(steps[5]["current"].is_null());
    EXPECT_EQ(steps[5]["stale"], true);
    EXPECT_NE(steps[5]["error"].get<std::string>().find("nb_dizin.ipynb"), std::string::npos) << steps[5];
}

TEST(StatusData, BytesThatAreNotUtf8StayAsSurrogateEscapes) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a path's bytes there are UTF-16";
#else
    TempDir tmp;
    const std::string dir = (tmp / "w").string() + "\xff";
    fs::create_directory(dir);
    const auto text = take(qev_scoreboard_status_json(dir.c_str()));
    ASSERT_TRUE(text) << qev_scoreboard_last_error();
    EXPECT_NE(text->find("\"work_dir\": \"" + (tmp / "w").string() + "\\udcff\""), std::string::npos) << *text;
    EXPECT_TRUE(std::all_of(text->begin(), text->end(), [](char c) { return static_cast<unsigned char>(c) != 0xff; }));
#endif
}

TEST(StatusData, TheThreeFormsAgreeWithTheCommand) {
    EveryFinding f;
    const auto both = take(qev_scoreboard_status_report(f.dir().c_str()));
    ASSERT_TRUE(both) << qev_scoreboard_last_error();
    const json forms = json::parse(*both);
    EXPECT_EQ(forms["data"], json::parse(*take(qev_scoreboard_status_json(f.dir().c_str()))));

    qs::Args args;
    args.dir = f.dir();
    CaptureStdout out;
    qs::cmd_status(args);
    const std::string printed = out.finish();
    EXPECT_EQ(forms["text"].get<std::string>(), printed);
    EXPECT_NE(printed.find("    kredi_db: okunamadı: bir dizin değil\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("nb_01"), std::string::npos);  // steps are the data's and the HTML's alone

    // HTML: every name escaped, errors and stale steps marked.
    const std::string html = forms["html"];
    EXPECT_NE(html.find("<td>&lt;b&gt;&amp;&quot;x&#39;</td>"), std::string::npos) << html;
    EXPECT_EQ(html.find("<b>&"), std::string::npos);
    EXPECT_NE(html.find("<tr class=\"qev-error\"><td>kredi_db</td>"), std::string::npos) << html;
    EXPECT_NE(html.find("<tr class=\"qev-error\"><td>main</td><td>c_kirik</td>"), std::string::npos) << html;
    EXPECT_NE(html.find("<tr class=\"qev-stale\"><td>2025</td><td>02</td>"), std::string::npos) << html;
    EXPECT_NE(html.find("<tr><td>2025</td><td>01</td>"), std::string::npos) << html;
}

TEST(StatusData, FailuresReturnNullAndAreDescribed) {
    EXPECT_EQ(qev_scoreboard_status_json(nullptr), nullptr);
    EXPECT_EQ(qev_scoreboard_last_errno(), EINVAL);
    EXPECT_EQ(qev_scoreboard_status_report(""), nullptr);
    EXPECT_EQ(qev_scoreboard_last_errno(), EINVAL);
    TempDir tmp;
    const std::string missing = (tmp / "yok").string();
    EXPECT_EQ(qev_scoreboard_status_json(missing.c_str()), nullptr);
    EXPECT_EQ(qev_scoreboard_last_errno(), ENOENT);
    EXPECT_EQ(std::string(qev_scoreboard_last_error_path()), missing);
    EXPECT_FALSE(fs::exists(tmp / "yok"));
    spit(tmp / "dosya", "");
    EXPECT_EQ(take(qev_scoreboard_status_json((tmp / "dosya").string().c_str())), std::nullopt);
    EXPECT_EQ(qev_scoreboard_last_errno(), ENOTDIR);
    qev_scoreboard_free(nullptr);
    // A success clears the failure before it.
    EXPECT_TRUE(take(qev_scoreboard_status_json(tmp.path.string().c_str())));
    EXPECT_STREQ(qev_scoreboard_last_error(), "");
}

TEST(StatusData, FilesAreTheRegularFilesThatAreNotHidden) {
    // What a scheduler waits for: data files, not the placeholders and editors' folders beside them.
    TempDir ws;
    const fs::path kik = ws / "external_data/kik_data_ham_csv";
    spit(kik / "2024.csv", "id\n1\n");
    spit(kik / "2025.parquet", "");  // empty, still a file
    spit(kik / ".gitkeep", "");
    spit(kik / ".ipynb_checkpoints/2024-checkpoint.csv", "id\n1\n");
    spit(kik / "arsiv/2023.csv", "id\n1\n");  // a folder of files is one entry, and no file
    if (can_make_symlinks(ws.path)) {
        fs::create_symlink(kik / "2024.csv", kik / "son.csv");   // a link to a file is that file
        fs::create_symlink(kik / "yok.csv", kik / "kirik.csv");  // one that leads nowhere is none
        fs::create_directory_symlink(kik / "arsiv", kik / "arsiv-link");
    }
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((kik / "boru.csv").c_str(), 0600), 0);  // looked at, never opened
#endif
    spit(ws / "external_data/kredi_db/.DS_Store", "");
    const json d = json::parse(*take(qev_scoreboard_status_json(ws.path.string().c_str())));
    const auto entries = std::distance(fs::directory_iterator(kik), fs::directory_iterator());
    const int files = can_make_symlinks(ws.path) ? 3 : 2;
    EXPECT_EQ(d["external_data"][0],
              json({{"name", "kik_data_ham_csv"}, {"exists", true}, {"entries", entries}, {"files", files}}));
    EXPECT_EQ(d["external_data"][1]["entries"], 1);
    EXPECT_EQ(d["external_data"][1]["files"], 0);
}

TEST(StatusData, TheCommandsJsonIsTheCInterfacesByteForByte) {
    // With the package's own services on both sides: an empty table, a view that cannot be counted.
    TempDir ws;
    ASSERT_EQ(run_cli({"--dir", ws.path.string(), "init"}).status, 0);
    spit(ws / "external_data/kik_data_ham_csv/2024.csv", "id\n1\n");
    spit(ws / "kopya.csv", "x\n1\n");
    {
        Db db(ws / "db/qev.duckdb");
        db.exec("CREATE TABLE bos(x INT)");
        db.exec("CREATE VIEW kirik AS SELECT * FROM read_csv('" + (ws / "kopya.csv").string() + "')");
    }
    fs::remove(ws / "kopya.csv");
    const auto c = take(qev_scoreboard_status_json(ws.path.string().c_str()));
    ASSERT_TRUE(c) << qev_scoreboard_last_error();
    ASSERT_NE(c->find("\"rows\": null, \"error\": "), std::string::npos) << *c;
    const RunResult r = run_cli({"--dir", ws.path.string(), "status", "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, *c);  // which ends in its line feed
    EXPECT_EQ(r.out.back(), '\n');
    // Without --dir, the current directory, named as the C interface is given it.
    const std::string cwd = fs::canonical(ws.path).string();
    EXPECT_EQ(run_cli({"status", "--json"}, ws.path).out, *take(qev_scoreboard_status_json(cwd.c_str())));

    // Where the C call fails, so does the command, with its message and nothing on standard output.
    for (const fs::path& wrong : {ws / "yok", ws / "external_data/kik_data_ham_csv/2024.csv"}) {
        EXPECT_EQ(take(qev_scoreboard_status_json(wrong.string().c_str())), std::nullopt);
        const RunResult failed = run_cli({"--dir", wrong.string(), "status", "--json"});
        EXPECT_EQ(failed.status, 1);
        EXPECT_EQ(failed.out, "");
        EXPECT_EQ(failed.err, std::string("qev-scoreboard: hata: ") + qev_scoreboard_last_error() + "\n");
    }
}

TEST(StatusData, ANameHoldingADotOrAQuoteIsQuotedAsSqlWritesIt) {
    TempDir ws;
    {
        Db db(ws / "db/qev.duckdb");
        db.exec("CREATE SCHEMA a");
        db.exec("CREATE SCHEMA \"a.b\"");
        db.exec("CREATE SCHEMA silver");
        for (const char* table :
             {"\"silver.kredi\"", "silver.kredi", "a.\"b.c\"", "\"a.b\".c", "\"q\"\"uote\"", "a.\"x\\y\""})
            db.exec(std::string("CREATE TABLE ") + table + " AS SELECT * FROM range(1)");
    }
    RunResult r = run_cli({"--dir", ws.path.string(), "status"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line :
         {"      \"q\"\"uote\": 1 rows\n", "      \"silver.kredi\": 1 rows\n", "      a.\"b.c\": 1 rows\n",
          "      a.x\\\\y: 1 rows\n", "      \"a.b\".c: 1 rows\n", "      silver.kredi: 1 rows\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
}

}  // namespace

namespace {

// A report with every branch of the data's layout: a directory that could not be counted, a table that
// could not be, a database error, a missing output, a step without fingerprints and one with an error.
// Each part is filled by name, so that a part gaining a field needs no edit here.
qs::StatusRawDir raw_dir(const std::string& name, bool exists, std::optional<std::uint64_t> entries,
                         const std::string& error = "") {
    qs::StatusRawDir d;
    d.name = name;
    d.exists = exists;
    d.entries = entries;
    // Every entry a data file but one hidden one, where they could be counted.
    if (entries) d.files = *entries - 1;
    d.error = error;
    return d;
}

qs::StatusTable table(const std::string& schema, const std::string& name, bool view, std::optional<std::int64_t> rows,
                      const std::string& error = "") {
    qs::StatusTable t;
    t.schema = schema;
    t.name = name;
    t.view = view;
    t.rows = rows;
    t.error = error;
    return t;
}

qs::StatusOutput output(const std::string& name, std::optional<std::uint64_t> size) {
    qs::StatusOutput o;
    o.name = name;
    o.exists = size.has_value();
    o.size_bytes = size;
    return o;
}

qs::StatusStep step(const std::string& season, const std::string& code, std::optional<std::string> recorded,
                    std::optional<std::string> current, const std::string& error = "") {
    qs::StatusStep s;
    s.season = season;
    s.code = code;
    s.notebook = "nb_" + code + ".ipynb";
    s.recorded = std::move(recorded);
    s.current = std::move(current);
    s.error = error;
    return s;
}

qs::StatusReport every_branch() {
    qs::StatusReport r;
    r.version = "2.0.0";
    r.work_dir = "/w/\"ç\"\\\n";
    r.external_data = {raw_dir("kik", true, 3), raw_dir("kredi", true, std::nullopt, "erişim izni yok"),
                       raw_dir("yok", false, std::nullopt)};
    qs::StatusDatabase db;
    db.path = "/w/db/qev.duckdb";
    db.exists = true;
    db.size_bytes = 12288;
    db.tables = {table("main", "a", false, 3), table("s", "v\x01", true, std::nullopt, "Okuma hatası"),
                 table("main", "b", false, -1)};
    db.error = "tablolar listelenemedi";
    r.database = db;
    r.outputs = std::vector<qs::StatusOutput>{output("json/a.json", 1536), output("json/b.json", std::nullopt)};
    r.steps = std::vector<qs::StatusStep>{step("2025", "01", "00ff", "00ff"),
                                          step("2024", "02", std::nullopt, std::nullopt, "bozuk \xff")};
    r.steps_error = "seasons: okunamadı";
    return r;
}

}  // namespace

// The data's bytes as callers have always had them: any layout change shows here, not only a change of
// meaning.
TEST(StatusData, TheDataKeepsItsExactLayout) {
    qs::StatusReport r = every_branch();
    EXPECT_EQ(
        qs::status_json(r),
        "{\n"
        "  \"version\": \"2.0.0\",\n"
        "  \"work_dir\": \"/w/\\\"ç\\\"\\\\\\n\",\n"
        "  \"external_data\": [\n"
        "    {\"name\": \"kik\", \"exists\": true, \"entries\": 3, \"files\": 2},\n"
        "    {\"name\": \"kredi\", \"exists\": true, \"entries\": null, \"files\": null, \"error\": "
        "\"erişim izni yok\"},\n"
        "    {\"name\": \"yok\", \"exists\": false, \"entries\": null, \"files\": null}\n"
        "  ],\n"
        "  \"database\": {\"path\": \"/w/db/qev.duckdb\", \"exists\": true, \"size_bytes\": 12288, \"tables\": [\n"
        "    {\"schema\": \"main\", \"name\": \"a\", \"kind\": \"table\", \"rows\": 3},\n"
        "    {\"schema\": \"s\", \"name\": \"v\\u0001\", \"kind\": \"view\", \"rows\": null, \"error\": "
        "\"Okuma hatası\"},\n"
        "    {\"schema\": \"main\", \"name\": \"b\", \"kind\": \"table\", \"rows\": -1}\n"
        "  ], \"error\": \"tablolar listelenemedi\"},\n"
        "  \"outputs\": [\n"
        "    {\"name\": \"json/a.json\", \"exists\": true, \"size_bytes\": 1536},\n"
        "    {\"name\": \"json/b.json\", \"exists\": false, \"size_bytes\": null}\n"
        "  ],\n"
        "  \"steps\": [\n"
        "    {\"season\": \"2025\", \"code\": \"01\", \"notebook\": \"nb_01.ipynb\", \"recorded\": \"00ff\", "
        "\"current\": \"00ff\", \"stale\": false},\n"
        "    {\"season\": \"2024\", \"code\": \"02\", \"notebook\": \"nb_02.ipynb\", \"recorded\": null, "
        "\"current\": null, \"stale\": true, \"error\": \"bozuk \\udcff\"}\n"
        "  ],\n"
        "  \"steps_error\": \"seasons: okunamadı\"\n"
        "}\n");

    // What is not there yet, or was not asked for: no database block, no outputs, no steps.
    r.database.reset();
    r.outputs.reset();
    r.steps.reset();
    r.steps_error.clear();
    r.external_data.resize(1);
    EXPECT_EQ(qs::status_json(r),
              "{\n"
              "  \"version\": \"2.0.0\",\n"
              "  \"work_dir\": \"/w/\\\"ç\\\"\\\\\\n\",\n"
              "  \"external_data\": [\n"
              "    {\"name\": \"kik\", \"exists\": true, \"entries\": 3, \"files\": 2}\n"
              "  ],\n"
              "  \"database\": null,\n"
              "  \"outputs\": [],\n"
              "  \"steps\": []\n"
              "}\n");
    r.database.emplace();
    r.database->path = "/w/db/qev.duckdb";
    r.steps = std::vector<qs::StatusStep>{};
    EXPECT_NE(qs::status_json(r).find(
                  "  \"database\": {\"path\": \"/w/db/qev.duckdb\", \"exists\": false, \"size_bytes\": null, "
                  "\"tables\": [], \"error\": null},\n"
                  "  \"outputs\": [],\n"
                  "  \"steps\": []\n}\n"),
              std::string::npos)
        << qs::status_json(r);
}

// The C interface's three forms in one document: the data's own bytes, then the text and the HTML as
// strings, on one line after the data.
TEST(StatusData, TheFormsEnvelopeHoldsTheDataAsItsOwnBytes) {
    EveryFinding f;
    const auto both = take(qev_scoreboard_status_report(f.dir().c_str()));
    const auto data = take(qev_scoreboard_status_json(f.dir().c_str()));
    ASSERT_TRUE(both && data) << qev_scoreboard_last_error();
    ASSERT_EQ(both->rfind("{\"data\": " + *data + ", \"text\": \"QEV Scoreboard v2.0.0 — status\\n", 0), 0u) << *both;
    const size_t html = both->find("\\n\", \"html\": \"<div class=\\\"qev-status\\\">\\n<style>\\n");
    ASSERT_NE(html, std::string::npos) << *both;
    const std::string end = "</div>\\n\"}\n";
    EXPECT_EQ(both->substr(both->size() - end.size()), end);
    const auto after_data =
        both->begin() + static_cast<std::ptrdiff_t>(std::string("{\"data\": ").size() + data->size());
    EXPECT_EQ(std::count(after_data, both->end(), '\n'), 1);
}

// `init` as a user meets it: the whole printed report and the resulting tree, on real directories,
// first through the built program with the shipped package, then in-process with a package the test
// shapes itself.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"
#include "support.hpp"

using namespace qev_test;

namespace {

const std::string VERSION = PROJECT_VERSION;

const char* const DIR_LINES[] = {
    "  [OK] db/",
    "  [OK] outputs/json/",
    "  [OK] outputs/html/",
    "  [OK] outputs/validation/",
    "  [OK] ml_models/",
    "  [OK] seasons/",
    "  [OK] external_data/kik_data_ham_csv/",
    "  [OK] external_data/kredi_db/",
    "  [OK] external_data/yis_tahmin_data/",
    "  [OK] external_data/eus_tahmin_data/",
    "  [OK] external_data/eus_hedef_muta/",
    "  [OK] external_data/eus_sql_kapsam_muta/",
    "  [OK] external_data/statik_db/",
    "  [OK] external_data/yis_train_data/",
    "  [OK] external_data/rkd_donem_data/",
    "  [OK] external_data/memzuc_data_donem/",
};

const std::string BANNER_END = R"(/
    ├── kik_data_ham_csv/        ← KIK izleme CSV
    ├── kredi_db/                ← Kredi risk parquet
    ├── yis_tahmin_data/         ← YIS tahmin CSV
    ├── eus_tahmin_data/         ← EUS tahmin CSV
    ├── eus_hedef_muta/          ← EUS hedef MUTA
    ├── eus_sql_kapsam_muta/     ← EUS kapsam MUTA
    ├── statik_db/               ← Statik bilgiler TXT
    ├── yis_train_data/          ← YIS training parquet
    ├── rkd_donem_data/          ← RKD kriter parquet
    └── memzuc_data_donem/       ← Memzuc parquet

  Veri kopyalandıktan sonra qev_pipeline.ipynb ile çalıştırın:
    qev_pipeline.ipynb              # Orchestrator (Motor class)
    nb_01a_ingest_ddl.ipynb         # Her ingest kaynağı ayrı
    nb_01b_ingest_kik.ipynb
    ...
    nb_02_transform.ipynb           # Bronze → Silver
    nb_03_marts.ipynb               # Scoreboard + Trending + HTML
    nb_04_ml.ipynb                  # ML train + predict
    nb_05a_backtest_eus.ipynb       # EUS backtest
    nb_05b_backtest_yis.ipynb       # YIS backtest
    nb_05c_backtest_ml.ipynb        # ML backtest

)";

// The report up to and including the first `dirs` "[OK]" lines.
std::string head(const std::string& base, size_t dirs = 16) {
    std::string out = "QEV Scoreboard v" + VERSION + " — init\nÇalışma dizini: " + shown(base) + "\n\n";
    for (size_t i = 0; i < dirs; ++i) out += std::string(DIR_LINES[i]) + "\n";
    return out;
}

// The complete report of a run that got through: `same` unchanged notebooks, then those created and
// updated, and the meta-hash line when one is expected.
std::string report(const std::string& base, long same, const std::vector<std::string>& created = {},
                   const std::vector<std::string>& updated = {}, const std::string& sync = "",
                   const std::vector<std::string>& kept = {}) {
    std::string out = head(base) + "  [OK] external_data/VERI_KOPYALA.txt\n" + sync;
    out += "\n==================================================\n";
    out += "  AYNI         : " + std::to_string(same) + " dosya\n";
    if (!created.empty()) out += "  YENİ         : " + std::to_string(created.size()) + " dosya\n";
    for (const auto& n : created) out += "    + " + n + "\n";
    if (!updated.empty()) out += "  GÜNCELLENDİ : " + std::to_string(updated.size()) + " dosya\n";
    for (const auto& n : updated) out += "    ↻ " + n + "\n";
    if (!kept.empty()) out += "  YEDEKLENDİ  : " + std::to_string(kept.size()) + " dosya\n";
    for (const auto& k : kept) out += "    ⤷ " + shown(k) + "\n";
    out += "==================================================\n";
    if (!created.empty() || !updated.empty())
        out +=
            "\n⚠ VS Code'da açık notebook'lar varsa:\n  Ctrl+Shift+P → 'Revert File' ile yenileyin.\n"
            "  Veya tüm notebook'ları kapatıp tekrar açın.\n";
    out +=
        "\n============================================================\n  KURULUM TAMAM\n"
        "============================================================\n\n"
        "  Ham veriyi external_data altına kopyalayın:\n\n    " +
        shown(base + "/external_data") + BANNER_END;
    return out;
}

fs::path package_nb_dir() { return build_data_dir() / "notebooks"; }

// The shipped notebooks that init installs, in the order it lists them.
std::vector<std::string> package_notebooks() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(package_nb_dir()))
        if (e.path().filename() != "nb_01_ingest.ipynb") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every path under `root` with "/" for a directory and the content for a file.
std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        out[utf8_text(fs::relative(e.path(), root).generic_u8string())] = e.is_directory() ? "/"
                                                                          : e.path().filename() == ".nb_installed.json"
                                                                              ? recorded_fingerprints(slurp(e.path()))
                                                                              : slurp(e.path());
    return out;
}

// The record of installed files that names `readme` and `notebooks` as installed.
std::string installed_record(const fs::path& nb_dir, const std::vector<std::string>& notebooks,
                             const std::string& readme) {
    nlohmann::json record = nlohmann::json::object();
    record["external_data/VERI_KOPYALA.txt"] = fingerprint(readme);
    for (const auto& n : notebooks) record[n] = fingerprint_of(nb_dir / utf8_path(n));
    return record.dump();
}

// The tree a first run leaves, with `notebooks` installed.
std::map<std::string, std::string> fresh_tree(const fs::path& nb_dir, const std::vector<std::string>& notebooks,
                                              const std::string& readme) {
    const std::string dir = "/";
    std::map<std::string, std::string> t = {{"db", dir}, {"outputs", dir}, {"external_data", dir}};
    for (std::string_view line : DIR_LINES) t.emplace(line.substr(7, line.size() - 8), dir);
    t.emplace("external_data/VERI_KOPYALA.txt", readme);
    t.emplace("db/.nb_version", VERSION);
    t.emplace("db/.nb_installed.json", installed_record(nb_dir, notebooks, readme));
    for (const auto& n : notebooks) t.emplace(n, slurp(nb_dir / utf8_path(n)));
    return t;
}

// The one folder of kept copies in the work directory, as "yedek/<time>".
std::string kept_folder(const fs::path& ws) {
    const auto names = entries(ws / "yedek");
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? "yedek/?" : "yedek/" + names.front();
}

// `t` with kept copies under `folder`: relative path and content of each.
std::map<std::string, std::string> with_kept(std::map<std::string, std::string> t, const std::string& folder,
                                             const std::map<std::string, std::string>& copies) {
    t["yedek"] = t[folder] = "/";
    for (const auto& [rel, content] : copies) {
        if (const auto slash = rel.rfind('/'); slash != std::string::npos) t[folder + "/" + rel.substr(0, slash)] = "/";
        t[folder + "/" + rel] = content;
    }
    return t;
}

qev_scoreboard::platform::FileInfo stat_of(const fs::path& p) {
    namespace platform = qev_scoreboard::platform;
    platform::FileInfo info;
    EXPECT_EQ(platform::describe(p, platform::Follow::Links, info), 0) << p;
    return info;
}

void expect_same_file_meta(const fs::path& a, const fs::path& b) {
    const auto x = stat_of(a), y = stat_of(b);
    EXPECT_EQ(x.kind, y.kind) << b;
    EXPECT_EQ(x.permissions, y.permissions) << b;
    EXPECT_EQ(x.modified.seconds, y.modified.seconds) << b;
    EXPECT_EQ(x.modified.nanoseconds, y.modified.nanoseconds) << b;
}

RunResult init(const fs::path& ws, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--dir", ws.string(), "init"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_cli(args);
}

// ---- the built program with the shipped package ---------------------------------------------------

TEST(InitRun, FirstRunBuildsTheWholeTree) {
    TempDir tmp;
    const fs::path ws = tmp / "new/work";  // neither exists yet
    const auto nbs = package_notebooks();
    RunResult r = init(ws);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, report(ws.string(), 0, nbs));
    EXPECT_EQ(tree(ws), fresh_tree(package_nb_dir(), nbs, slurp(build_data_dir() / "VERI_KOPYALA.txt")));
    for (const auto& n : nbs) expect_same_file_meta(package_nb_dir() / n, ws / n);
}

TEST(InitRun, WorkDirAsTypedOrCurrent) {
    TempDir tmp;
    RunResult rel = run_cli({"--dir", "rel", "init"}, tmp.path);
    EXPECT_EQ(rel.status, 0) << rel.err;
    EXPECT_EQ(rel.out, report("rel", 0, package_notebooks()));

    RunResult cwd = run_cli({"init"}, tmp / "rel");
    const std::string here = fs::canonical(tmp / "rel").string();
    EXPECT_EQ(cwd.out, report(here, long(package_notebooks().size())));
}

TEST(InitRun, SecondRunTouchesNoNotebookButRewritesReadmeAndStamp) {
    TempDir ws;
    ASSERT_EQ(init(ws.path).status, 0);
    const auto before = tree(ws.path);
    const auto nbs = package_notebooks();
    std::map<std::string, std::uint64_t> inodes;
    for (const auto& n : nbs) inodes[n] = stat_of(ws / n).file_id;
    spit(ws / "external_data/VERI_KOPYALA.txt", "kullanıcı değiştirdi");

    RunResult r = init(ws.path);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string kept = kept_folder(ws.path);
    EXPECT_EQ(r.out, report(ws.path.string(), long(nbs.size()), {}, {}, "", {kept + "/VERI_KOPYALA.txt"}));
    EXPECT_EQ(tree(ws.path), with_kept(before, kept, {{"VERI_KOPYALA.txt", "kullanıcı değiştirdi"}}));
    for (const auto& n : nbs) EXPECT_EQ(stat_of(ws / n).file_id, inodes[n]) << n << " was rewritten";
}

TEST(InitRun, UserEditedAndDeletedNotebooksAreRestored) {
    TempDir ws;
    ASSERT_EQ(init(ws.path).status, 0);
    const auto before = tree(ws.path);
    spit(ws / "nb_03_marts.ipynb", "{\"cells\": []}");
    fs::remove(ws / "nb_02_transform.ipynb");
    spit(ws / "kendi_notum.ipynb", "not a package notebook");

    RunResult r = init(ws.path);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string kept = kept_folder(ws.path);
    EXPECT_EQ(r.out, report(ws.path.string(), long(package_notebooks().size()) - 2, {"nb_02_transform.ipynb"},
                            {"nb_03_marts.ipynb"}, "", {kept + "/nb_03_marts.ipynb"}));
    auto expected = with_kept(before, kept, {{"nb_03_marts.ipynb", "{\"cells\": []}"}});
    expected["kendi_notum.ipynb"] = "not a package notebook";
    EXPECT_EQ(tree(ws.path), expected);
}

TEST(InitRun, ForceRewritesEverythingAndListsItAsUpdated) {
    const auto nbs = package_notebooks();
    TempDir empty;
    RunResult first = init(empty.path, {"--force"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, report(empty.path.string(), 0, {}, nbs));

    TempDir current;
    ASSERT_EQ(init(current.path).status, 0);
    const std::uint64_t old_inode = stat_of(current / nbs.front()).file_id;
    RunResult again = init(current.path, {"--fo"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, report(current.path.string(), 0, {}, nbs));
    EXPECT_NE(stat_of(current / nbs.front()).file_id, old_inode);
    EXPECT_EQ(tree(current.path), tree(empty.path));
}

TEST(InitRun, IngestNotebookInWorkDirIsNeverTouched) {
    ASSERT_TRUE(fs::exists(package_nb_dir() / "nb_01_ingest.ipynb"));
    TempDir ws;
    spit(ws / "nb_01_ingest.ipynb", "kullanıcının kendi ingest'i");
    fs::permissions(ws / "nb_01_ingest.ipynb", fs::perms::owner_read | fs::perms::owner_write);
    const auto before = stat_of(ws / "nb_01_ingest.ipynb");
    for (bool force : {false, true}) {
        ASSERT_EQ(init(ws.path, force ? std::vector<std::string>{"--force"} : std::vector<std::string>{}).status, 0);
        EXPECT_EQ(slurp(ws / "nb_01_ingest.ipynb"), "kullanıcının kendi ingest'i");
        const auto after = stat_of(ws / "nb_01_ingest.ipynb");
        EXPECT_EQ(after.file_id, before.file_id);
        EXPECT_EQ(after.permissions, before.permissions);
        EXPECT_EQ(after.modified.nanoseconds, before.modified.nanoseconds);
    }
}

// A work directory prepared by an older version, with engine meta files in three seasons.
struct UpgradeFixture {
    TempDir ws;
    static constexpr const char* STALE = "0123456789abcdef";

    void meta(const std::string& season, const std::string& kod, const std::string& hash) {
        spit(ws / ("seasons/" + season + "/meta/adim_" + kod + ".json"),
             R"({"kod": ")" + kod + R"(", "nb_hash": ")" + hash + R"(", "durum": "tamam"})");
    }
    std::string nb_hash(const std::string& season, const std::string& kod) {
        return nlohmann::json::parse(slurp(ws / ("seasons/" + season + "/meta/adim_" + kod + ".json")))
            .at("nb_hash")
            .get<std::string>();
    }
    UpgradeFixture() {
        EXPECT_EQ(init(ws.path).status, 0);
        meta("2024_06", "01a", STALE);
        meta("2024_06", "02_bronze", STALE);
        meta("2024_06", "02_silver", fingerprint_of(ws / "nb_02_transform.ipynb"));  // already current
        meta("2024_05", "01a", STALE);                                               // shadowed by 2024_06
        meta("2024_05", "03_html", STALE);
        meta("2023_12", "04_predict", STALE);
    }
};

TEST(InitRun, VersionChangeRefreshesMetaHashesOfUnchangedNotebooks) {
    UpgradeFixture f;
    spit(f.ws / "db/.nb_version", "0.9.0\n");
    const std::string shadowed = slurp(f.ws / "seasons/2024_05/meta/adim_01a.json");

    RunResult r = init(f.ws.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, report(f.ws.path.string(), long(package_notebooks().size()), {}, {},
                            "  [SYNC] 4 meta hash güncellendi (gereksiz re-run önlendi)\n"));
    EXPECT_EQ(slurp(f.ws / "db/.nb_version"), VERSION);
    EXPECT_EQ(f.nb_hash("2024_06", "01a"), fingerprint_of(f.ws / "nb_01a_ingest_ddl.ipynb"));
    EXPECT_EQ(f.nb_hash("2024_06", "02_bronze"), fingerprint_of(f.ws / "nb_02_transform.ipynb"));
    EXPECT_EQ(f.nb_hash("2024_05", "03_html"), fingerprint_of(f.ws / "nb_03_marts.ipynb"));
    EXPECT_EQ(f.nb_hash("2023_12", "04_predict"), fingerprint_of(f.ws / "nb_04_ml.ipynb"));
    EXPECT_EQ(slurp(f.ws / "seasons/2024_05/meta/adim_01a.json"), shadowed);
    const auto doc = nlohmann::json::parse(slurp(f.ws / "seasons/2024_06/meta/adim_01a.json"));
    EXPECT_EQ(doc.at("durum"), "tamam");

    // Recorded now: the next run does not refresh again.
    f.meta("2024_06", "01b", UpgradeFixture::STALE);
    EXPECT_EQ(init(f.ws.path).out, report(f.ws.path.string(), long(package_notebooks().size())));
    EXPECT_EQ(f.nb_hash("2024_06", "01b"), UpgradeFixture::STALE);
}

TEST(InitRun, StampWithSpacesOrEmptyCausesNoRefresh) {
    for (const std::string& stamp : {"  " + VERSION + " \n", std::string(), std::string(" \n\t")}) {
        UpgradeFixture f;
        spit(f.ws / "db/.nb_version", stamp);
        RunResult r = init(f.ws.path);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, report(f.ws.path.string(), long(package_notebooks().size()))) << stamp;
        EXPECT_EQ(slurp(f.ws / "db/.nb_version"), VERSION);
        EXPECT_EQ(f.nb_hash("2024_06", "01a"), UpgradeFixture::STALE);
    }
}

TEST(InitRun, FileInPlaceOfADirectoryStopsAfterTheEarlierLines) {
    TempDir ws;
    spit(ws / "seasons", "bir dosya");
    RunResult r = init(ws.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, head(ws.path.string(), 5));
    EXPECT_EQ(r.err, "qev-scoreboard: hata: " + (ws / "seasons").string() +
                         ": dizin oluşturulamadı: " + qev_scoreboard::errno_reason(ENOTDIR) + "\n");
    EXPECT_FALSE(fs::exists(ws / "external_data"));
    EXPECT_FALSE(fs::exists(ws / "db/.nb_version"));
    EXPECT_EQ(slurp(ws / "seasons"), "bir dosya");

    TempDir nested;  // a file where a parent must be is named itself
    spit(nested / "outputs", "");
    RunResult n = init(nested.path);
    EXPECT_EQ(n.out, head(nested.path.string(), 1));
    EXPECT_NE(n.err.find((nested / "outputs").string() + ": dizin oluşturulamadı"), std::string::npos) << n.err;
}

TEST(InitRun, UnusableStampStopsBeforeTheSummary) {
    TempDir ws;
    fs::create_directories(ws / "db/.nb_version");
    RunResult r = init(ws.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, head(ws.path.string()) + "  [OK] external_data/VERI_KOPYALA.txt\n");
    EXPECT_NE(r.err.find(shown((ws / "db/.nb_version").string())), std::string::npos) << r.err;
    // What was done before the failure stays.
    for (const auto& n : package_notebooks()) EXPECT_TRUE(fs::exists(ws / n)) << n;
}

TEST(InitRun, NotebookThatCannotBeReplacedStopsWithoutTruncating) {
    for (bool force : {false, true}) {
        TempDir ws;
        fs::create_directories(ws / "nb_02_transform.ipynb/icerik");
        RunResult r = init(ws.path, force ? std::vector<std::string>{"--force"} : std::vector<std::string>{});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, head(ws.path.string()) + "  [OK] external_data/VERI_KOPYALA.txt\n");
        EXPECT_NE(r.err.find((ws / "nb_02_transform.ipynb").string()), std::string::npos) << r.err;
        EXPECT_TRUE(fs::is_directory(ws / "nb_02_transform.ipynb/icerik"));
        EXPECT_FALSE(fs::exists(ws / "db/.nb_version"));  // the next run still sees the old version
        for (const auto& e : fs::directory_iterator(ws.path))
            EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
    }
}

// ---- in-process, with a package shaped by the test ------------------------------------------------

struct Package {
    FakeServices svc;
    Package() {
        svc.version_text = VERSION;
        spit(svc.data_readme, "oku beni\n");
    }
    // Runs init on `ws`; returns the report, or the report so far with the error appended.
    std::string run(const fs::path& ws, bool force = false) {
        ScopedServices scope(svc);
        CaptureStdout cap;
        qev_scoreboard::Args args;
        args.dir = ws.string();
        args.force = force;
        try {
            qev_scoreboard::cmd_init(args);
        } catch (const std::exception& e) {
            return cap.finish() + "!" + e.what();
        }
        return cap.finish();
    }
};

TEST(InitPackage, EmptyNotebookDirInstallsNothingAMissingOneIsAnError) {
    Package pkg;
    TempDir ws;
    EXPECT_EQ(pkg.run(ws.path), report(ws.path.string(), 0));
    EXPECT_EQ(tree(ws.path), fresh_tree({}, {}, "oku beni\n"));
    spit(ws / "db" / ".nb_version", "0.9");
    fs::remove_all(pkg.svc.notebooks_dir);
    const std::string out = pkg.run(ws.path, true);
    EXPECT_TRUE(out.ends_with("  [OK] external_data/VERI_KOPYALA.txt\n!" + pkg.svc.notebooks_dir.string() +
                              ": listelenemedi: böyle bir dosya ya da dizin yok"))
        << out;
    EXPECT_EQ(slurp(ws / "db" / ".nb_version"), "0.9");
}

TEST(InitPackage, CodePointOrderAndOnlyDirectIpynbEntries) {
    Package pkg;
    for (const char* name : {"nb_2.ipynb", "nb_10.ipynb", "alpha.ipynb", "Zeta.ipynb", "Ölçüm.ipynb",
                             "nb_01_ingest.ipynb", "notes.txt", "upper.IPYNB", "alt/inner.ipynb"})
        spit(pkg.svc.notebooks_dir / utf8_path(name), name);
    TempDir ws;
    const std::vector<std::string> order = {"Zeta.ipynb", "alpha.ipynb", "nb_10.ipynb", "nb_2.ipynb", "Ölçüm.ipynb"};
    EXPECT_EQ(pkg.run(ws.path), report(ws.path.string(), 0, order));
    EXPECT_EQ(tree(ws.path), fresh_tree(pkg.svc.notebooks_dir, order, "oku beni\n"));
}

TEST(InitPackage, RefreshLeavesTheIngestNotebooksStepsAlone) {
    Package pkg;
    spit(pkg.svc.notebooks_dir / "a.ipynb", "a");
    spit(pkg.svc.notebooks_dir / "nb_01_ingest.ipynb", "paket");
    pkg.svc.registry = {{"01", "nb_01_ingest.ipynb"}, {"02", "a.ipynb"}};
    TempDir ws;
    spit(ws / "nb_01_ingest.ipynb", "kullanıcı");
    const std::string stale = R"({"nb_hash": "0123456789abcdef"})";
    spit(ws / "seasons/s1/meta/adim_01.json", stale);
    spit(ws / "seasons/s1/meta/adim_02.json", stale);
    spit(ws / "db/.nb_version", "0.9.0");
    EXPECT_EQ(pkg.run(ws.path), report(ws.path.string(), 0, {"a.ipynb"}, {},
                                       "  [SYNC] 1 meta hash güncellendi (gereksiz re-run önlendi)\n"));
    EXPECT_EQ(slurp(ws / "seasons/s1/meta/adim_01.json"), stale);
    EXPECT_NE(slurp(ws / "seasons/s1/meta/adim_02.json"), stale);
}

TEST(InitPackage, ReadmeIsATextCopyWithUnixLineEnds) {
    Package pkg;
    TempDir ws;
    spit(pkg.svc.data_readme, "\xEF\xBB\xBFsatır 1\r\nsatır 2\rsatır 3\n\r\n\r\rson\r");
    pkg.run(ws.path);
    EXPECT_EQ(slurp(ws / "external_data/VERI_KOPYALA.txt"), "\xEF\xBB\xBFsatır 1\nsatır 2\nsatır 3\n\n\n\nson\n");
}

TEST(InitPackage, BadReadmeStopsBeforeAnyNotebook) {
    Package pkg;
    spit(pkg.svc.notebooks_dir / "a.ipynb", "{}");
    TempDir ws;
    spit(ws / "external_data/VERI_KOPYALA.txt", "önceki");
    spit(pkg.svc.data_readme, "ge\347ersiz");
    EXPECT_EQ(pkg.run(ws.path),
              head(ws.path.string()) + "!" + pkg.svc.data_readme.string() + ": okunamadı: geçerli UTF-8 değil");
    EXPECT_EQ(slurp(ws / "external_data/VERI_KOPYALA.txt"), "önceki");
    EXPECT_FALSE(fs::exists(ws / "a.ipynb"));

    fs::remove(pkg.svc.data_readme);
    const std::string missing = pkg.run(ws.path);
    EXPECT_NE(missing.find("açılamadı"), std::string::npos) << missing;
    EXPECT_NE(missing.find(pkg.svc.data_readme.string()), std::string::npos) << missing;
}

TEST(InitPackage, NewCopiesCarryModeAndTimesReplacedOnesTheTimeOfReplacement) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: mode bits and access times (the first run's copies check the rest)";
#else
    Package pkg;
    const struct timespec times[2] = {{1000000000, 123456789}, {1100000000, 987654321}};
    for (const char* name : {"new.ipynb", "old.ipynb"}) {
        const fs::path src = pkg.svc.notebooks_dir / name;
        spit(src, name);
        ::chmod(src.c_str(), 0750);
        ::utimensat(AT_FDCWD, src.c_str(), times, 0);
    }
    TempDir ws;
    spit(ws / "old.ipynb", "eski");  // the replaced copy's own mode does not survive
    ::chmod((ws / "old.ipynb").c_str(), 0600);
    const struct timespec user_times[2] = {{1200000000, 0}, {1300000000, 5}};
    ::utimensat(AT_FDCWD, (ws / "old.ipynb").c_str(), user_times, 0);
    const auto before = std::chrono::system_clock::now();
    pkg.run(ws.path);
    for (const char* name : {"new.ipynb", "old.ipynb"}) EXPECT_EQ(stat_of(ws / name).permissions, 0750u) << name;
    EXPECT_EQ(stat_of(ws / "new.ipynb").modified.seconds, 1100000000);
    EXPECT_EQ(stat_of(ws / "new.ipynb").modified.nanoseconds, 987654321);
    // Fingerprinting the package's copy first may itself update its access time; a fresh copy is
    // made without that read, so it carries the original.
    EXPECT_EQ(stat_of(ws / "new.ipynb").accessed.seconds, 1000000000);
    EXPECT_EQ(stat_of(ws / "new.ipynb").accessed.nanoseconds, 123456789);
    // A replaced notebook is newer than anything an editor loaded: it warns before saving over it.
    EXPECT_GE(stat_of(ws / "old.ipynb").modified.seconds,
              std::chrono::duration_cast<std::chrono::seconds>(before.time_since_epoch()).count() - 1);
    // The kept copy is the user's file as it was, times and mode included.
    const auto kept = stat_of(ws / kept_folder(ws.path) / "old.ipynb");
    EXPECT_EQ(kept.modified.seconds, 1300000000);
    EXPECT_EQ(kept.modified.nanoseconds, 5);
    EXPECT_EQ(kept.permissions, 0600u);
#endif
}

// A copy that fails half-way (here: the file size limit) leaves the user's file as it was.
TEST(InitPackage, FailedCopyLeavesTheInstalledNotebookWhole) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a file-size limit to fail the copy half-way";
#else
    Package pkg;
    spit(pkg.svc.notebooks_dir / "big.ipynb", std::string(256 * 1024, 'x'));
    TempDir ws;
    spit(ws / "big.ipynb", "kullanıcının düzenlemesi");
    std::string out;
    {
        struct rlimit old = {};
        ::getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = old;
        small.rlim_cur = 64 * 1024;
        auto* prev = ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &small);
        out = pkg.run(ws.path);
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::signal(SIGXFSZ, prev);
    }
    // The user's file was kept before the copy failed, and the report says where, before the error.
    const std::string copy = kept_folder(ws.path) + "/big.ipynb";
    EXPECT_NE(out.find("  [OK] external_data/VERI_KOPYALA.txt\n  YEDEKLENDİ  : 1 dosya\n    ⤷ " + shown(copy) + "\n!"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("AYNI"), std::string::npos);
    EXPECT_EQ(slurp(ws / "big.ipynb"), "kullanıcının düzenlemesi");
    EXPECT_EQ(slurp(ws / copy), "kullanıcının düzenlemesi");
    for (const auto& e : fs::directory_iterator(ws.path))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
#endif
}

}  // namespace

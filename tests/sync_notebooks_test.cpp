// The notebook auto-sync, in process with package services the tests control, and its C form.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/qev_scoreboard.h"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"
#include "support.hpp"

using namespace qev_test;
using qev_scoreboard::_sync_notebooks;

namespace {

const std::vector<std::string> PACKAGE_NOTEBOOKS = {"nb_01_ingest.ipynb", "nb_02_transform.ipynb", "nb_03_marts.ipynb",
                                                    "nb_04_ml.ipynb", "qev_pipeline.ipynb"};
const std::vector<std::string> INSTALLED = {"nb_02_transform.ipynb", "nb_03_marts.ipynb", "nb_04_ml.ipynb",
                                            "qev_pipeline.ipynb"};
const std::string COPIED_LINE = "  [SYNC] Notebook'lar kopyalandı: v1.1.0 (4 dosya)\n";
const std::string UPDATED_LINE = "  [SYNC] Notebook'lar güncellendi: v1.0.0 → v1.1.0 (4 dosya)\n";

struct RegistryFails : FakeServices {
    RegistryFails() { registry_text = "{\"01\": {}}"; }
};

class SyncNotebooks : public ::testing::Test {
 protected:
    TempDir tmp;
    fs::path ws = tmp / "ws";
    FakeServices fake;
    fs::path pkg = fake.notebooks_dir;
    std::optional<ScopedServices> scope;

    void SetUp() override {
        for (const auto& name : PACKAGE_NOTEBOOKS) spit(pkg / name, "{\"cells\": [], \"name\": \"" + name + "\"}");
        spit(pkg / "README.txt", "not a notebook");
        spit(pkg / "old" / "nb_09_old.ipynb", "below the notebook directory");
        use(fake);
    }
    void use(FakeServices& s) {
        // File by file: MinGW's std::filesystem refuses to copy a directory onto an existing one.
        if (&s != &fake)
            for (const auto& e : fs::directory_iterator(pkg))
                fs::copy(e.path(), s.notebooks_dir / e.path().filename(), fs::copy_options::recursive);
        scope.reset();
        scope.emplace(s);
    }
    std::string sync() {
        CaptureStdout out;
        _sync_notebooks(ws);
        return out.finish();
    }
    // Runs a sync that must fail; returns what it printed and stores the error.
    template <typename E>
    std::string sync_failing(E& error) {
        CaptureStdout out;
        try {
            _sync_notebooks(ws);
            ADD_FAILURE() << "no error";
        } catch (const E& e) {
            error = e;
        }
        return out.finish();
    }
    std::string stamp() { return slurp(ws / "db" / ".nb_version"); }
    void set_stamp(const std::string& text) { spit(ws / "db" / ".nb_version", text); }
};

TEST_F(SyncNotebooks, NoStampInstallsAllButIngestWithMetadata) {
    fs::permissions(pkg / "nb_04_ml.ipynb", fs::perms(0750));
    fs::last_write_time(pkg / "nb_04_ml.ipynb", fs::file_time_type::clock::now() - std::chrono::hours(48));
    const auto old_time = fs::last_write_time(pkg / "nb_04_ml.ipynb");  // as finely as the system keeps it

    fs::create_directory(ws);
    EXPECT_EQ(sync(), COPIED_LINE);  // no db directory yet: created, then treated as no stamp
    std::vector<std::string> expected = INSTALLED;
    expected.insert(expected.begin(), "db");
    EXPECT_EQ(entries(ws), expected);  // no ingest notebook, no stray temporary files, nothing kept
    for (const auto& name : INSTALLED) EXPECT_EQ(slurp(ws / name), slurp(pkg / name)) << name;
#ifndef _WIN32  // files there have no mode bits to keep
    EXPECT_EQ(fs::status(ws / "nb_04_ml.ipynb").permissions(), fs::perms(0750));
#endif
    EXPECT_EQ(fs::last_write_time(ws / "nb_04_ml.ipynb"), old_time);
    EXPECT_EQ(stamp(), "1.1.0");  // bare version, no line break

    for (const char* blank : {"", " \n\t"}) {
        set_stamp(blank);
        EXPECT_EQ(sync(), COPIED_LINE) << "stamp '" << blank << "'";
    }
}

TEST_F(SyncNotebooks, UpgradeOverwritesEditedNotebooksKeepingACopyButNotIngest) {
    set_stamp("1.0.0");
    spit(ws / "nb_02_transform.ipynb", "user edit");
    spit(ws / "nb_01_ingest.ipynb", "user's own ingest");
    const std::string out = sync();
    const auto folders = entries(ws / "yedek");
    ASSERT_EQ(folders.size(), 1u);
    const std::string kept = "yedek/" + folders.front() + "/nb_02_transform.ipynb";
    EXPECT_EQ(out, UPDATED_LINE + "  [SYNC] Yedeklendi: " + shown(kept) + "\n");
    EXPECT_EQ(slurp(ws / kept), "user edit");
    EXPECT_EQ(slurp(ws / "nb_02_transform.ipynb"), slurp(pkg / "nb_02_transform.ipynb"));
    EXPECT_EQ(slurp(ws / "nb_01_ingest.ipynb"), "user's own ingest");
    EXPECT_EQ(stamp(), "1.1.0");
}

TEST_F(SyncNotebooks, CurrentStampChangesAndPrintsNothing) {
    set_stamp("1.1.0\n  ");
    spit(ws / "nb_02_transform.ipynb", "user edit");
    spit(ws / "seasons" / "2024" / "error_report.txt", "x");
    spit(ws / "outputs" / "error_report.txt", "x");
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(slurp(ws / "nb_02_transform.ipynb"), "user edit");
    EXPECT_FALSE(fs::exists(ws / "nb_03_marts.ipynb"));
    EXPECT_TRUE(fs::exists(ws / "seasons" / "2024" / "error_report.txt"));
    EXPECT_TRUE(fs::exists(ws / "outputs" / "error_report.txt"));
    EXPECT_EQ(stamp(), "1.1.0\n  ");
}

TEST_F(SyncNotebooks, VersionsCompareAsExactText) {
    set_stamp("v1.1.0");
    EXPECT_EQ(sync(), "  [SYNC] Notebook'lar güncellendi: vv1.1.0 → v1.1.0 (4 dosya)\n");
    fake.version_text = "1.2.0-RC1";
    set_stamp("1.2.0-rc1");
    EXPECT_EQ(sync(), "  [SYNC] Notebook'lar güncellendi: v1.2.0-rc1 → v1.2.0-RC1 (4 dosya)\n");
    EXPECT_EQ(stamp(), "1.2.0-RC1");
}

TEST_F(SyncNotebooks, MissingOrNonDirectoryNotebookDirectoryIsAnErrorAndStampsNothing) {
    set_stamp("1.0.0");
    fs::remove_all(pkg);
    fs::filesystem_error error("", std::error_code());
    EXPECT_EQ(sync_failing(error), "");
    EXPECT_EQ(error.path1(), pkg);
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    spit(pkg, "a file in its place");
    EXPECT_EQ(sync_failing(error), "");
    EXPECT_EQ(error.code(), std::errc::not_a_directory);
    EXPECT_EQ(stamp(), "1.0.0");
}

TEST_F(SyncNotebooks, DamagedOrOversizedStampReadsAsNoVersionAndIsRewritten) {
    for (const std::string& damaged : {std::string("1.0\xff"), std::string(5000, '1')}) {
        set_stamp(damaged);
        EXPECT_EQ(sync(), COPIED_LINE);
        EXPECT_EQ(stamp(), "1.1.0");
        EXPECT_EQ(sync(), "");
    }
}

TEST_F(SyncNotebooks, ErrorReportsGoAtEveryDepthAndTheFixedPlaces) {
    if (!can_make_symlinks(ws)) GTEST_SKIP() << "symbolic links cannot be made here";
    const fs::path s = ws / "seasons";
    for (const fs::path& p : {s / "error_report.txt", s / "a" / "b" / "c" / "error_report.txt",
                              s / "2026" / "error_report.txt" / "error_report.txt",
                              ws / "outputs" / "json" / "error_report.txt", ws / "outputs" / "error_report.txt"})
        spit(p, "stale");
    spit(s / "2024" / "error_report.txt.bak", "kept");
    spit(tmp / "outside" / "error_report.txt", "not under seasons");
    spit(tmp / "target.txt", "link target");
    fs::create_directory_symlink(tmp / "outside", s / "linked");
    fs::create_directories(s / "2025");
    fs::create_symlink(tmp / "target.txt", s / "2025" / "error_report.txt");

    EXPECT_EQ(sync(), COPIED_LINE + "  [SYNC] 6 eski error_report temizlendi\n");
    EXPECT_FALSE(fs::exists(s / "error_report.txt"));
    EXPECT_FALSE(fs::exists(s / "a" / "b" / "c" / "error_report.txt"));
    EXPECT_FALSE(fs::exists(ws / "outputs" / "json" / "error_report.txt"));
    EXPECT_FALSE(fs::exists(ws / "outputs" / "error_report.txt"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(s / "2025" / "error_report.txt")));  // the link itself
    EXPECT_EQ(slurp(tmp / "target.txt"), "link target");
    EXPECT_EQ(slurp(tmp / "outside" / "error_report.txt"), "not under seasons");  // behind a directory link
    EXPECT_TRUE(fs::is_directory(s / "2026" / "error_report.txt"));               // a directory is no report
    EXPECT_TRUE(fs::exists(s / "2024" / "error_report.txt.bak"));
}

TEST_F(SyncNotebooks, DanglingLinkAtAFixedPlaceIsNoReport) {
    if (!can_make_symlinks(ws)) GTEST_SKIP() << "symbolic links cannot be made here";
    fs::create_directories(ws / "outputs" / "json");
    fs::create_symlink(tmp / "gone", ws / "outputs" / "json" / "error_report.txt");
    spit(ws / "outputs" / "error_report.txt", "stale");
    EXPECT_EQ(sync(), COPIED_LINE + "  [SYNC] 1 eski error_report temizlendi\n");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(ws / "outputs" / "json" / "error_report.txt")));
}

TEST_F(SyncNotebooks, CleanUpLineOnlyWhenSomethingWasDeleted) {
    set_stamp("1.0.0");
    fs::create_directories(ws / "seasons" / "2024" / "meta");
    EXPECT_EQ(sync(), UPDATED_LINE);

    set_stamp("1.0.0");
    fs::remove_all(ws / "seasons");
    spit(ws / "seasons", "a file, not the seasons directory");
    spit(ws / "outputs" / "error_report.txt", "stale");
    EXPECT_EQ(sync(), UPDATED_LINE + "  [SYNC] 1 eski error_report temizlendi\n");
}

TEST_F(SyncNotebooks, MetaHashLinePrecedesSummaryAndCleanUp) {
    fake.registry = {{"21", "nb_02_transform.ipynb"}, {"1", "nb_01_ingest.ipynb"}};
    const fs::path meta = ws / "seasons" / "2024" / "meta" / "adim_21.json";
    spit(meta, "{\"kod\": 21, \"nb_hash\": \"0000000000000000\"}");
    spit(ws / "seasons" / "2024" / "error_report.txt", "stale");
    EXPECT_EQ(sync(), "  [SYNC] 1 meta hash güncellendi (gereksiz re-run önlendi)\n" + COPIED_LINE +
                          "  [SYNC] 1 eski error_report temizlendi\n");
    EXPECT_NE(slurp(meta).find(qev_scoreboard::_file_hash(ws / "nb_02_transform.ipynb")), std::string::npos);
}

TEST_F(SyncNotebooks, FailuresBeforeCopyingChangeNothing) {
    spit(ws / "db", "a file in the way");
    fs::filesystem_error fs_error("", std::error_code());
    EXPECT_EQ(sync_failing(fs_error), "");
    EXPECT_EQ(fs_error.path1(), ws / "db");
    EXPECT_EQ(fs_error.code(), std::errc::not_a_directory);
    EXPECT_EQ(entries(ws), std::vector<std::string>{"db"});
}

TEST_F(SyncNotebooks, FailedCopyKeepsOldStampAndEarlierCopies) {
    set_stamp("1.0.0");
    spit(ws / "nb_04_ml.ipynb", "old notebook");
    spit(ws / "seasons" / "error_report.txt", "stale");
    fs::remove(pkg / "nb_03_marts.ipynb");
    fs::create_directory(pkg / "nb_03_marts.ipynb");  // cannot be copied
    fs::filesystem_error error("", std::error_code());
    EXPECT_EQ(sync_failing(error), "");
    EXPECT_EQ(error.path1(), pkg / "nb_03_marts.ipynb");
    EXPECT_EQ(slurp(ws / "nb_02_transform.ipynb"), slurp(pkg / "nb_02_transform.ipynb"));  // done before: stays
    EXPECT_EQ(slurp(ws / "nb_04_ml.ipynb"), "old notebook");
    EXPECT_EQ(entries(ws), (std::vector<std::string>{"db", "nb_02_transform.ipynb", "nb_04_ml.ipynb", "seasons"}));
    EXPECT_EQ(stamp(), "1.0.0");  // the next call starts over
    EXPECT_TRUE(fs::exists(ws / "seasons" / "error_report.txt"));
}

// However it ends, a sync names the copies it kept: through its lines before the error, and through the
// C functions afterwards.
TEST_F(SyncNotebooks, AFailedOrStoppedSyncNamesWhatItKept) {
    set_stamp("1.0.0");
    spit(ws / "nb_02_transform.ipynb", "analistin düzenlemesi");
    fs::remove(pkg / "qev_pipeline.ipynb");
    fs::create_directory(pkg / "qev_pipeline.ipynb");  // cannot be copied: the sync fails after the keep
    fs::filesystem_error error("", std::error_code());
    const std::string out = sync_failing(error);
    ASSERT_EQ(entries(ws / "yedek").size(), 1u);
    const std::string copy = "yedek/" + entries(ws / "yedek")[0] + "/nb_02_transform.ipynb";
    EXPECT_EQ(out, "  [SYNC] Yedeklendi: " + shown(copy) + "\n");
    EXPECT_EQ(slurp(ws / copy), "analistin düzenlemesi");
    EXPECT_EQ(stamp(), "1.0.0");

    // The C form, told to stop at the third point where it can: what it kept is named, the stamp is old.
    fs::remove(pkg / "qev_pipeline.ipynb");
    spit(pkg / "qev_pipeline.ipynb", "{}");
    spit(ws / "nb_03_marts.ipynb", "ikinci düzenleme");
    struct Calls {
        int stops = 0;
        std::vector<std::string> lines;
    } calls;
    const auto line = [](const char* text, void* ctx) { static_cast<Calls*>(ctx)->lines.push_back(text); };
    const auto stop = [](void* ctx) { return ++static_cast<Calls*>(ctx)->stops >= 5 ? 1 : 0; };
    const std::string dir = ws.string();
    EXPECT_EQ(qev_scoreboard_sync_notebooks_ex(dir.c_str(), line, stop, &calls), 1);
    EXPECT_EQ(qev_scoreboard_last_errno(), EINTR);
    EXPECT_EQ(std::string(qev_scoreboard_last_error()), dir + ": güncellenemedi: istek üzerine durduruldu");
    ASSERT_EQ(qev_scoreboard_last_kept_count(), 1u);
    const std::string second = qev_scoreboard_last_kept(0);
    EXPECT_EQ(calls.lines, std::vector<std::string>{"  [SYNC] Yedeklendi: " + second});
    EXPECT_EQ(slurp(ws / utf8_path(second)), "ikinci düzenleme");
    EXPECT_EQ(qev_scoreboard_last_kept(1), nullptr);
    EXPECT_EQ(stamp(), "1.0.0");
    // Not stopped, it completes: the edit, still in place, is named again and not copied again.
    EXPECT_EQ(qev_scoreboard_sync_notebooks_ex(dir.c_str(), nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(qev_scoreboard_last_kept_count(), 1u);
    EXPECT_EQ(std::string(qev_scoreboard_last_kept(0)), second);
    EXPECT_EQ(stamp(), "1.1.0");
    size_t copies = 0;
    for (const auto& folder : entries(ws / "yedek")) copies += fs::exists(ws / "yedek" / folder / "nb_03_marts.ipynb");
    EXPECT_EQ(copies, 1u);
}

TEST_F(SyncNotebooks, FailedRefreshStampsNothingSoTheNextCallCompletesTheRun) {
    RegistryFails failing;
    use(failing);
    set_stamp("1.0.0");
    spit(ws / "seasons" / "error_report.txt", "stale");
    std::runtime_error error("");
    EXPECT_EQ(sync_failing(error), "");
    EXPECT_EQ(std::string(error.what()), (failing.root / "adim_registry.json").string() +
                                             ": adım kaydı okunamadı: '01' adımının \"nb\" alanı yok");
    EXPECT_EQ(stamp(), "1.0.0");
    EXPECT_TRUE(fs::exists(ws / "seasons" / "error_report.txt"));
    use(fake);
    EXPECT_EQ(sync(), UPDATED_LINE + "  [SYNC] 1 eski error_report temizlendi\n");
    EXPECT_EQ(stamp(), "1.1.0");
}

TEST_F(SyncNotebooks, UndeletableReportEndsTheRun) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a directory's permissions do not protect its files there";
#endif
    if (running_as_root()) GTEST_SKIP() << "root may delete from a read-only directory";
    spit(ws / "outputs" / "json" / "error_report.txt", "stale");
    spit(ws / "outputs" / "error_report.txt", "stale");
    fs::permissions(ws / "outputs" / "json", fs::perms(0555));
    fs::filesystem_error error("", std::error_code());
    EXPECT_EQ(sync_failing(error), "");
    EXPECT_EQ(error.path1(), ws / "outputs" / "json" / "error_report.txt");
    EXPECT_EQ(error.code(), std::errc::permission_denied);
    EXPECT_TRUE(fs::exists(ws / "outputs" / "error_report.txt"));
    EXPECT_FALSE(fs::exists(ws / "db" / ".nb_version"));  // the next call tries again
}

TEST_F(SyncNotebooks, CFunctionReportsThroughStatusAndLastError) {
    EXPECT_NE(qev_scoreboard_sync_notebooks(nullptr), 0);
    EXPECT_STRNE(qev_scoreboard_last_error(), "");
    EXPECT_NE(qev_scoreboard_sync_notebooks(""), 0);
    EXPECT_STRNE(qev_scoreboard_last_error(), "");

    spit(ws / "db", "a file in the way");
    EXPECT_NE(qev_scoreboard_sync_notebooks(ws.string().c_str()), 0);
    EXPECT_EQ(std::string(qev_scoreboard_last_error()),
              (ws / "db").string() + ": dizin oluşturulamadı: " + qev_scoreboard::errno_reason(ENOTDIR));

    fs::remove(ws / "db");
    CaptureStdout out;
    EXPECT_EQ(qev_scoreboard_sync_notebooks(ws.string().c_str()), 0);
    EXPECT_EQ(out.finish(), COPIED_LINE);
    EXPECT_STREQ(qev_scoreboard_last_error(), "");  // a success clears the previous failure
    EXPECT_EQ(stamp(), "1.1.0");
}

TEST(SyncNotebooksCommands, NoSubCommandSynchronises) {
    TempDir ws;
    spit(ws / "db" / ".nb_version", "0.9.0");
    spit(ws / "seasons" / "error_report.txt", "stale");
    for (const auto& args : std::vector<std::vector<std::string>>{{"status"}, {"version"}, {"verify"}, {}}) {
        std::vector<std::string> line{"--dir", ws.path.string()};
        line.insert(line.end(), args.begin(), args.end());
        RunResult r = run_cli(line, ws.path);
        EXPECT_EQ(r.out.find("[SYNC]"), std::string::npos) << r.out;
    }
    EXPECT_EQ(slurp(ws / "db" / ".nb_version"), "0.9.0");
    EXPECT_TRUE(fs::exists(ws / "seasons" / "error_report.txt"));
    EXPECT_FALSE(fs::exists(ws / "qev_pipeline.ipynb"));
}

}  // namespace

// The meta-hash refresh: which meta file of a step is touched, what is written, what is left alone.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "qev_scoreboard/core/json.hpp"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"
#include "support.hpp"

using namespace qev_test;
using qev_scoreboard::_file_hash;
using qev_scoreboard::_update_meta_hashes;

namespace {

const std::string SYNC_TAIL = " meta hash güncellendi (gereksiz re-run önlendi)\n";
const std::string STALE = "{\n  \"kod\": \"02\",\n  \"nb_hash\": \"0000000000000000\"\n}";

struct MetaHashes : ::testing::Test {
    TempDir ws;
    FakeServices fake;
    std::optional<ScopedServices> scope;

    void SetUp() override {
        fake.registry = {{"01a", "nb_01a_ingest_ddl.ipynb"},
                         {"02", "nb_02_transform.ipynb"},
                         {"01d_yis", "nb_01d_ingest_tahmin.ipynb"},
                         {"01d_eus", "nb_01d_ingest_tahmin.ipynb"}};
        scope.emplace(fake);
        for (const auto& step : fake.registry) spit(ws / step.nb, "{\"cells\": [\"" + step.nb + "\"]}");
    }

    fs::path meta(const std::string& season, const std::string& kod) {
        return ws.path / "seasons" / utf8_path(season) / "meta" / utf8_path("adim_" + kod + ".json");
    }
    std::string hash(const std::string& nb) { return _file_hash(ws / nb); }
    std::string with_hash(const std::string& nb) {
        return "{\n  \"kod\": \"02\",\n  \"nb_hash\": \"" + hash(nb) + "\"\n}";
    }
    // Runs the refresh and returns what it printed.
    std::string run(const std::vector<std::string>& names) {
        CaptureStdout out;
        _update_meta_hashes(ws.path, names);
        return out.finish();
    }
};

TEST_F(MetaHashes, NoSeasonsDirectoryDoesNothing) {
    EXPECT_EQ(run({"nb_02_transform.ipynb", "nb_01a_ingest_ddl.ipynb"}), "");
    EXPECT_FALSE(fs::exists(ws / "seasons"));
}

TEST_F(MetaHashes, OnlyTheGreatestSeasonHoldingTheFileIsConsidered) {
    spit(meta("2023_12", "02"), STALE);
    spit(meta("2024_01", "02"), STALE);
    spit(ws / "seasons" / "2024_99", "a plain file is no season");
    fs::create_directories(ws / "seasons" / "2024_05" / "meta");  // the newest season lacks the step
    EXPECT_EQ(run({"nb_02_transform.ipynb"}), "  [SYNC] 1" + SYNC_TAIL);
    EXPECT_EQ(slurp(meta("2024_01", "02")), with_hash("nb_02_transform.ipynb"));
    EXPECT_EQ(slurp(meta("2023_12", "02")), STALE);

    // Already current in the greatest season: nothing more, and the older stale file stays stale.
    EXPECT_EQ(run({"nb_02_transform.ipynb"}), "");
    EXPECT_EQ(slurp(meta("2023_12", "02")), STALE);
}

TEST_F(MetaHashes, SeasonsSortByCodePointNotByLocaleOrCase) {
    spit(meta("Zeta", "02"), STALE);
    spit(meta("alpha", "02"), STALE);
    EXPECT_EQ(run({"nb_02_transform.ipynb"}), "  [SYNC] 1" + SYNC_TAIL);
    EXPECT_EQ(slurp(meta("alpha", "02")), with_hash("nb_02_transform.ipynb"));
    EXPECT_EQ(slurp(meta("Zeta", "02")), STALE);

    spit(meta("ça", "02"), STALE);  // U+00E7 sorts above every ASCII letter
    EXPECT_EQ(run({"nb_02_transform.ipynb"}), "  [SYNC] 1" + SYNC_TAIL);
    EXPECT_EQ(slurp(meta("ça", "02")), with_hash("nb_02_transform.ipynb"));
}

TEST_F(MetaHashes, MissingHashIsAppendedAsLastMemberKeepingEverythingElse) {
    const std::string engine =
        "{\"kod\": \"02\", \"sure_sn\": 1.0, \"satir\": 123456789012345678901234567890, \"oran\": NaN,\n"
        " \"ust\": Infinity, \"alt\": -Infinity, \"kucuk\": -0, \"buyuk\": 1e400, \"not\": \"\\u00e7\\ud83d\\ude00\",\n"
        " \"ciktilar\": [], \"ek\": {}}";
    spit(meta("2024_01", "02"), engine);
    fs::permissions(meta("2024_01", "02"), fs::perms(0640));
    EXPECT_EQ(run({"nb_02_transform.ipynb"}), "  [SYNC] 1" + SYNC_TAIL);
    EXPECT_EQ(slurp(meta("2024_01", "02")),
              "{\n  \"kod\": \"02\",\n  \"sure_sn\": 1.0,\n  \"satir\": 123456789012345678901234567890,\n"
              "  \"oran\": NaN,\n  \"ust\": Infinity,\n  \"alt\": -Infinity,\n  \"kucuk\": -0,\n  \"buyuk\": 1e400,\n"
              "  \"not\": \"ç\xF0\x9F\x98\x80\",\n  \"ciktilar\": [],\n  \"ek\": {},\n  \"nb_hash\": \"" +
                  hash("nb_02_transform.ipynb") + "\"\n}");
#ifndef _WIN32  // files there have no mode bits to keep
    EXPECT_EQ(fs::status(meta("2024_01", "02")).permissions(), fs::perms(0640));
#endif
    EXPECT_EQ(std::distance(fs::directory_iterator(meta("2024_01", "02").parent_path()), fs::directory_iterator()), 1);
}

TEST_F(MetaHashes, MatchingHashLeavesFileUntouched) {
    // Compact layout: a rewrite would show in the bytes, and in the modification time.
    const std::string compact = "{\"nb_hash\":\"" + hash("nb_02_transform.ipynb") + "\",\"kod\":\"02\"}";
    spit(meta("2024_01", "02"), compact);
    fs::last_write_time(meta("2024_01", "02"), fs::file_time_type::clock::now() - std::chrono::hours(24));
    const auto old_time = fs::last_write_time(meta("2024_01", "02"));  // as finely as the system keeps it
    EXPECT_EQ(run({"nb_02_transform.ipynb"}), "");
    EXPECT_EQ(slurp(meta("2024_01", "02")), compact);
    EXPECT_EQ(fs::last_write_time(meta("2024_01", "02")), old_time);
}

TEST_F(MetaHashes, UnusableMetaFileIsLeftAloneAndEndsTheSearchForItsStep) {
    const std::vector<std::string> broken = {
        "{\"kod\": \"02\", \"nb_hash\": \"0000000000000000\"",       // invalid JSON
        "\xEF\xBB\xBF{\"nb_hash\": \"0000000000000000\"}",           // byte-order mark
        "[{\"nb_hash\": \"0000000000000000\"}]",                     // not an object
        "{\"nb_hash\": \"0000000000000000\", \"x\": \"\xC3\x28\"}",  // invalid UTF-8
        "{\"nb_hash\": \"0000000000000000\", \"x\": \"\\udead\"}",   // lone surrogate
    };
    spit(meta("2024_01", "01a"), STALE);  // a later step code is still served
    for (const auto& content : broken) {
        spit(meta("2024_02", "02"), content);
        spit(meta("2023_01", "02"), STALE);
        EXPECT_EQ(run({"nb_02_transform.ipynb", "nb_01a_ingest_ddl.ipynb"}), "  [SYNC] 1" + SYNC_TAIL);
        EXPECT_EQ(slurp(meta("2024_02", "02")), content);
        EXPECT_EQ(slurp(meta("2023_01", "02")), STALE);
        spit(meta("2024_01", "01a"), STALE);
    }
}

TEST_F(MetaHashes, AMetaFileOfManyPiecesIsRefreshedWhole) {
    // Far larger than the pieces it is read and written in, with a repeated name at either end.
    std::string rows;
    for (int i = 0; i < 40000; ++i) {
        if (i != 0) rows += ", ";
        rows += "{\"satır\": ";
        rows += std::to_string(i);
        rows += "}";
    }
    const std::string engine = "{\"kod\": \"02\", \"x\": 1, \"satirlar\": [" + rows + "], \"x\": \"son\"}";
    ASSERT_GT(engine.size(), 500000u);
    spit(meta("2024_01", "02"), engine);
    EXPECT_EQ(run({"nb_02_transform.ipynb"}), "  [SYNC] 1" + SYNC_TAIL);
    qev_scoreboard::JsonValue tree = qev_scoreboard::parse_meta_json(engine);
    qev_scoreboard::set_member(tree, "nb_hash", qev_scoreboard::json_string(hash("nb_02_transform.ipynb")));
    EXPECT_EQ(slurp(meta("2024_01", "02")), qev_scoreboard::dump_json(tree));
    EXPECT_EQ(std::distance(fs::directory_iterator(meta("2024_01", "02").parent_path()), fs::directory_iterator()), 1);
}

TEST_F(MetaHashes, LongestNamesAreRewrittenToo) {
    // A meta file name of 250 bytes: the temporary file beside it must not need a longer one.
    const std::string kod(240, '7');
    fake.registry.push_back({kod, "nb_02_transform.ipynb"});
    spit(meta("2024_01", kod), STALE);
    EXPECT_EQ(run({"nb_02_transform.ipynb"}), "  [SYNC] 1" + SYNC_TAIL);
    EXPECT_NE(slurp(meta("2024_01", kod)), STALE);
    EXPECT_EQ(std::distance(fs::directory_iterator(ws / "seasons" / "2024_01" / "meta"), fs::directory_iterator()), 1);
}

TEST_F(MetaHashes, UnwritableMetaFileIsAnErrorNamingIt) {
    if (running_as_root()) GTEST_SKIP() << "root writes a read-only file";
    const std::string kod = "03";
    fake.registry.push_back({kod, "nb_02_transform.ipynb"});
    spit(meta("2024_01", kod), STALE);
    fs::permissions(meta("2024_01", kod), fs::perms(0444));
    spit(meta("2024_01", "02"), STALE);
    CaptureStdout out;
    try {
        _update_meta_hashes(ws.path, {"nb_02_transform.ipynb"});
        ADD_FAILURE() << "no error";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.path1(), meta("2024_01", kod));
        EXPECT_EQ(e.code(), std::errc::permission_denied);
    }
    EXPECT_EQ(out.finish(), "");  // no count when a file was left stale
    EXPECT_EQ(slurp(meta("2024_01", kod)), STALE);
    EXPECT_EQ(std::distance(fs::directory_iterator(ws / "seasons" / "2024_01" / "meta"), fs::directory_iterator()), 2);
}

TEST_F(MetaHashes, CountsFilesAcrossStepsAndNotebooks) {
    for (const char* kod : {"01d_yis", "01d_eus", "01a", "02"}) spit(meta("2024_01", kod), STALE);
    // Two steps of one notebook, the same name twice, an unknown and a missing notebook.
    spit(ws / "nb_99_extra.ipynb", "{}");
    EXPECT_EQ(run({"nb_01d_ingest_tahmin.ipynb", "nb_01d_ingest_tahmin.ipynb", "nb_99_extra.ipynb", "nb_gone.ipynb",
                   "nb_01a_ingest_ddl.ipynb"}),
              "  [SYNC] 3" + SYNC_TAIL);
    EXPECT_NE(slurp(meta("2024_01", "01d_yis")), STALE);
    EXPECT_NE(slurp(meta("2024_01", "01d_eus")), STALE);
    EXPECT_NE(slurp(meta("2024_01", "01a")), STALE);
    EXPECT_EQ(slurp(meta("2024_01", "02")), STALE);
    EXPECT_EQ(run({}), "");
}

TEST_F(MetaHashes, LinkedMetaFileIsUpdatedThroughTheLink) {
    if (!can_make_symlinks(ws.path)) GTEST_SKIP() << "symbolic links cannot be made here";
    spit(ws / "store" / "adim_02.json", STALE);
    fs::create_directories(meta("2024_01", "02").parent_path());
    fs::create_symlink(ws / "store" / "adim_02.json", meta("2024_01", "02"));
    EXPECT_EQ(run({"nb_02_transform.ipynb"}), "  [SYNC] 1" + SYNC_TAIL);
    EXPECT_TRUE(fs::is_symlink(meta("2024_01", "02")));
    EXPECT_EQ(slurp(ws / "store" / "adim_02.json"), with_hash("nb_02_transform.ipynb"));
}

TEST_F(MetaHashes, RegistryFailureStopsBeforeAnyFileIsTouched) {
    FakeServices broken;
    broken.registry_text = "{\"02\": {\"notebook\": \"nb_02_transform.ipynb\"}}";
    ScopedServices inner(broken);
    spit(meta("2024_01", "02"), STALE);
    CaptureStdout out;
    EXPECT_THROW(_update_meta_hashes(ws.path, {"nb_02_transform.ipynb"}), std::runtime_error);
    EXPECT_EQ(out.finish(), "");
    EXPECT_EQ(slurp(meta("2024_01", "02")), STALE);
}

TEST_F(MetaHashes, UnreadableNotebookEndsTheRefresh) {
    // Fingerprinted even though no step uses it, so a notebook that cannot be read stops the call.
    fs::create_directory(ws / "nb_99_extra.ipynb");
    spit(meta("2024_01", "02"), STALE);
    CaptureStdout out;
    EXPECT_THROW(_update_meta_hashes(ws.path, {"nb_99_extra.ipynb", "nb_02_transform.ipynb"}), fs::filesystem_error);
    EXPECT_EQ(out.finish(), "");
    EXPECT_EQ(slurp(meta("2024_01", "02")), STALE);
}

}  // namespace

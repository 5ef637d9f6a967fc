// `init --dry-run`: what it prints is what the run then prints, and it leaves every path exactly as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <regex>

#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "run_fixtures.hpp"
#include "support.hpp"

using namespace qev_test;

namespace {

const std::string PREVIEW_LINE = "ÖNİZLEME — hiçbir şey yazılmadı\n";

// Everything a run could change of a path: what it is, its bytes, mode, owner, times and identity.
std::map<std::string, std::string> everything_below(const fs::path& root) {
    std::map<std::string, std::string> seen;
    const auto describe = [&](const fs::path& p) {
        qev_scoreboard::platform::FileInfo i;
        if (qev_scoreboard::platform::describe(p, qev_scoreboard::platform::Follow::NoLinks, i) != 0) return;
        std::string facts;
        for (const auto n :
             {std::int64_t(i.kind), std::int64_t(i.permissions), std::int64_t(i.owner), std::int64_t(i.group),
              std::int64_t(i.file_id), i.modified.seconds, std::int64_t(i.modified.nanoseconds), i.changed.seconds,
              std::int64_t(i.changed.nanoseconds)})
            facts.append(std::to_string(n)).append(" ");
        if (i.kind == qev_scoreboard::platform::FileKind::Regular) facts.append(fingerprint_of(p));
        seen[fs::relative(p, root.parent_path()).generic_string()] = facts;
    };
    describe(root);
    if (fs::is_directory(root))
        for (const auto& e : fs::recursive_directory_iterator(root)) describe(e.path());
    return seen;
}

struct Outcome {
    std::string out;
    std::string error;  // empty when the run succeeded
};

Outcome run(const qev_scoreboard::PackageServices& svc, const fs::path& ws, bool force, bool dry_run) {
    ScopedServices scope(svc);
    CaptureStdout cap;
    qev_scoreboard::Args args;
    args.dir = ws.string();
    args.force = force;
    args.dry_run = dry_run;
    try {
        qev_scoreboard::cmd_init(args);
    } catch (const std::exception& e) {
        return {cap.finish(), e.what()};
    }
    return {cap.finish(), {}};
}

// The kept-copy folders carry the second of their run: two runs a moment apart may name different ones.
std::string without_run_times(const std::string& out) {
    return std::regex_replace(out, std::regex("yedek/[0-9]{8}-[0-9]{6}"), "yedek/<zaman>");
}

std::string folder_name_of(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm utc{};
    gmtime_r(&secs, &utc);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &utc);
    return buf;
}

}  // namespace

// Over a directory an older package prepared, with the analyst's edits, a missing notebook and stale meta
// files: the dry run changes nothing anywhere, and the run after it prints what it predicted.
TEST(DryRun, PredictsTheRunByteForByteAndChangesNothing) {
    for (const bool force : {false, true}) {
        SCOPED_TRACE(force ? "--force" : "init");
        Packages packages;
        TempDir scratch;
        const fs::path ws = scratch / "ws";
        packages.prepare_upgrade(ws);
        fs::remove(ws / "qev_pipeline.ipynb");
        const auto before = everything_below(ws);

        const auto started = std::chrono::system_clock::now();
        const Outcome dry = run(packages.new_package, ws, force, true);
        const auto ended = std::chrono::system_clock::now();
        ASSERT_EQ(dry.error, "");
        EXPECT_EQ(everything_below(ws), before);
        ASSERT_TRUE(dry.out.starts_with(PREVIEW_LINE)) << dry.out;
        // What the upgrade brings is all there: the user's copies named, the meta refresh told.
        EXPECT_NE(dry.out.find("  YEDEKLENDİ  : 2 dosya\n"), std::string::npos) << dry.out;
        EXPECT_NE(dry.out.find(force ? "    ↻ qev_pipeline.ipynb\n" : "    + qev_pipeline.ipynb\n"), std::string::npos)
            << dry.out;
        EXPECT_NE(dry.out.find(" meta hash güncellendi"), std::string::npos) << dry.out;
        // Named by the time of the run they would be made in.
        const std::smatch when = [&] {
            std::smatch m;
            std::regex_search(dry.out, m, std::regex("yedek/([0-9]{8}-[0-9]{6})"));
            return m;
        }();
        ASSERT_FALSE(when.empty());
        EXPECT_TRUE(when[1] == folder_name_of(started) || when[1] == folder_name_of(ended)) << when[1];

        const Outcome real = run(packages.new_package, ws, force, false);
        ASSERT_EQ(real.error, "");
        EXPECT_EQ(without_run_times(dry.out.substr(PREVIEW_LINE.size())), without_run_times(real.out));
        EXPECT_NE(everything_below(ws), before);

        // And with nothing left to do, it says so as the run does.
        const Outcome again = run(packages.new_package, ws, force, true);
        EXPECT_EQ(again.out.substr(PREVIEW_LINE.size()), run(packages.new_package, ws, force, false).out);
    }
}

// A copy an earlier run kept of the same bytes is named again, as the run would name it; a folder of this
// second's name taken already moves the new copies to the next name, unless it is one the run's clean-up
// removes (left empty by a killed run).
TEST(DryRun, NamesTheCopiesTheRunWouldName) {
    Packages packages;
    TempDir scratch;
    const fs::path ws = scratch / "ws";
    packages.prepare_upgrade(ws);
    const fs::path earlier = ws / "yedek" / "20200101-000000";
    fs::create_directories(earlier);
    fs::copy_file(ws / EDITED, earlier / EDITED);
    const auto now = std::chrono::system_clock::now();
    for (const auto& t : {now, now + std::chrono::seconds(1), now + std::chrono::seconds(2)}) {
        fs::create_directories(ws / "yedek" / folder_name_of(t));
        fs::create_directories(ws / "yedek" / (folder_name_of(t) + "-2"));
        spit(ws / "yedek" / (folder_name_of(t) + "-3") / "başka.txt", "bir kopya");
    }
    const Outcome dry = run(packages.new_package, ws, false, true);
    ASSERT_EQ(dry.error, "");
    EXPECT_NE(dry.out.find("    ⤷ " + shown("yedek/20200101-000000/" + std::string(EDITED)) + "\n"), std::string::npos)
        << dry.out;
    // The empty folders go, the one holding a copy stays: the first name is free again.
    EXPECT_TRUE(std::regex_search(dry.out, std::regex("yedek/[0-9]{8}-[0-9]{6}/VERI_KOPYALA.txt\n"))) << dry.out;
    const Outcome real = run(packages.new_package, ws, false, false);
    EXPECT_EQ(without_run_times(dry.out.substr(PREVIEW_LINE.size())), without_run_times(real.out));
    for (const auto& t : {now, now + std::chrono::seconds(1), now + std::chrono::seconds(2)}) {
        spit(ws / "yedek" / folder_name_of(t) / "başka.txt", "bir kopya");
        spit(ws / "yedek" / (folder_name_of(t) + "-2") / "başka.txt", "bir kopya");
    }
    spit(ws / "external_data/VERI_KOPYALA.txt", "yine bir not\n");
    const Outcome taken = run(packages.new_package, ws, false, true);
    EXPECT_TRUE(std::regex_search(taken.out, std::regex("yedek/[0-9]{8}-[0-9]{6}-4/VERI_KOPYALA.txt\n"))) << taken.out;
}

// On a path that is not there yet it makes nothing, not even the working directory; where the run could
// not even make or read it, it fails as the run would, with the same message, before anything is written.
TEST(DryRun, MakesNoDirectoryAndFailsWhereTheRunSurelyWould) {
    Packages packages;
    TempDir scratch;
    const fs::path fresh = scratch / "yeni/alt/ws";
    const Outcome dry = run(packages.new_package, fresh, false, true);
    EXPECT_EQ(dry.error, "");
    EXPECT_NE(dry.out.find("  YENİ         : "), std::string::npos) << dry.out;
    EXPECT_EQ(entries(scratch.path), std::vector<std::string>{});

    spit(scratch / "dosya", "bir dosya");
    const fs::path blocked = scratch / "dosya/ws";
    const auto before = everything_below(scratch.path);
    const Outcome refused = run(packages.new_package, blocked, false, true);
    EXPECT_EQ(everything_below(scratch.path), before);
    const Outcome real = run(packages.new_package, blocked, false, false);
    EXPECT_NE(real.error, "");
    EXPECT_EQ(refused.error, real.error);
    EXPECT_EQ(refused.out, PREVIEW_LINE + real.out);
}

// Through the program, with the package it ships.
TEST(DryRun, TheProgramsOptionAloneAndWithForce) {
    TempDir scratch;
    for (const auto& options :
         {std::vector<std::string>{"--dry-run"}, std::vector<std::string>{"--force", "--dry-run"}}) {
        std::vector<std::string> args = {"--dir", (scratch / "ws").string(), "init"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = run_cli(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out.starts_with(PREVIEW_LINE)) << r.out;
        EXPECT_NE(r.out.find("KURULUM TAMAM"), std::string::npos);
        EXPECT_FALSE(fs::exists(scratch / "ws"));
    }
    const RunResult help = run_cli({"init", "--help"});
    EXPECT_NE(help.out.find("Hiçbir şey yazma, yapılacakları göster"), std::string::npos) << help.out;
}

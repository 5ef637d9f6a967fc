// The install plan as data: a table of work directory states, and what init, init --force and the
// auto-sync will do to each file there, decided with nothing written.
#include "qev_scoreboard/workdir/plan.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "qev_scoreboard/core/layout.hpp"
#include "support.hpp"

using namespace qev_test;
namespace qs = qev_scoreboard;
using qs::Change;
using qs::InstallPolicy;

namespace {

const std::string README = "external_data/VERI_KOPYALA.txt";
const std::string README_TEXT = "Veri klasörleri\r\nburada.\n";

// Every name under `root` with its bytes and modification time: a plan must change none of it.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    if (!fs::exists(root)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const auto when = std::to_string(fs::last_write_time(e.path()).time_since_epoch().count());
        out[e.path().generic_string()] = (e.is_directory() ? std::string("/") : slurp(e.path())) + "@" + when;
    }
    return out;
}

struct Expected {
    Change change;
    bool keep = false;
};

struct Case {
    const char* what;
    InstallPolicy policy;
    std::function<void(const fs::path& ws, const fs::path& pkg)> prepare;
    std::map<std::string, Expected> files;  // by relative path, in the plan's order
    bool refresh = false;
};

// A work directory as a run of this package left it: the readme, both notebooks and their record.
void installed(const fs::path& ws, const fs::path& pkg, const std::string& stamp = "1.1.0") {
    spit(ws / README, "Veri klasörleri\nburada.\n");
    for (const char* nb : {"nb_02.ipynb", "nb_03.ipynb"}) spit(ws / nb, slurp(pkg / nb));
    spit(ws / "db/.nb_installed.json", "{\"" + README + "\": \"" + fingerprint("Veri klasörleri\nburada.\n") +
                                           "\", \"nb_02.ipynb\": \"" + fingerprint_of(pkg / "nb_02.ipynb") +
                                           "\", \"nb_03.ipynb\": \"" + fingerprint_of(pkg / "nb_03.ipynb") + "\"}\n");
    spit(ws / "db/.nb_version", stamp);
}

TEST(InstallPlan, EachDirectoryStateGivesItsPlanAndNothingIsWritten) {
    const std::vector<Case> cases = {
        {"a directory never prepared",
         InstallPolicy::Init,
         [](auto&, auto&) {},
         {{README, {Change::Create}}, {"nb_02.ipynb", {Change::Create}}, {"nb_03.ipynb", {Change::Create}}}},
        {"up to date",
         InstallPolicy::Init,
         [](auto& ws, auto& pkg) { installed(ws, pkg); },
         {{README, {Change::Same}}, {"nb_02.ipynb", {Change::Same}}, {"nb_03.ipynb", {Change::Same}}}},
        {"up to date, forced",
         InstallPolicy::Force,
         [](auto& ws, auto& pkg) { installed(ws, pkg); },
         // Forced or not, a file already holding what would be written is left as it is.
         {{README, {Change::Same}}, {"nb_02.ipynb", {Change::Replace}}, {"nb_03.ipynb", {Change::Replace}}}},
        {"the user's edits, an older version's stamp",
         InstallPolicy::Init,
         [](auto& ws, auto& pkg) {
             installed(ws, pkg, "1.0.0");
             spit(ws / "nb_03.ipynb", "analistin düzenlemesi");
             spit(ws / README, "Veri klasörleri\nburada.\nNot: eksik.\n");
         },
         {{README, {Change::Replace, true}}, {"nb_02.ipynb", {Change::Same}}, {"nb_03.ipynb", {Change::Replace, true}}},
         true},
        {"what an older package installed",
         InstallPolicy::Init,
         [](auto& ws, auto& pkg) {
             installed(ws, pkg);
             spit(ws / "nb_02.ipynb", "eski paketin");
             spit(ws / "db/.nb_installed.json", "{\"nb_02.ipynb\": \"" + fingerprint("eski paketin") + "\"}");
         },
         {{README, {Change::Same}}, {"nb_02.ipynb", {Change::Replace}}, {"nb_03.ipynb", {Change::Same}}}},
        {"no record: whatever differs is the user's",
         InstallPolicy::Force,
         [](auto& ws, auto& pkg) {
             installed(ws, pkg);
             fs::remove(ws / "db/.nb_installed.json");
             spit(ws / "nb_02.ipynb", "kim bilir");
         },
         {{README, {Change::Same}}, {"nb_02.ipynb", {Change::Replace, true}}, {"nb_03.ipynb", {Change::Replace}}}},
        {"a missing notebook and a directory in another's place",
         InstallPolicy::Init,
         [](auto& ws, auto& pkg) {
             installed(ws, pkg);
             fs::remove(ws / "nb_02.ipynb");
             fs::remove(ws / "nb_03.ipynb");
             fs::create_directories(ws / "nb_03.ipynb");
         },
         {{README, {Change::Same}}, {"nb_02.ipynb", {Change::Create}}, {"nb_03.ipynb", {Change::Replace}}}},
        {"the auto-sync leaves the readme to init",
         InstallPolicy::Sync,
         [](auto& ws, auto& pkg) {
             installed(ws, pkg, "1.0.0");
             spit(ws / "nb_03.ipynb", "analistin düzenlemesi");
         },
         {{"nb_02.ipynb", {Change::Replace}}, {"nb_03.ipynb", {Change::Replace, true}}},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeServices svc;
        svc.version_text = "1.1.0";
        spit(svc.data_readme, README_TEXT);
        for (const char* nb : {"nb_01_ingest.ipynb", "nb_02.ipynb", "nb_03.ipynb"})
            spit(svc.notebooks_dir / nb, std::string("{\"cells\": [], \"ad\": \"") + nb + "\"}");
        ScopedServices scope(svc);
        TempDir tmp;
        const fs::path ws = tmp / "ws";
        c.prepare(ws, svc.notebooks_dir);
        const auto before = snapshot(tmp.path);
        const qs::InstallPlan plan = qs::plan_install(ws, svc.notebooks_dir, c.policy, "1.1.0", true);
        EXPECT_EQ(snapshot(tmp.path), before) << "the plan wrote something";
        EXPECT_FALSE(plan.notebooks_error);
        EXPECT_EQ(plan.refresh, c.refresh);
        std::vector<std::string> planned;
        for (const auto& f : plan.files) {
            planned.push_back(f.rel);
            const auto expected = c.files.find(f.rel);
            ASSERT_NE(expected, c.files.end()) << f.rel;
            EXPECT_EQ(f.change, expected->second.change) << f.rel;
            EXPECT_EQ(f.keep, expected->second.keep) << f.rel;
            const std::string incoming =
                f.readme ? fingerprint("Veri klasörleri\nburada.\n") : fingerprint_of(f.source);
            EXPECT_TRUE(f.incoming_known) << f.rel;
            EXPECT_EQ(f.incoming, incoming) << f.rel;
        }
        std::vector<std::string> wanted;
        for (const auto& [rel, _] : c.files) wanted.push_back(rel);
        EXPECT_EQ(planned, wanted);
    }
}

TEST(InstallPlan, WhatCannotBeReadIsToldWhereTheRunReachesIt) {
    FakeServices svc;
    spit(svc.data_readme, README_TEXT);
    ScopedServices scope(svc);
    TempDir tmp;
    fs::remove_all(svc.notebooks_dir);  // a broken installation
    const qs::InstallPlan plan = qs::plan_install(tmp.path, svc.notebooks_dir, InstallPolicy::Init, "1.1.0");
    ASSERT_TRUE(plan.notebooks_error);
    ASSERT_EQ(plan.files.size(), 1u);
    EXPECT_EQ(plan.files[0].rel, README);
    EXPECT_TRUE(fs::is_empty(tmp.path));
}

}  // namespace

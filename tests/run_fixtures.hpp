#pragma once
// The runs that the fault sweep and the crash-state test stop part-way (init on a fresh directory, after an
// upgrade, with --force, the auto-sync, the meta refresh), the work directories they start from, and what
// a run stopped anywhere must leave: every file its old or its new content, the stamp naming the new
// version only once all it stands for is done, the analyst's edits in place or kept, and a next run that
// reaches the state a clean run reaches.

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support.hpp"

namespace qev_test {

inline const char *const STAMP = "db/.nb_version", *const RECORD = "db/.nb_installed.json",
                         *const EDITED = "nb_03_marts.ipynb", *const README = "external_data/VERI_KOPYALA.txt";

// Every directory and regular file below a work directory, by '/'-separated path relative to it.
struct Tree {
    std::map<std::string, std::string> files;
    std::set<std::string> dirs;
    auto operator<=>(const Tree&) const = default;
};

Tree read_tree(const fs::path& root);
// Makes `root` afresh, holding `tree` and nothing else.
void write_tree(const Tree& tree, const fs::path& root);

// A work directory as the checks see it: files outside yedek/ by path, the kept copies by name and content
// (a copy a stopped run made may stand beside the clean run's own), and what must not be left.
struct State {
    std::map<std::string, std::string> files;
    std::set<std::string> dirs;
    std::set<std::pair<std::string, std::string>> kept;
    std::vector<std::string> left;  // temporary files, and kept-copies folders holding none
};

// Whether `rel` names a temporary file of a replacement in flight, or one a stopped run left.
bool is_temporary(const std::string& rel);

State classify(const Tree& tree);
inline State snapshot(const fs::path& ws) { return classify(read_tree(ws)); }

void copy_tree(const fs::path& from, const fs::path& to);

// Only a run's files and its failure are looked at; what it prints is dropped.
void quietly(const std::function<void()>& run);

void run_init(const fs::path& ws, bool force);

// The package a work directory was prepared with, and its upgrade: two notebooks changed, one kept, one
// new, the data readme changed.
struct Packages {
    FakeServices old_package, new_package;
    Packages();
    // A work directory the old package prepared, then the analyst's and the engine's work in it: an edited
    // notebook, a note in the data readme, step meta files over several seasons (stale, shadowed, current,
    // damaged) and the error reports of a failed run.
    void prepare_upgrade(const fs::path& ws);
};

// One of the runs stopped part-way, with the new package's services in force.
struct RunCase {
    std::string name;
    std::function<void(const fs::path&)> prepare, run;
    std::vector<std::string> edited;  // the analyst's files, which must survive in place or as kept copies
};
enum class Scenario { InitFresh, InitUpgrade, InitForce, AutoSync, MetaRefresh };
RunCase run_case(Scenario which, Packages& packages);

// What a stopped run must keep to: the work directory before it, and after a clean run.
struct Expectation {
    State before, after;
    std::vector<std::string> edited;

    bool old_or_new(const std::string& path, const std::map<std::string, std::string>& now) const;
    // Whether `got` holds all a clean run does. `passed_over`: the run succeeded past files this user may
    // not read (meta files, seasons, a first record the db directory refuses), which are excused.
    bool done(const State& got, bool passed_over) const;
    // What is wrong with `got`, left by a run stopped part-way: a file neither old nor new, the stamp
    // naming the new version before all it stands for is done, an analyst's file lost.
    std::vector<std::string> wrong_when_stopped(const State& got, bool passed_over) const;
    // What is wrong with `clean`, reached by a run without faults from what a stopped run left.
    std::vector<std::string> wrong_after_rerun(const State& clean, bool passed_over) const;
};

}  // namespace qev_test

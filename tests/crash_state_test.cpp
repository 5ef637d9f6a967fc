// What a power cut at any instant of a run can leave on the disk, and what the next run makes of it. Each of
// the five runs the fault sweep stops is recorded once through the fault seam; a model of the disk
// (disk_model.hpp states the two persistence models) builds every state that a cut after each of its calls
// could leave, and each distinct state is checked: every notebook, meta file, the data readme, the stamp
// and the record of installed files hold their old or their new content; the analyst's edited files are
// in place or kept under yedek/; the stamp names the new version only where all it names is new; and the
// next run, in this process on a copy of that state, reaches the state a clean run reaches. The calls
// themselves are held to the rules R1 to R4 (crash_rules.hpp), and what is durable when the run returns
// must be what a clean run leaves.
//
// Under Posix all of it holds only for an apply that flushes the data of every new file before renaming
// it, every directory it changed before renaming the record, and all of that before renaming the stamp.
// Under OrderedData the order of the run's operations gives all but the last: the run's own flushes must
// still make its work durable before it returns.
#include <gtest/gtest.h>

#if QEV_FAULT_INJECTION && defined(__linux__)
#include <unistd.h>

#include <iostream>
#include <map>

#include "crash_rules.hpp"
#include "disk_model.hpp"
#include "run_fixtures.hpp"

using namespace qev_test;

namespace {

class CrashStates : public ::testing::Test {
 protected:
    Packages packages;
    // A memory file system where there is one: every state is written out for the next run.
    const fs::path scratch = fs::path(fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) /
                             ("qev-crash-" + std::to_string(::getpid()));
    void TearDown() override { fs::remove_all(scratch); }

    void check(Scenario which, Persistence persistence);
};

// The failures, counted by rule or check, and the first of them in full.
std::string report(const std::vector<std::pair<std::string, std::string>>& wrong) {
    std::map<std::string, std::size_t> by_kind;
    for (const auto& [kind, _] : wrong) ++by_kind[kind];
    std::string text = std::to_string(wrong.size()) + " found:";
    for (const auto& [kind, count] : by_kind) text += "\n  " + std::to_string(count) + " x " + kind;
    text += "\nthe first of them:";
    for (std::size_t i = 0; i < wrong.size() && i < 30; ++i) text += "\n  " + wrong[i].second;
    return text;
}

void CrashStates::check(Scenario which, Persistence persistence) {
    const RunCase c = run_case(which, packages);
    const fs::path start = scratch / "t", ws = scratch / "w", next = scratch / "n";
    c.prepare(start);
    ScopedServices scope(packages.new_package);
    Expectation expect{snapshot(start), {}, c.edited};
    copy_tree(start, ws);

    // The clean run, recorded: the state every run must reach, and the calls that reach it.
    DiskModel model(ws);
    std::vector<faults::Recorded> calls;
    faults::record(&calls);
    faults::arm(0, 0);
    quietly([&] { c.run(ws); });
    const std::uint64_t counted = faults::calls();
    faults::disarm();
    faults::record(nullptr);
    const Tree clean = read_tree(ws);
    expect.after = classify(clean);
    model.replay(calls);
    const auto& ops = model.operations();
    ASSERT_EQ(model.tree_after(ops.size()), clean) << "the recorded calls do not replay to what the run left";
    ASSERT_GT(ops.size(), 4u);

    std::vector<std::pair<std::string, std::string>> wrong;
    const std::string run = c.name + ", " + name_of(persistence) + ": ";
    if (persistence == Persistence::Posix)
        for (const auto& rule : rule_violations(model, expect)) wrong.emplace_back(rule.substr(0, 2), run + rule);
    std::vector<bool> durable(ops.size());
    for (std::size_t i = 0; i < ops.size(); ++i)
        durable[i] = ops[i].is_flush() || model.durable(i, ops.size(), persistence);
    if (model.tree(durable) != clean)
        wrong.emplace_back("R4", run + "R4 on return: what is durable is not what the run left");

    CrashCounts counts;
    const std::vector<CrashState> states = crash_states(model, persistence, counts);
    std::size_t again = 0;
    for (const CrashState& state : states) {
        std::vector<std::string> found = expect.wrong_when_stopped(classify(state.tree), false);
        if (found.empty() && state.tree != clean) {
            ++again;
            write_tree(state.tree, next);
            try {
                quietly([&] { c.run(next); });
                found = expect.wrong_after_rerun(snapshot(next), false);
            } catch (const std::exception& e) {
                found.push_back(std::string("the next run failed: ") + e.what());
            }
        }
        for (const auto& w : found) wrong.emplace_back(w, run + state.how + ": " + w);
    }
    std::cout << "[ crash    ] " << c.name << ", " << name_of(persistence) << ": " << counted << " calls, "
              << ops.size() << " of them changing the work directory, " << counts.prefixes << " prefixes, "
              << counts.built << " states built, " << states.size() << " distinct, " << again << " run again\n";
    EXPECT_TRUE(wrong.empty()) << report(wrong);
}

TEST_F(CrashStates, InitOnAFreshDirectoryUnderPosix) { check(Scenario::InitFresh, Persistence::Posix); }
TEST_F(CrashStates, InitAfterAnUpgradeUnderPosix) { check(Scenario::InitUpgrade, Persistence::Posix); }
TEST_F(CrashStates, InitForceUnderPosix) { check(Scenario::InitForce, Persistence::Posix); }
TEST_F(CrashStates, AutoSyncAfterAnUpgradeUnderPosix) { check(Scenario::AutoSync, Persistence::Posix); }
TEST_F(CrashStates, MetaRefreshOverSeveralSeasonsUnderPosix) { check(Scenario::MetaRefresh, Persistence::Posix); }

TEST_F(CrashStates, InitOnAFreshDirectoryUnderOrderedData) { check(Scenario::InitFresh, Persistence::OrderedData); }
TEST_F(CrashStates, InitAfterAnUpgradeUnderOrderedData) { check(Scenario::InitUpgrade, Persistence::OrderedData); }
TEST_F(CrashStates, InitForceUnderOrderedData) { check(Scenario::InitForce, Persistence::OrderedData); }
TEST_F(CrashStates, AutoSyncAfterAnUpgradeUnderOrderedData) { check(Scenario::AutoSync, Persistence::OrderedData); }
TEST_F(CrashStates, MetaRefreshOverSeveralSeasonsUnderOrderedData) {
    check(Scenario::MetaRefresh, Persistence::OrderedData);
}

}  // namespace

#endif

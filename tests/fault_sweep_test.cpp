// Every point at which the file system can fail a run, swept. Each file-system call of init (on a fresh
// directory, after an upgrade, with --force), of the auto-sync after an upgrade and of the meta refresh
// over several seasons is in turn made to fail with ENOSPC, EIO, EACCES or EINTR, or ends the process as
// SIGKILL would, in a child process per point. Whatever happens: the run ends with status 0, or 1 and one
// message naming a path and an action; every file is its old or its new content; the stamp names the new
// version only once all it stands for is done; the analyst's edits survive, in place or as kept copies;
// an interruption is retried; and a run without faults then reaches the state a clean run reaches, with
// no temporary file left.
#include <gtest/gtest.h>

#if QEV_FAULT_INJECTION && !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "qev_scoreboard/platform/fault_injection.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "run_fixtures.hpp"

using namespace qev_test;
namespace faults = qev_scoreboard::platform::faults;

namespace {

constexpr int KILL = 0;  // the "error" that ends the process at the point

struct Outcome {
    int status = -1, signal = 0;
    std::string message;  // what the run threw
};

// The run in a child process, the fault armed at call `at`.
Outcome run_faulted(const std::function<void()>& run, std::uint64_t at, int error,
                    faults::Persist persist = faults::Persist::Once) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    std::fflush(nullptr);
    if (::fork() == 0) {
        std::string message;
        int status = 0;
        faults::arm(at, error, persist);
        try {
            quietly(run);
        } catch (const std::exception& e) {
            message = e.what();
            status = 1;
        }
        faults::disarm();
        if (::write(fds[1], message.data(), message.size()) != ssize_t(message.size())) status = 2;
        ::_exit(status);  // no destructor of the parent's objects runs here
    }
    ::close(fds[1]);
    Outcome out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.message.append(buf, size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::wait(&status);
    if (WIFEXITED(status)) out.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) out.signal = WTERMSIG(status);
    return out;
}

struct Sweep {
    std::function<void(const fs::path&)> run;
    Expectation expect;
    faults::Persist persist = faults::Persist::Once;

    // One point: the run faulted at call `at`, what it left checked, then a run without faults.
    std::vector<std::string> point(const fs::path& tpl, const fs::path& ws, std::uint64_t at, int error) const {
        copy_tree(tpl, ws);
        const Outcome out = run_faulted([&] { run(ws); }, at, error, persist);
        const State got = snapshot(ws);
        std::vector<std::string> wrong;
        static const std::regex one_message(R"(^/[^\n]*: [^:\n]+: [^\n]+$)");
        if (error == KILL ? out.signal != SIGKILL && out.status != 0 : out.status != 0 && out.status != 1)
            wrong.push_back("ended with status " + std::to_string(out.status) + ", signal " +
                            std::to_string(out.signal));
        if (error == EINTR && out.status != 0) wrong.push_back("an interruption was not retried: " + out.message);
        if (out.status == 1 && !std::regex_match(out.message, one_message)) wrong.push_back("message: " + out.message);
        const bool passed_over = error == EACCES && out.status == 0;
        for (auto& w : expect.wrong_when_stopped(got, passed_over)) wrong.push_back(std::move(w));
        // A run that reports success has done all a clean run does: a failure is never passed off as one.
        if (out.status == 0 && error != KILL && !expect.done(got, passed_over))
            wrong.push_back("succeeded without doing all a clean run does");
        if (error != KILL && !got.left.empty()) wrong.push_back("left behind: " + got.left.front());
        const State& after = expect.after;
        if (!wrong.empty() ||
            (out.status == 0 && got.files == after.files && got.kept == after.kept && got.left.empty()))
            return wrong;
        try {
            quietly([&] { run(ws); });
        } catch (const std::exception& e) {
            return {std::string("the run without faults failed: ") + e.what()};
        }
        return expect.wrong_after_rerun(snapshot(ws), passed_over);
    }
};

class FaultSweep : public ::testing::Test {
 protected:
    Packages packages;
    // A memory file system where there is one (every point flushes); a short name, as every write walks it.
    const fs::path scratch = fs::path(fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) /
                             ("qev-" + std::to_string(::getpid()));
    void TearDown() override { fs::remove_all(scratch); }

    // The clean run of `sweep` from `tpl`: the state every run must reach, and the calls it makes.
    std::vector<const char*> clean_run(const fs::path& tpl, Sweep& sweep) {
        copy_tree(tpl, scratch / "w");
        std::vector<const char*> calls;
        faults::trace(&calls);
        faults::arm(0, 0);
        quietly([&] { sweep.run(scratch / "w"); });
        faults::disarm();
        faults::trace(nullptr);
        sweep.expect.after = snapshot(scratch / "w");
        return calls;
    }

    void sweep(Scenario which) {
        const RunCase c = run_case(which, packages);
        const std::string& name = c.name;
        const auto& run = c.run;
        const fs::path tpl = scratch / "t";
        c.prepare(tpl);
        ScopedServices scope(packages.new_package);
        Sweep sweep{run, {snapshot(tpl), {}, c.edited}};
        const std::vector<const char*> calls = clean_run(tpl, sweep);
        ASSERT_GT(calls.size(), 20u);
        // Points side by side, one worker process each with a work directory of its own.
        const unsigned slots = std::max(1u, std::thread::hardware_concurrency());
        std::map<pid_t, unsigned> running;
        std::vector<std::string> failures;
        const auto reap = [&] {
            int status = 0;
            const pid_t pid = ::wait(&status);
            const fs::path report = scratch / ("r" + std::to_string(running.at(pid)));
            std::istringstream lines(slurp(report));
            for (std::string line; std::getline(lines, line) && failures.size() < 40;) failures.push_back(line);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failures.push_back("a worker of the sweep died");
            running.erase(pid);
        };
        for (const int error : {ENOSPC, EIO, EACCES, EINTR, KILL}) {
            for (std::uint64_t at = 1; at <= calls.size(); ++at) {
                if (running.size() == slots) reap();
                unsigned slot = 0;
                while (std::any_of(running.begin(), running.end(), [&](auto& r) { return r.second == slot; })) ++slot;
                std::fflush(nullptr);
                if (const pid_t pid = ::fork(); pid != 0) {
                    running[pid] = slot;
                    continue;
                }
                std::string report;
                for (const auto& w : sweep.point(tpl, scratch / ("w" + std::to_string(slot)), at, error))
                    report += name + ": " + (error == KILL ? "SIGKILL" : std::strerror(error)) + " at call " +
                              std::to_string(at) + " (" + calls[at - 1] + "): " + w.substr(0, 1000) + "\n";
                spit(scratch / ("r" + std::to_string(slot)), report);
                ::_exit(0);
            }
        }
        while (!running.empty()) reap();
        std::cout << "[ sweep    ] " << name << ": " << calls.size() << " calls, " << 5 * calls.size() << " points\n";
        std::ostringstream all;
        for (const auto& f : failures) all << "\n  " << f;
        EXPECT_TRUE(failures.empty()) << failures.size() << " (at most 40 shown):" << all.str();
    }
};

TEST_F(FaultSweep, InitOnAFreshDirectory) { sweep(Scenario::InitFresh); }
TEST_F(FaultSweep, InitAfterAnUpgrade) { sweep(Scenario::InitUpgrade); }
TEST_F(FaultSweep, InitForce) { sweep(Scenario::InitForce); }
TEST_F(FaultSweep, AutoSyncAfterAnUpgrade) { sweep(Scenario::AutoSync); }
TEST_F(FaultSweep, MetaRefreshOverSeveralSeasons) { sweep(Scenario::MetaRefresh); }

// A disk that fills up and stays full, from each call that takes space on: the run stops at the first
// refusal with one message, leaves every file old or new and the analyst's edits in place or kept, and
// once there is room again the next run completes.
TEST_F(FaultSweep, AFullDiskThatStaysFullIsReportedOnce) {
    const fs::path tpl = scratch / "t";
    packages.prepare_upgrade(tpl);
    ScopedServices scope(packages.new_package);
    const auto run = [](const fs::path& ws) { run_init(ws, true); };
    Sweep sweep{run, {snapshot(tpl), {}, {EDITED, README}}, faults::Persist::SameKind};
    const std::vector<const char*> calls = clean_run(tpl, sweep);
    int points = 0;
    for (std::uint64_t at = 1; at <= calls.size(); ++at) {
        if (!faults::takes_space(calls[at - 1])) continue;
        ++points;
        const fs::path ws = scratch / "w";
        copy_tree(tpl, ws);
        const Outcome out = run_faulted([&] { run(ws); }, at, ENOSPC, faults::Persist::SameKind);
        SCOPED_TRACE("full from call " + std::to_string(at) + " (" + calls[at - 1] + ")");
        EXPECT_EQ(out.status, 1);
        EXPECT_EQ(std::count(out.message.begin(), out.message.end(), '\n'), 0) << out.message;
        EXPECT_NE(out.message.find(": " + qev_scoreboard::errno_reason(ENOSPC)), std::string::npos) << out.message;
        // The usual checks of a point, then a run with room, which must reach the clean state.
        for (const auto& wrong : sweep.point(tpl, ws, at, ENOSPC)) ADD_FAILURE() << wrong;
    }
    std::cout << "[ full     ] init --force: full from each of " << points << " calls that take space\n";
    EXPECT_GT(points, 5);
}

}  // namespace

#endif

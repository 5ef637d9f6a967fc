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

#include "qev_scoreboard/cli/args.hpp"
#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/platform/fault_injection.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"
#include "support.hpp"

using namespace qev_test;
namespace faults = qev_scoreboard::platform::faults;

namespace {

constexpr int KILL = 0;  // the "error" that ends the process at the point
const char *const STAMP = "db/.nb_version", *const RECORD = "db/.nb_installed.json",
                  *const EDITED = "nb_03_marts.ipynb";
const char* const README = "external_data/VERI_KOPYALA.txt";

// A work directory as the checks see it: files outside yedek/ by path, the kept copies by name and content
// (a copy a failed run made may stand beside the clean run's own), and what must not be left.
struct State {
    std::map<std::string, std::string> files;
    std::set<std::string> dirs;
    std::set<std::pair<std::string, std::string>> kept;
    std::vector<std::string> left;  // temporary files, and kept-copies folders holding none
};

State snapshot(const fs::path& ws) {
    State s;
    for (auto it = fs::recursive_directory_iterator(ws); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), ws).generic_string();
        const auto no_copy = [](const fs::path& dir) {
            for (const auto& e : fs::directory_iterator(dir))
                if (!e.path().filename().string().starts_with(".qev-")) return false;
            return true;
        };
        if (it->path().filename().string().starts_with(".qev-") ||
            (it.depth() == 1 && rel.starts_with("yedek/") && it->is_directory() && no_copy(it->path())))
            s.left.push_back(rel);
        else if (rel.starts_with("yedek/") && !it->is_directory())
            s.kept.insert({it->path().filename().string(), slurp(it->path())});
        else if (!rel.starts_with("yedek/"))
            it->is_directory() ? void(s.dirs.insert(rel)) : void(s.files[rel] = slurp(it->path()));
    }
    return s;
}

void copy_tree(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

// Only a run's files and its failure are looked at; what it prints is dropped.
void quietly(const std::function<void()>& run) {
    const qev_scoreboard::ScopedLineSink drop{qev_scoreboard::ScopedLineSink::Sink{}};
    run();
}

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

void run_init(const fs::path& ws, bool force) {
    qev_scoreboard::Args args;
    args.dir = ws.string();
    args.force = force;
    qev_scoreboard::cmd_init(args);
}

// The package a work directory was prepared with, and its upgrade: two notebooks changed, one kept, one
// new, the data readme changed.
struct Packages {
    FakeServices old_package, new_package;
    Packages() {
        old_package.version_text = "1.0.0";
        new_package.version_text = "1.1.0";
        old_package.registry = new_package.registry = {
            {"01", "nb_01_ingest.ipynb"}, {"02", "nb_02_transform.ipynb"}, {"03a", EDITED}, {"03b", EDITED},
            {"05", "nb_05_yeni.ipynb"},   {"06", "qev_pipeline.ipynb"}};
        spit(old_package.data_readme, "paket okuma notu\r\n");
        spit(new_package.data_readme, "yeni paket okuma notu\n");
        for (const std::string name : {"nb_01_ingest.ipynb", "nb_02_transform.ipynb", EDITED, "qev_pipeline.ipynb"}) {
            const std::string body = "{\"cells\": [], \"name\": \"" + name + "\"}\n";
            spit(old_package.notebooks_dir / name, body);
            spit(new_package.notebooks_dir / name, name == "qev_pipeline.ipynb" ? body : body + "{\"surum\": 2}\n");
        }
        spit(new_package.notebooks_dir / "nb_05_yeni.ipynb", "{\"cells\": [\"yeni\"]}\n");
    }

    // A work directory the old package prepared, then the analyst's and the engine's work in it: an edited
    // notebook, a note in the data readme, step meta files over several seasons (stale, shadowed, current,
    // damaged) and the error reports of a failed run.
    void prepare_upgrade(const fs::path& ws) {
        {
            ScopedServices scope(old_package);
            quietly([&] { run_init(ws, false); });
        }
        spit(ws / EDITED, "{\"cells\": [{\"source\": \"donem = 202612\"}]}\n");
        spit(ws / README, "yeni paket okuma notu\n\nNot: Aralık verisi eksik.\n");
        const auto meta = [&](const std::string& season, const std::string& kod, const std::string& hash) {
            spit(
                ws / "seasons" / season / "meta" / ("adim_" + kod + ".json"),
                hash.empty() ? "{ bozuk" : "{\"kod\": \"" + kod + "\", \"nb_hash\": \"" + hash + "\", \"ek\": [1.50]}");
        };
        meta("2025", "02", "0123456789abcdef");
        meta("2025", "06", fingerprint_of(ws / "qev_pipeline.ipynb"));
        meta("2024", "02", "0123456789abcdef");
        meta("2024", "03a", "0123456789abcdef");
        meta("2024", "03b", "");
        fs::create_directories(ws / "seasons" / "2026");
        spit(ws / "seasons" / "2024" / "error_report.txt", "hata");
        spit(ws / "outputs" / "error_report.txt", "hata");
    }
};

struct Sweep {
    std::function<void(const fs::path&)> run;
    State before, after;  // the work directory's, and the clean run's
    std::vector<std::string> edited;
    faults::Persist persist = faults::Persist::Once;

    bool old_or_new(const std::string& p, const std::map<std::string, std::string>& now) const {
        const auto b = before.files.find(p), a = after.files.find(p), n = now.find(p);
        if (n == now.end()) return b == before.files.end() || a == after.files.end();
        return (b != before.files.end() && b->second == n->second) ||
               (a != after.files.end() && a->second == n->second);
    }

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
        std::set<std::string> paths;
        for (const auto* files : {&before.files, &after.files, &got.files})
            for (const auto& [p, _] : *files) paths.insert(p);
        for (const auto& p : paths)
            if (!old_or_new(p, got.files)) wrong.push_back(p + " is neither its old nor its new state");
        // A meta file, or a seasons directory, that this user may not read is passed over by design: the run
        // goes on, and no later run of the same version looks at it again. So is a first record of installed
        // files that the db directory refuses. Only these.
        const bool passed_over = error == EACCES && out.status == 0;
        const auto excused = [&](const std::string& p) {
            return passed_over && (p.starts_with("seasons/") || (p == RECORD && !before.files.contains(p)));
        };
        const auto done = [&] {
            for (const auto& p : paths)
                if (!excused(p) && (got.files.contains(p) != after.files.contains(p) ||
                                    (got.files.contains(p) && got.files.at(p) != after.files.at(p))))
                    return false;
            return true;
        };
        const auto stamp = got.files.find(STAMP), old_stamp = before.files.find(STAMP);
        const bool stamped = stamp != got.files.end() && stamp->second == after.files.at(STAMP) &&
                             (old_stamp == before.files.end() || old_stamp->second != stamp->second);
        if (stamped && !done()) wrong.push_back("stamped before all it stands for was done");
        // A run that reports success has done all a clean run does: a failure is never passed off as one.
        if (out.status == 0 && error != KILL && !done())
            wrong.push_back("succeeded without doing all a clean run does");
        for (const auto& rel : edited) {
            const std::string& mine = before.files.at(rel);
            if (!(got.files.contains(rel) && got.files.at(rel) == mine) &&
                !got.kept.contains({fs::path(rel).filename().string(), mine}))
                wrong.push_back("the analyst's " + rel + " is lost");
        }
        if (error != KILL && !got.left.empty()) wrong.push_back("left behind: " + got.left.front());
        if (!wrong.empty() ||
            (out.status == 0 && got.files == after.files && got.kept == after.kept && got.left.empty()))
            return wrong;
        try {
            quietly([&] { run(ws); });
        } catch (const std::exception& e) {
            return {std::string("the run without faults failed: ") + e.what()};
        }
        const State clean = snapshot(ws);
        if (!clean.left.empty()) wrong.push_back("left after a clean run: " + clean.left.front());
        if (clean.dirs != after.dirs) wrong.push_back("the clean run's directories differ");
        for (const auto& p : paths) {
            const auto c = clean.files.find(p), a = after.files.find(p), b = before.files.find(p);
            const auto same = [&](auto x, const auto& xs) {
                return (c == clean.files.end()) == (x == xs.end()) &&
                       (c == clean.files.end() || c->second == x->second);
            };
            if (!same(a, after.files) && !(passed_over && p.starts_with("seasons/") && same(b, before.files)))
                wrong.push_back(p + " differs from a clean run's");
        }
        for (const auto& k : after.kept)
            if (!clean.kept.contains(k)) wrong.push_back("the kept copy of " + k.first + " is missing");
        for (const auto& [name, content] : clean.kept)  // whatever run kept it, it is what the directory held
            if (std::none_of(before.files.begin(), before.files.end(), [&](const auto& f) {
                    return fs::path(f.first).filename() == name && f.second == content;
                }))
                wrong.push_back("a kept copy of " + name + " holds what the directory never held");
        return wrong;
    }
};

class FaultSweep : public ::testing::Test {
 protected:
    Packages packages;
    // A memory file system where there is one (every point flushes); a short name, as every write walks it.
    const fs::path scratch = fs::path(fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) /
                             ("qev-" + std::to_string(::getpid()));
    void TearDown() override { fs::remove_all(scratch); }

    void sweep(const std::string& name, FakeServices& package, const std::function<void(const fs::path&)>& prepare,
               const std::function<void(const fs::path&)>& run, const std::vector<std::string>& edited) {
        const fs::path tpl = scratch / "t";
        prepare(tpl);
        ScopedServices scope(package);
        Sweep sweep{run, snapshot(tpl), {}, edited};
        // The clean run: the state every run must reach, and the calls it makes.
        copy_tree(tpl, scratch / "w");
        std::vector<const char*> calls;
        faults::trace(&calls);
        faults::arm(0, 0);
        quietly([&] { run(scratch / "w"); });
        faults::disarm();
        faults::trace(nullptr);
        sweep.after = snapshot(scratch / "w");
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

TEST_F(FaultSweep, InitOnAFreshDirectory) {
    sweep(
        "init (fresh)", packages.new_package, [](const fs::path& ws) { spit(ws / EDITED, "{\"kendi\": 1}"); },
        [](const fs::path& ws) { run_init(ws, false); }, {EDITED});
}

TEST_F(FaultSweep, InitAfterAnUpgrade) {
    sweep(
        "init (upgrade)", packages.new_package, [&](const fs::path& ws) { packages.prepare_upgrade(ws); },
        [](const fs::path& ws) { run_init(ws, false); }, {EDITED, README});
}

TEST_F(FaultSweep, InitForce) {
    sweep(
        "init --force", packages.new_package, [&](const fs::path& ws) { packages.prepare_upgrade(ws); },
        [](const fs::path& ws) { run_init(ws, true); }, {EDITED, README});
}

TEST_F(FaultSweep, AutoSyncAfterAnUpgrade) {
    sweep(
        "auto-sync", packages.new_package, [&](const fs::path& ws) { packages.prepare_upgrade(ws); },
        [](const fs::path& ws) { qev_scoreboard::_sync_notebooks(ws); }, {EDITED, README});
}

TEST_F(FaultSweep, MetaRefreshOverSeveralSeasons) {
    sweep(
        "meta refresh", packages.new_package, [&](const fs::path& ws) { packages.prepare_upgrade(ws); },
        [](const fs::path& ws) {
            qev_scoreboard::_update_meta_hashes(ws, {"nb_02_transform.ipynb", EDITED, "qev_pipeline.ipynb"});
        },
        {EDITED});
}

// A disk that fills up and stays full, from each call that takes space on: the run stops at the first
// refusal with one message, leaves every file old or new and the analyst's edits in place or kept, and
// once there is room again the next run completes.
TEST_F(FaultSweep, AFullDiskThatStaysFullIsReportedOnce) {
    const fs::path tpl = scratch / "t";
    packages.prepare_upgrade(tpl);
    ScopedServices scope(packages.new_package);
    const auto run = [](const fs::path& ws) { run_init(ws, true); };
    Sweep sweep{run, snapshot(tpl), {}, {EDITED, README}, faults::Persist::SameKind};
    copy_tree(tpl, scratch / "w");
    std::vector<const char*> calls;
    faults::trace(&calls);
    faults::arm(0, 0);
    quietly([&] { run(scratch / "w"); });
    faults::disarm();
    faults::trace(nullptr);
    sweep.after = snapshot(scratch / "w");
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

// Every point at which the file system can fail a run, swept. Each file-system call of init (on a fresh
// directory, after an upgrade, with --force), of the auto-sync after an upgrade and of the meta refresh
// over several seasons is in turn made to fail with ENOSPC, EIO, EACCES or EINTR, or ends the process as
// SIGKILL would, in a child process per point. Whatever happens: the run ends with status 0, or 1 and
// one message naming a path and an action; every file is its old or its new content; the stamp names
// the new version only once all it stands for is done; the analyst's edits survive, in place or as
// kept copies; an interruption is retried; and a run without faults then reaches the state a clean run
// reaches, with no temporary file left.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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
#include "qev_scoreboard/cli/output.hpp"
#include "qev_scoreboard/cli/sync.hpp"
#include "qev_scoreboard/platform/fault_injection.hpp"
#include "support.hpp"

#if defined(QEV_FAULT_INJECTION) && !defined(_WIN32)

using namespace qev_test;
namespace faults = qev_scoreboard::platform::faults;

namespace {

constexpr int KILL = 0;  // the "error" that ends the process at the point
const char* const STAMP = "db/.nb_version";
const char* const EDITED = "nb_03_marts.ipynb";
const char* const README = "external_data/VERI_KOPYALA.txt";
const std::string EDIT = "{\"cells\": [{\"source\": \"donem = 202612\"}], \"analist\": true}\n";
const std::string NOTE = "yeni paket okuma notu\n\nNot: Aralık verisi eksik.\n";

std::string mode_name(int error) { return error == KILL ? "SIGKILL" : std::strerror(error); }

// A work directory as the checks see it: files outside yedek/ by path, the kept copies by name and content
// (a copy a failed run made may stand beside the clean run's own), and what must not be left.
struct State {
    std::map<std::string, std::string> files;
    std::set<std::string> dirs;                          // outside yedek/'s run folders
    std::set<std::pair<std::string, std::string>> kept;  // (name, content)
    std::vector<std::string> temporaries;
    std::vector<std::string> empty_kept_folders;
};

bool is_temporary(const fs::path& p) { return p.filename().string().starts_with(".qev-"); }

State snapshot(const fs::path& ws) {
    State s;
    if (!fs::exists(ws)) return s;
    for (auto it = fs::recursive_directory_iterator(ws); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path rel = fs::relative(it->path(), ws);
        const std::string text = rel.generic_string();
        if (is_temporary(rel)) {
            s.temporaries.push_back(text);
            continue;
        }
        const bool in_kept = text.starts_with("yedek/");
        if (it->is_directory()) {
            if (!in_kept) {
                s.dirs.insert(text);
            } else if (it.depth() == 1) {
                bool holds_a_copy = false;
                for (const auto& e : fs::directory_iterator(it->path())) holds_a_copy |= !is_temporary(e.path());
                if (!holds_a_copy) s.empty_kept_folders.push_back(text);
            }
            continue;
        }
        if (in_kept)
            s.kept.insert({rel.filename().string(), slurp(it->path())});
        else
            s.files[text] = slurp(it->path());
    }
    return s;
}

void copy_tree(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

// Drops what a run prints: only its files and its failure are looked at.
struct Quiet {
    qev_scoreboard::ScopedLineSink sink{qev_scoreboard::ScopedLineSink::Sink{}};
};

struct Outcome {
    int exit_status = -1;  // when it exited
    int signal = 0;        // when a signal ended it
    std::string message;   // what it threw, when it failed
};

// The run, in a child process with the fault armed at call `at`.
Outcome run_faulted(const std::function<void()>& run, std::uint64_t at, int error) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) throw std::runtime_error("pipe");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipe_fds[0]);
        int status = 0;
        std::string message;
        {
            Quiet quiet;
            faults::arm(at, error);
            try {
                run();
            } catch (const std::exception& e) {
                status = 1;
                message = e.what();
            } catch (...) {
                status = 2;
                message = "an exception that is no std::exception";
            }
            faults::disarm();
        }
        for (size_t done = 0; done < message.size();) {
            const ssize_t n = ::write(pipe_fds[1], message.data() + done, message.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::_exit(status);  // no destructor of the parent's objects may run here
    }
    ::close(pipe_fds[1]);
    Outcome out;
    char buf[4096];
    for (ssize_t n; (n = ::read(pipe_fds[0], buf, sizeof buf)) > 0;) out.message.append(buf, static_cast<size_t>(n));
    ::close(pipe_fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) out.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) out.signal = WTERMSIG(status);
    return out;
}

// The two packages: the one a work directory was prepared with, and the upgrade.
struct Packages {
    FakeServices old_package, new_package;

    Packages() {
        const qev_scoreboard::StepRegistry registry = {{"01", "nb_01_ingest.ipynb"}, {"02", "nb_02_transform.ipynb"},
                                                       {"03a", "nb_03_marts.ipynb"}, {"03b", "nb_03_marts.ipynb"},
                                                       {"05", "nb_05_yeni.ipynb"},   {"06", "qev_pipeline.ipynb"}};
        old_package.version_text = "1.0.0";
        new_package.version_text = "1.1.0";
        old_package.registry = new_package.registry = registry;
        spit(old_package.data_readme, "paket okuma notu\r\n");
        spit(new_package.data_readme, "yeni paket okuma notu\n");
        for (const char* name :
             {"nb_01_ingest.ipynb", "nb_02_transform.ipynb", "nb_03_marts.ipynb", "qev_pipeline.ipynb"}) {
            const std::string body = std::string("{\"cells\": [], \"name\": \"") + name + "\"}\n";
            spit(old_package.notebooks_dir / name, body);
            // The upgrade changes two notebooks, keeps one and adds one.
            const bool changed = std::string(name) != "qev_pipeline.ipynb";
            spit(new_package.notebooks_dir / name, changed ? body + "{\"surum\": 2}\n" : body);
        }
        spit(new_package.notebooks_dir / "nb_05_yeni.ipynb", "{\"cells\": [\"yeni\"]}\n");
    }
};

void run_init(const fs::path& ws, bool force) {
    qev_scoreboard::Args args;
    args.dir = ws.string();
    args.force = force;
    qev_scoreboard::cmd_init(args);
}

// A work directory the old package prepared, then the analyst's and the engine's work in it: an edited
// notebook, a note in the data readme, step meta files with stale fingerprints over several seasons (one
// shadowed, one already current, one damaged) and the error reports of a failed run.
void prepare_old_work_directory(Packages& p, const fs::path& ws) {
    {
        ScopedServices scope(p.old_package);
        Quiet quiet;
        run_init(ws, false);
    }
    spit(ws / EDITED, EDIT);
    spit(ws / README, NOTE);
    const std::string stale = "0123456789abcdef";
    auto meta = [&](const std::string& season, const std::string& kod, const std::string& body) {
        spit(ws / "seasons" / season / "meta" / ("adim_" + kod + ".json"), body);
    };
    auto meta_with = [&](const std::string& kod, const std::string& hash) {
        return "{\"kod\": \"" + kod + "\", \"nb_hash\": \"" + hash + "\", \"satir\": 12, \"ek\": [1.50, null]}";
    };
    meta("2025", "02", meta_with("02", stale));
    meta("2025", "06", meta_with("06", qev_scoreboard::_file_hash(ws / "qev_pipeline.ipynb")));
    meta("2024", "02", meta_with("02", stale));  // shadowed by 2025
    meta("2024", "03a", meta_with("03a", stale));
    meta("2024", "03b", "{ bozuk");
    fs::create_directories(ws / "seasons" / "2026");  // a season without meta files
    spit(ws / "seasons" / "2024" / "error_report.txt", "hata");
    spit(ws / "outputs" / "error_report.txt", "hata");
}

struct Scenario {
    std::string name;
    FakeServices* services;
    std::function<void(const fs::path&)> run;
};

class FaultSweep : public ::testing::Test {
 protected:
    Packages packages;
    fs::path scratch;
    std::unique_ptr<TempDir> temp;  // where /dev/shm is missing

    void SetUp() override {
        // A memory file system where there is one: every point flushes, and a disk would make that slow.
        if (fs::is_directory("/dev/shm")) {
            // Short: every write walks the path to its file.
            scratch = fs::path("/dev/shm") / ("qev-" + std::to_string(::getpid()));
            fs::remove_all(scratch);
            fs::create_directories(scratch);
        } else {
            temp = std::make_unique<TempDir>();
            scratch = temp->path;
        }
    }
    void TearDown() override {
        if (!temp) fs::remove_all(scratch);
    }

    void sweep(const Scenario& scenario, const std::function<void(const fs::path&)>& prepare,
               const std::vector<std::string>& analysts_files) {
        const fs::path tpl = scratch / "t", ws = scratch / "w";
        prepare(tpl);
        ScopedServices scope(*scenario.services);
        const State before = snapshot(tpl);
        std::map<std::string, std::string> edits;
        for (const auto& rel : analysts_files) edits[rel] = before.files.at(rel);

        // The clean run: the state every run must reach, and the calls it makes.
        copy_tree(tpl, ws);
        std::vector<const char*> calls;
        faults::trace(&calls);
        faults::arm(0, 0);
        {
            Quiet quiet;
            scenario.run(ws);
        }
        faults::disarm();
        faults::trace(nullptr);
        const State after = snapshot(ws);
        ASSERT_GT(calls.size(), 20u);
        std::cout << "[ sweep    ] " << scenario.name << ": " << calls.size() << " calls, 5 ways each\n";
        if (std::getenv("QEV_SWEEP_CALLS") != nullptr)
            for (size_t i = 0; i < calls.size(); ++i) std::cout << i + 1 << " " << calls[i] << "\n";

        // The points run side by side, one worker process each (with a work directory of its own), as many
        // at once as there are processors.
        const unsigned slots = std::max(1u, std::thread::hardware_concurrency());
        std::map<pid_t, std::pair<int, unsigned>> running;  // worker -> (its pipe, its slot)
        std::vector<bool> busy(slots, false);
        std::vector<std::string> failures;
        int passed_over = 0, points = 0;
        auto reap = [&] {
            int status = 0;
            const pid_t pid = ::waitpid(-1, &status, 0);
            const auto [fd, slot] = running.at(pid);
            running.erase(pid);
            busy[slot] = false;
            std::string report;
            char buf[4096];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) report.append(buf, static_cast<size_t>(n));
            ::close(fd);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += "\nF a worker of the sweep died";
            std::istringstream lines(report);
            for (std::string line; std::getline(lines, line);) {
                if (line == "P") ++passed_over;
                if (line.starts_with("F ") && failures.size() < 40) failures.push_back(line.substr(2));
            }
        };
        for (const int error : {ENOSPC, EIO, EACCES, EINTR, KILL}) {
            for (std::uint64_t at = 1; at <= calls.size(); ++at, ++points) {
                if (running.size() == slots) reap();
                const unsigned slot = static_cast<unsigned>(std::find(busy.begin(), busy.end(), false) - busy.begin());
                const std::string point = scenario.name + ": " + mode_name(error) + " at call " + std::to_string(at) +
                                          " (" + calls[at - 1] + ")";
                int pipe_fds[2];
                ASSERT_EQ(::pipe(pipe_fds), 0);
                std::fflush(nullptr);
                const pid_t pid = ::fork();
                if (pid == 0) {
                    ::close(pipe_fds[0]);
                    const fs::path work = scratch / ("w" + std::to_string(slot));
                    std::string report;
                    bool passes = false;
                    for (const auto& w : check_point(scenario, tpl, work, at, error, before, after, edits, passes))
                        report += "F " + point + ": " + w.substr(0, 2000) + "\n";
                    if (passes) report += "P\n";
                    // Whole, before the pipe fills: the parent reads only once the worker has ended.
                    if (report.size() > 60000) report.resize(60000);
                    ssize_t ignored = ::write(pipe_fds[1], report.data(), report.size());
                    (void)ignored;
                    ::_exit(0);
                }
                ::close(pipe_fds[1]);
                running[pid] = {pipe_fds[0], slot};
                busy[slot] = true;
            }
        }
        while (!running.empty()) reap();
        std::cout << "[ sweep    ] " << points << " points";
        if (passed_over) std::cout << ", " << passed_over << " passing over what EACCES hid";
        std::cout << "\n";
        std::ostringstream all;
        for (const auto& f : failures) all << "\n  " << f;
        EXPECT_TRUE(failures.empty()) << failures.size() << " (of at most 40 shown):" << all.str();
    }

    // One point, in a worker: the run faulted at call `at`, its outcome checked, then a clean run.
    static std::vector<std::string> check_point(const Scenario& scenario, const fs::path& tpl, const fs::path& ws,
                                                std::uint64_t at, int error, const State& before, const State& after,
                                                const std::map<std::string, std::string>& edits, bool& passes_over) {
        copy_tree(tpl, ws);
        const Outcome out = run_faulted([&] { scenario.run(ws); }, at, error);
        const State faulted = snapshot(ws);
        std::vector<std::string> wrong = check_outcome(out, error, before, after, faulted, edits);
        // A meta file, or a seasons directory, that this user may not read is passed over by design: the
        // run goes on, and no later run of the same version looks at it again.
        passes_over = error == EACCES && out.exit_status == 0 && faulted.files != after.files;
        if (!wrong.empty()) return wrong;
        // A run that did all a clean run does leaves nothing for another to do.
        if (out.exit_status == 0 && faulted.files == after.files && faulted.dirs == after.dirs &&
            faulted.kept == after.kept && faulted.temporaries.empty() && faulted.empty_kept_folders.empty())
            return wrong;
        try {
            Quiet quiet;
            scenario.run(ws);
        } catch (const std::exception& e) {
            wrong.push_back(std::string("the run without faults failed: ") + e.what());
            return wrong;
        }
        check_clean(before, after, snapshot(ws), passes_over, wrong);
        return wrong;
    }

    static bool old_or_new(const std::map<std::string, std::string>& before,
                           const std::map<std::string, std::string>& after, const std::string& path,
                           const std::string* now) {
        const auto b = before.find(path), a = after.find(path);
        if (now == nullptr) return b == before.end() || a == after.end();
        return (b != before.end() && b->second == *now) || (a != after.end() && a->second == *now);
    }

    static std::vector<std::string> check_outcome(const Outcome& out, int error, const State& before,
                                                  const State& after, const State& faulted,
                                                  const std::map<std::string, std::string>& edits) {
        std::vector<std::string> wrong;
        if (error == KILL ? !(out.signal == SIGKILL || out.exit_status == 0)
                          : !(out.exit_status == 0 || out.exit_status == 1))
            wrong.push_back("ended with status " + std::to_string(out.exit_status) + ", signal " +
                            std::to_string(out.signal) + ": " + out.message);
        if (error == EINTR && out.exit_status != 0) wrong.push_back("an interruption was not retried: " + out.message);
        static const std::regex one_message(R"(^/[^\n]*: [^:\n]+: [^\n]+$)");
        if (out.exit_status == 1 && !std::regex_match(out.message, one_message))
            wrong.push_back("not one message naming a path and an action: '" + out.message + "'");

        std::set<std::string> paths;
        for (const auto* m : {&before.files, &after.files, &faulted.files})
            for (const auto& [p, _] : *m) paths.insert(p);
        for (const auto& p : paths) {
            const auto f = faulted.files.find(p);
            if (!old_or_new(before.files, after.files, p, f == faulted.files.end() ? nullptr : &f->second))
                wrong.push_back(p +
                                (f == faulted.files.end() ? " is missing" : " is neither its old nor its new content"));
        }
        // Everything the stamp stands for is done once it names the new version.
        const auto stamp = faulted.files.find(STAMP);
        const auto old_stamp = before.files.find(STAMP), new_stamp = after.files.find(STAMP);
        if (stamp != faulted.files.end() && new_stamp != after.files.end() && stamp->second == new_stamp->second &&
            (old_stamp == before.files.end() || old_stamp->second != new_stamp->second) &&
            faulted.files != after.files && !(error == EACCES && out.exit_status == 0))
            wrong.push_back("the stamp names the new version before all it stands for is done");
        for (const auto& [rel, content] : edits) {
            const auto now = faulted.files.find(rel);
            const bool in_place = now != faulted.files.end() && now->second == content;
            if (!in_place && !faulted.kept.count({fs::path(rel).filename().string(), content}))
                wrong.push_back("the analyst's " + rel + " is lost");
        }
        if (error != KILL && !faulted.temporaries.empty())
            wrong.push_back("a temporary file is left: " + faulted.temporaries.front());
        if (error != KILL && !faulted.empty_kept_folders.empty())
            wrong.push_back("an empty kept-copies folder is left: " + faulted.empty_kept_folders.front());
        return wrong;
    }

    static void check_clean(const State& before, const State& after, const State& cleaned, bool passes_over,
                            std::vector<std::string>& wrong) {
        if (!cleaned.temporaries.empty()) wrong.push_back("left after a clean run: " + cleaned.temporaries.front());
        if (!cleaned.empty_kept_folders.empty())
            wrong.push_back("an empty kept-copies folder after a clean run: " + cleaned.empty_kept_folders.front());
        if (cleaned.dirs != after.dirs) wrong.push_back("the clean run's directories differ");
        std::set<std::string> paths;
        for (const auto* m : {&after.files, &cleaned.files})
            for (const auto& [p, _] : *m) paths.insert(p);
        for (const auto& p : paths) {
            const auto c = cleaned.files.find(p), a = after.files.find(p), b = before.files.find(p);
            const bool same = (c == cleaned.files.end()) == (a == after.files.end()) &&
                              (c == cleaned.files.end() || c->second == a->second);
            // What EACCES hid stays as it was: under seasons/ only (meta files, error reports).
            const bool hidden = passes_over && p.starts_with("seasons/") &&
                                ((c == cleaned.files.end()) == (b == before.files.end())) &&
                                (c == cleaned.files.end() || c->second == b->second);
            if (!same && !hidden) wrong.push_back(p + " differs from a clean run's");
        }
        // A failed run may have kept a copy too; every copy is whole, and the clean run's are all there.
        for (const auto& k : after.kept)
            if (!cleaned.kept.count(k)) wrong.push_back("the kept copy of " + k.first + " is missing");
        // A copy, the clean run's or another, holds bytes the work directory held under that name.
        for (const auto& [name, content] : cleaned.kept) {
            bool held = false;
            for (const auto& [p, c] : before.files) held |= fs::path(p).filename() == name && c == content;
            if (!held) wrong.push_back("a kept copy of " + name + " holds what the work directory never had");
        }
    }
};

TEST_F(FaultSweep, InitOnAFreshDirectory) {
    sweep({"init (fresh)", &packages.new_package, [](const fs::path& ws) { run_init(ws, false); }},
          [](const fs::path& ws) { spit(ws / EDITED, EDIT); }, {EDITED});
}

TEST_F(FaultSweep, InitAfterAnUpgrade) {
    sweep({"init (upgrade)", &packages.new_package, [](const fs::path& ws) { run_init(ws, false); }},
          [&](const fs::path& ws) { prepare_old_work_directory(packages, ws); }, {EDITED, README});
}

TEST_F(FaultSweep, InitForce) {
    sweep({"init --force", &packages.new_package, [](const fs::path& ws) { run_init(ws, true); }},
          [&](const fs::path& ws) { prepare_old_work_directory(packages, ws); }, {EDITED, README});
}

TEST_F(FaultSweep, AutoSyncAfterAnUpgrade) {
    sweep({"auto-sync", &packages.new_package, [](const fs::path& ws) { qev_scoreboard::_sync_notebooks(ws); }},
          [&](const fs::path& ws) { prepare_old_work_directory(packages, ws); }, {EDITED, README});
}

TEST_F(FaultSweep, MetaRefreshOverSeveralSeasons) {
    sweep({"meta refresh", &packages.new_package,
           [](const fs::path& ws) {
               qev_scoreboard::_update_meta_hashes(
                   ws, {"nb_02_transform.ipynb", "nb_03_marts.ipynb", "qev_pipeline.ipynb"});
           }},
          [&](const fs::path& ws) { prepare_old_work_directory(packages, ws); }, {EDITED});
}

}  // namespace

#endif

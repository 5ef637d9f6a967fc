// A file init finds as the record of installed files left it is trusted by its facts, unread; any change
// those facts could hide is caught all the same, and the analyst's edit kept. Then: a run with nothing to
// change reads no notebook and writes nothing, and a package file is read once, while it is copied.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "qev_scoreboard/platform/fault_injection.hpp"
#include "qev_scoreboard/platform/unix/variants.hpp"
#include "run_fixtures.hpp"
#include "support.hpp"

using namespace qev_test;
namespace faults = qev_scoreboard::platform::faults;

namespace {

const std::string RECORD = "db/.nb_installed.json";
const std::string A = "nb_a.ipynb";

// Long enough that the package's files count as settled: a file changed just before it was looked at is
// never trusted by its facts.
void let_the_package_settle() { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); }

struct stat stat_of(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        throw std::runtime_error("cannot stat " + p.string() + ": " + std::strerror(errno));
    return st;
}

std::int64_t ns(const struct timespec& t) { return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; }

// New bytes of the same size in place, the modification time then put back as it was: only the change
// time (and the bytes) tell.
void rewrite_keeping_size_and_mtime(const fs::path& p, const std::string& bytes) {
    const struct stat before = stat_of(p);
    ASSERT_EQ(static_cast<std::size_t>(before.st_size), bytes.size());
    spit(p, bytes);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

nlohmann::json facts_now(const fs::path& p) {
    const struct stat st = stat_of(p);
    return {{"size", st.st_size},
            {"mtime_ns", ns(st.st_mtim)},
            {"ctime_ns", ns(st.st_ctim)},
            {"file_id", st.st_ino},
            {"device", st.st_dev}};
}

// The record rewritten by `edit`, then given `when` (ns) as its modification time.
void edit_record(const fs::path& ws, const std::function<void(nlohmann::json&)>& edit, std::int64_t when) {
    nlohmann::json record = nlohmann::json::parse(slurp(ws / RECORD));
    edit(record);
    spit(ws / RECORD, record.dump(2));
    const struct timespec t { static_cast<time_t>(when / 1000000000), static_cast<long>(when % 1000000000) };
    const struct timespec times[2] = {t, t};
    ASSERT_EQ(::utimensat(AT_FDCWD, (ws / RECORD).c_str(), times, 0), 0);
}

struct Package {
    FakeServices svc;
    explicit Package(std::size_t size = 64) {
        svc.version_text = "1.1.0";
        spit(svc.data_readme, "okuma notu\n");
        for (const char* name : {"nb_a.ipynb", "nb_b.ipynb", "nb_c.ipynb"})
            spit(svc.notebooks_dir / name, std::string(name) + std::string(size - std::strlen(name), 'x'));
    }
    void init(const fs::path& ws, bool force = false) {
        ScopedServices scope(svc);
        quietly([&] { run_init(ws, force); });
    }
};

// The analyst's copies kept under yedek/, by file name.
std::vector<std::string> kept(const fs::path& ws) {
    std::vector<std::string> out;
    if (!fs::exists(ws / "yedek")) return out;
    for (const auto& e : fs::recursive_directory_iterator(ws / "yedek"))
        if (e.is_regular_file()) out.push_back(slurp(e.path()));
    return out;
}

struct Case {
    const char* what;
    // Changes the prepared directory `ws` or the package; returns the bytes an analyst wrote, if any.
    std::function<std::string(const fs::path& ws, const fs::path& pkg)> change;
    bool noticed;  // whether the next init must see the change
};

TEST(TrustByFacts, WhatTheFactsCouldHideIsReadAgain) {
    const std::string edit(64, 'e');
    const std::vector<Case> cases = {
        {"an edit that puts back size and modification time (the change time moves)",
         [&](auto& ws, auto&) {
             rewrite_keeping_size_and_mtime(ws / A, edit);
             return edit;
         },
         true},
        {"a package notebook replaced by a new file of the same size and time (a reproducible build)",
         [&](auto&, auto& pkg) {
             const fs::path next = pkg / "yeni";
             spit(next, std::string(64, 'n'));
             const struct stat old = stat_of(pkg / A);
             const struct timespec times[2] = {old.st_atim, old.st_mtim};
             EXPECT_EQ(::utimensat(AT_FDCWD, next.c_str(), times, 0), 0);
             fs::rename(next, pkg / A);
             return std::string();
         },
         true},
        {"an edit made in the same clock tick as the record, which names its facts",
         [&](auto& ws, auto&) {
             rewrite_keeping_size_and_mtime(ws / A, edit);
             const nlohmann::json now = facts_now(ws / A);
             edit_record(
                 ws, [&](auto& r) { r[A]["installed"] = now; }, now["ctime_ns"].get<std::int64_t>());
             return edit;
         },
         true},
        {"the same, the record written a tick later: the facts hold and are trusted",
         [&](auto& ws, auto&) {
             rewrite_keeping_size_and_mtime(ws / A, edit);
             const nlohmann::json now = facts_now(ws / A);
             edit_record(
                 ws, [&](auto& r) { r[A]["installed"] = now; }, now["ctime_ns"].get<std::int64_t>() + 10000000);
             return edit;
         },
         false},
        {"a package notebook rewritten in the same tick as the record",
         [&](auto& ws, auto& pkg) {
             rewrite_keeping_size_and_mtime(pkg / A, std::string(64, 'p'));
             const nlohmann::json now = facts_now(pkg / A);
             edit_record(
                 ws, [&](auto& r) { r[A]["package"] = now; }, now["ctime_ns"].get<std::int64_t>());
             return std::string();
         },
         true},
        {"a record an older version wrote: fingerprints alone",
         [&](auto& ws, auto&) {
             rewrite_keeping_size_and_mtime(ws / A, edit);
             edit_record(
                 ws,
                 [](auto& r) {
                     for (auto& [name, entry] : r.items()) entry = entry["fingerprint"];
                 },
                 ns(stat_of(ws / A).st_ctim) + 10000000);
             return edit;
         },
         true},
        {"facts the record keeps in a form no version writes",
         [&](auto& ws, auto&) {
             rewrite_keeping_size_and_mtime(ws / A, edit);
             nlohmann::json now = facts_now(ws / A);
             now["size"] = "64";
             edit_record(
                 ws, [&](auto& r) { r[A]["installed"] = now; }, now["ctime_ns"].get<std::int64_t>() + 10000000);
             return edit;
         },
         true},
    };
    std::vector<std::unique_ptr<Package>> packages;
    for (std::size_t i = 0; i < cases.size(); ++i) packages.push_back(std::make_unique<Package>());
    let_the_package_settle();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        Package& pkg = *packages[i];
        TempDir tmp;
        const fs::path ws = tmp / "ws";
        pkg.init(ws);
        ASSERT_EQ(slurp(ws / A), slurp(pkg.svc.notebooks_dir / A));
        const std::string edited = c.change(ws, pkg.svc.notebooks_dir);
        const std::string before = slurp(ws / A);
        pkg.init(ws);
        if (!c.noticed) {
            EXPECT_EQ(slurp(ws / A), before);
            EXPECT_TRUE(kept(ws).empty());
            continue;
        }
        EXPECT_EQ(slurp(ws / A), slurp(pkg.svc.notebooks_dir / A));
        EXPECT_EQ(kept(ws), edited.empty() ? std::vector<std::string>{} : std::vector<std::string>{edited});
    }
}

// The calls a run makes, by name, and those that changed the disk.
struct Traced {
    std::vector<const char*> names;
    std::vector<faults::Recorded> changes;
    std::size_t count(const char* name) const {
        return static_cast<std::size_t>(
            std::count_if(names.begin(), names.end(), [&](const char* n) { return std::strcmp(n, name) == 0; }));
    }
};

Traced traced(const std::function<void()>& run) {
    Traced t;
    faults::trace(&t.names);
    faults::record(&t.changes);
    faults::arm(0, 0);
    run();
    faults::disarm();
    faults::trace(nullptr);
    faults::record(nullptr);
    return t;
}

constexpr std::size_t BIG = std::size_t{4} << 20;
constexpr std::size_t PIECE = std::size_t{1} << 16;  // what one read brings

TEST(TrustByFacts, NothingToChangeReadsNoNotebookAndWritesNothing) {
    Package small, big(BIG);
    let_the_package_settle();
    std::size_t reads[2];
    for (Package* pkg : {&small, &big}) {
        TempDir tmp;
        const fs::path ws = tmp / "ws";
        pkg->init(ws);
        const Traced second = traced([&] { pkg->init(ws); });
        EXPECT_TRUE(second.changes.empty())
            << second.changes.size() << " changes, the first by " << second.changes.front().call;
        reads[pkg == &big] = second.count("read");
    }
    // What is read (the stamp, the record) does not grow with the notebooks.
    EXPECT_EQ(reads[1], reads[0]);
}

TEST(TrustByFacts, APackageFileIsReadOnce) {
    Package small, big(BIG);
    // A package file changed just before the run is fingerprinted again as it is copied, in case it
    // changed meanwhile: one installed a while ago is not.
    let_the_package_settle();
    std::size_t reads[2][2];
    for (Package* pkg : {&small, &big}) {
        TempDir tmp;
        const fs::path fresh = tmp / "fresh", edited = tmp / "edited";
        // Nothing there to compare: the package's notebooks are fingerprinted as they are copied.
        reads[pkg == &big][0] = traced([&] { pkg->init(fresh); }).count("read");
        // The analyst's own files and no record: each package file is fingerprinted first, to be compared,
        // then copied by the kernel.
        for (const char* name : {"nb_a.ipynb", "nb_b.ipynb", "nb_c.ipynb"}) spit(edited / name, "analist");
        reads[pkg == &big][1] = traced([&] { pkg->init(edited); }).count("read");
    }
    const std::size_t once = 3 * BIG / PIECE;
    // Without a copy made by the kernel (the portable calls), a file compared first is read again to be
    // copied: still no more than that.
    const std::size_t copying = QEV_USE_LINUX_CALLS ? 0 : once;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "a fresh directory" : "the analyst's files");
        EXPECT_LE(reads[1][run] - reads[0][run], once + (run == 1 ? copying : 0) + 3);
    }
}

}  // namespace

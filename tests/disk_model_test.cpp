// The ground the crash-state test stands on: the fault seam records what the platform layer did to the
// disk, its replay gives what the calls left, and each persistence model lets a power cut lose what it
// says it may and nothing more.
#include <gtest/gtest.h>

#if QEV_FAULT_INJECTION && defined(__linux__)
#include <unistd.h>

#include <functional>

#include "crash_rules.hpp"
#include "disk_model.hpp"
#include "qev_scoreboard/core/atomic_file.hpp"
#include "qev_scoreboard/core/fs.hpp"
#include "qev_scoreboard/platform/destination.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"

using namespace qev_test;

namespace {

class DiskModelTest : public ::testing::Test {
 protected:
    const fs::path scratch = fs::path(fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) /
                             ("qev-model-" + std::to_string(::getpid()));
    const fs::path root = scratch / "w";
    void SetUp() override { fs::create_directories(root); }
    void TearDown() override { fs::remove_all(scratch); }

    // What `run` does to the disk, in the terms of `root` as it was before.
    DiskModel record(const std::function<void()>& run) {
        DiskModel model(root);
        std::vector<faults::Recorded> calls;
        faults::record(&calls);
        faults::arm(0, 0);
        run();
        faults::disarm();
        faults::record(nullptr);
        model.replay(calls);
        EXPECT_EQ(model.tree_after(model.operations().size()), read_tree(root)) << "the replay is not the run";
        return model;
    }

    // Every content `rel` has in some state a cut could leave; "(none)" where it is missing.
    static std::set<std::string> contents(const DiskModel& model, Persistence persistence, const std::string& rel) {
        CrashCounts counts;
        std::set<std::string> found;
        for (const auto& state : crash_states(model, persistence, counts)) {
            const auto file = state.tree.files.find(rel);
            found.insert(file == state.tree.files.end() ? "(none)" : file->second);
        }
        return found;
    }

    // The tree of what is durable once every recorded operation was made.
    static Tree durable_at_end(const DiskModel& model, Persistence persistence) {
        const auto& ops = model.operations();
        std::vector<bool> durable(ops.size());
        for (std::size_t i = 0; i < ops.size(); ++i) durable[i] = model.durable(i, ops.size(), persistence);
        return model.tree(durable);
    }
};

TEST_F(DiskModelTest, AReplacementIsRecordedAsTheDiskSawIt) {
    spit(root / "a.txt", "eski");
    const DiskModel model = record([&] {
        qev_scoreboard::write_file_atomic(root / "a.txt", "yeni");
        qev_scoreboard::sync_directory(root);
    });
    const auto& ops = model.operations();
    std::vector<Kind> kinds;
    for (const auto& op : ops) kinds.push_back(op.kind);
    ASSERT_EQ(kinds,
              (std::vector<Kind>{Kind::Create, Kind::Write, Kind::FlushFile, Kind::Rename, Kind::FlushDirectory}));
    EXPECT_TRUE(ops[0].path.starts_with(".qev-")) << ops[0].path;
    EXPECT_EQ(ops[1].bytes, "yeni");
    EXPECT_EQ(ops[3].path, ops[0].path);
    EXPECT_EQ(ops[3].to, "a.txt");
    EXPECT_EQ(ops[3].file, ops[0].file);  // the file made is the one renamed, whatever its name by then
    EXPECT_EQ(ops[2].file, ops[0].file);
    EXPECT_EQ(ops[4].path, "");
    for (const auto persistence : {Persistence::Posix, Persistence::OrderedData}) {
        EXPECT_EQ(contents(model, persistence, "a.txt"), (std::set<std::string>{"eski", "yeni"}));
        EXPECT_EQ(durable_at_end(model, persistence).files.at("a.txt"), "yeni");
    }
    EXPECT_TRUE(rule_violations(model, {}).empty());
}

TEST_F(DiskModelTest, ARenameAheadOfItsDataLeavesAnEmptyFileUnderPosixOnly) {
    spit(root / "a.txt", "eski");
    // A replacement renamed over its name before its data is flushed, then flushed after: the platform's
    // own steps, in the order the product never takes them.
    const DiskModel model = record([&] {
        namespace platform = qev_scoreboard::platform;
        const fs::path target = root / "a.txt";
        const platform::Destination at = platform::resolve_destination(target, "yazılamadı");
        platform::TemporaryFile tmp;
        ASSERT_TRUE(tmp.create(at, 0644, target, "yazılamadı"));
        platform::write_all(tmp.handle(), "yeni paket", target);
        tmp.commit(at, target, "yazılamadı");
        platform::flush_existing_file(target);
        platform::flush_directory(root);
    });
    std::string copied;
    for (const auto& op : model.operations())
        if (op.kind == Kind::Write) copied += op.bytes;
    EXPECT_EQ(copied, "yeni paket");
    EXPECT_EQ(contents(model, Persistence::Posix, "a.txt"), (std::set<std::string>{"eski", "yeni paket", ""}));
    EXPECT_EQ(contents(model, Persistence::OrderedData, "a.txt"), (std::set<std::string>{"eski", "yeni paket"}));
    const auto wrong = rule_violations(model, {});
    ASSERT_EQ(wrong.size(), 1u);
    EXPECT_TRUE(wrong[0].starts_with("R1 at call ")) << wrong[0];
    EXPECT_NE(wrong[0].find("-> a.txt): a.txt renamed into place"), std::string::npos) << wrong[0];
}

TEST_F(DiskModelTest, UnderPosixAFileIsThereOnlyOnceEveryDirectoryOnTheWayIsFlushed) {
    // The directories made by the platform's bare call, which flushes nothing (make_directories flushes
    // each into its parent).
    const auto write = [&] {
        ASSERT_EQ(qev_scoreboard::platform::make_directory(root / "x"), 0);
        ASSERT_EQ(qev_scoreboard::platform::make_directory(root / "x" / "y"), 0);
        qev_scoreboard::write_file_atomic(root / "x" / "y" / "f", "veri");
        qev_scoreboard::sync_directory(root / "x" / "y");
    };
    const DiskModel unflushed = record(write);
    EXPECT_FALSE(durable_at_end(unflushed, Persistence::Posix).files.contains("x/y/f"));
    EXPECT_EQ(rule_violations(unflushed, {}).size(), 1u);  // R4: x and x/y are not durable on return
    // Under OrderedData the flush of x/y commits the journal, the directories made before it too.
    EXPECT_EQ(durable_at_end(unflushed, Persistence::OrderedData).files.at("x/y/f"), "veri");

    fs::remove_all(root / "x");
    const DiskModel flushed = record([&] {
        write();
        qev_scoreboard::sync_directory(root / "x");
        qev_scoreboard::sync_directory(root);
    });
    EXPECT_EQ(durable_at_end(flushed, Persistence::Posix).files.at("x/y/f"), "veri");
    EXPECT_TRUE(rule_violations(flushed, {}).empty());
}

TEST_F(DiskModelTest, UnderOrderedDataDirectoryOperationsPersistInTheirOrder) {
    spit(root / "a.txt", "eski");
    spit(root / "b.txt", "eski");
    const DiskModel model = record([&] {
        qev_scoreboard::write_file_atomic(root / "a.txt", "yeni");
        qev_scoreboard::write_file_atomic(root / "b.txt", "yeni");
    });
    // Whether the later replacement can be on the disk while the earlier one is not.
    const auto b_without_a = [&](Persistence persistence) {
        CrashCounts counts;
        for (const auto& state : crash_states(model, persistence, counts))
            if (state.tree.files.at("a.txt") == "eski" && state.tree.files.at("b.txt") == "yeni") return true;
        return false;
    };
    EXPECT_TRUE(b_without_a(Persistence::Posix));
    EXPECT_FALSE(b_without_a(Persistence::OrderedData));
}

}  // namespace

#endif

#pragma once
// A model of the disk beneath a run, built from the calls the fault seam recorded, and the states a power
// cut after any of those calls could leave on it, under one of two stated persistence models.
//
// Posix, the weakest model POSIX allows:
//   - a file's data (its writes and truncations) is durable only once fsync or fdatasync of that file
//     returned;
//   - a directory entry (a create, rename, unlink, mkdir or rmdir) only once fsync of its directory
//     returned, of both directories for a rename between two;
//   - syncfs or sync makes everything durable;
//   - whatever is not yet durable may or may not be on the disk, each operation apart from the others: a
//     rename may persist without the data of the file it names (an empty or torn file under the new name),
//     a file's entry without the entry of the directory that holds it.
// OrderedData, ext4 mounted data=ordered:
//   - directory operations reach the disk in the order they were made, as one journal: a cut keeps all
//     of them up to some point and none after, and any flush (of a file, a directory or the file system)
//     commits every one made before it;
//   - a file's data written before a directory operation that names it (its creation, a rename to it)
//     reaches the disk no later than that operation: a rename that persisted brings the renamed file's
//     data with it;
//   - data flushed by neither may be lost.
// Neither model tears a single write, nor models modes, owners and times.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "qev_scoreboard/platform/fault_injection.hpp"
#include "run_fixtures.hpp"

namespace qev_test {

namespace faults = qev_scoreboard::platform::faults;
using Kind = faults::Recorded::Kind;

enum class Persistence { Posix, OrderedData };
const char* name_of(Persistence persistence);

// One recorded call, in the work directory's terms.
struct Operation {
    Kind kind{};
    const char* call = "";
    std::uint64_t number = 0;  // the call's number in the run
    std::string path, to;      // the entry made, removed or renamed, and where a rename put it; the
                               // directory flushed ("" for the work directory itself)
    int file = -1;             // the model's number for the file, new at each creation of one
    std::uint64_t offset = 0;  // where a write began; a truncation's size
    std::string bytes;

    bool is_data() const { return kind == Kind::Write || kind == Kind::Truncate; }
    bool is_flush() const;
    // Whether it touches temporary names alone: a temporary file made or removed.
    bool temporary_only() const;
    std::string describe() const;  // "call 412 (renameat db/.qev-… -> db/.nb_version)"
};

class DiskModel {
 public:
    // The tree at `root` before the run, whose files the recorded calls name by their identity.
    explicit DiskModel(const fs::path& root);
    // Takes the recorded calls, in the tree's terms: calls outside the tree are dropped.
    void replay(const std::vector<faults::Recorded>& calls);

    const std::vector<Operation>& operations() const { return ops_; }
    // Whether operation `i` is durable once the first `k` operations were made.
    bool durable(std::size_t i, std::size_t k, Persistence persistence) const;
    // The tree when exactly the operations marked in `persisted` reached the disk (shorter: none after).
    Tree tree(const std::vector<bool>& persisted) const;
    // The tree once the first `k` operations were made, as the run sees it.
    Tree tree_after(std::size_t k) const { return tree(std::vector<bool>(k, true)); }
    // The path of every file and the file each names once the first `k` operations were made.
    std::map<std::string, int> names_after(std::size_t k) const;

 private:
    std::string root_;
    std::map<std::string, int> names_;  // before the run
    std::set<std::string> dirs_;
    std::vector<std::string> contents_;  // each file's content before the run; "" for a file it made
    std::map<std::pair<std::uint64_t, std::uint64_t>, int> ids_;
    std::vector<Operation> ops_;
    // The operation that made each durable, under each model; ops_.size() when none did.
    std::vector<std::size_t> durable_posix_, durable_ordered_;

    bool relative(const std::string& dir, const std::string& name, std::string& out) const;
    void settle();
};

// A state a power cut could leave: its tree, and the first cut (after `cut` operations) and loss that made
// it.
struct CrashState {
    Tree tree;
    std::size_t cut = 0;
    std::string how;
};

struct CrashCounts {
    std::size_t prefixes = 0, built = 0;
};

// Every distinct state a power cut after any operation could leave under `persistence`, by cut. Where the
// operations not yet durable are few (up to 8 under Posix), every combination of them persisted or lost;
// otherwise every state in which exactly one of them is lost, plus none and all of them lost.
std::vector<CrashState> crash_states(const DiskModel& model, Persistence persistence, CrashCounts& counts);

}  // namespace qev_test

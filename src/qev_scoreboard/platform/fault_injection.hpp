#pragma once
// The test seam in front of every file-system call the platform layer makes. A build made for the tests
// (QEV_FAULT_INJECTION) counts the calls and can make the Nth one fail with a chosen errno value, or end
// the process there as SIGKILL would, so a test can sweep every point of a run. Any other build has none
// of it: QEV_FAULT is the constant 0 there, with no function behind it, whatever the optimisation.
// The same build can also record what each call that changes the disk did (QEV_RECORD), so that a test
// can replay a run on a model of the disk and build what a power cut at any point could leave; elsewhere
// QEV_RECORD is nothing, its arguments not even evaluated.

#include <cstdint>
#include <string>
#include <vector>

namespace qev_scoreboard::platform::faults {

#if QEV_FAULT_INJECTION

// Called before each attempt of the call `name`. Returns 0 to make the call, or the errno value it must
// fail with instead. EINTR is given only to a call that the system may interrupt (`interruptible`);
// armed with EINTR at another call, the call is made as usual. At a kill point the process ends here.
int before(const char* name, bool interruptible) noexcept;

// Whether a fault, once it fired, stays: every later call of the same kind fails with it too, as a disk
// that is full stays full. The calls that take space (writes, copies, reservations) are of one kind; any
// other call is a kind of its own.
enum class Persist { Once, SameKind };

// Whether the call `name` takes space on the disk.
bool takes_space(const char* name) noexcept;

// From now on counts the calls; the `at`th (1 is the next one) fails with `error`, or ends the process
// when `error` is 0. arm(0, 0) only counts.
void arm(std::uint64_t at, int error, Persist persist = Persist::Once) noexcept;
// Stops counting and injecting.
void disarm() noexcept;
// The calls counted since arm().
std::uint64_t calls() noexcept;
// While armed, appends the name of every call counted to `names` (nullptr: none), so that a point of a
// sweep can be named by its call.
void trace(std::vector<const char*>* names) noexcept;

#define QEV_FAULT(name, interruptible) ::qev_scoreboard::platform::faults::before(name, interruptible)

// A call that changed the disk, with what a replay needs. Entries are named by their directory's
// canonical path (as the descriptor or path given led to it when the call returned) and their name; a
// file by its device and inode, which a rename or a later descriptor of it keeps.
struct Recorded {
    enum class Kind {
        Create,           // a new entry `name` in `dir` for the file (open or openat with O_CREAT)
        Write,            // `bytes` at `offset` of the file (write, pwrite, copy_file_range)
        Truncate,         // the file cut or lengthened to `offset` bytes (ftruncate, O_TRUNC)
        Rename,           // `dir`/`name` moved to `to_dir`/`to_name`, the file being what it names now
        Unlink,           // the entry `name` of `dir` removed
        MakeDirectory,    // the directory `name` made in `dir`
        RemoveDirectory,  // the directory `name` removed from `dir`
        FlushFile,        // the file's data made durable (fsync, fdatasync)
        FlushDirectory,   // the entries of `dir` made durable (fsync of a directory)
        FlushAll,         // everything made durable (syncfs, sync)
    };
    Kind kind{};
    const char* call = "";     // the system call's name
    std::uint64_t number = 0;  // its number in the count since arm()
    std::string dir, name, to_dir, to_name;
    std::uint64_t device = 0, inode = 0;
    std::uint64_t offset = 0;
    std::string bytes;
};

// While armed, appends every call that changed the disk to `calls` (nullptr: none). Only successful calls
// are recorded, on regular files and directories, in the order they returned: the runs recorded make
// their calls from one thread.
void record(std::vector<Recorded>* calls) noexcept;

// What system_calls.hpp reports after each such call, with the call's own result (failures are not
// recorded). A position of -1 is the descriptor's own.
void opened(const char* call, int dir, const char* name, int flags, int fd) noexcept;
void wrote(const char* call, int fd, const void* data, long long written, long long at) noexcept;
void copied(int in, int out, long long copied) noexcept;
void truncated(int fd, long long size, int rc) noexcept;
void renamed(int from_dir, const char* from, int to_dir, const char* to, int rc) noexcept;
void removed(const char* call, int dir, const char* name, bool directory, int rc) noexcept;
void made_directory(const char* path, int rc) noexcept;
void flushed(const char* call, int fd, int rc) noexcept;
void flushed_all(const char* call, int rc) noexcept;

#define QEV_RECORD(what, ...) ::qev_scoreboard::platform::faults::what(__VA_ARGS__)

#else

#define QEV_FAULT(name, interruptible) 0
#define QEV_RECORD(what, ...) ((void)0)

#endif

}  // namespace qev_scoreboard::platform::faults

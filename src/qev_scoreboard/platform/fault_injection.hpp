#pragma once
// The test seam in front of every file-system call the platform layer makes. A build made for the tests
// (QEV_FAULT_INJECTION) counts the calls and can make the Nth one fail with a chosen errno value, or end
// the process there as SIGKILL would, so a test can sweep every point of a run. Any other build has none
// of it: QEV_FAULT is the constant 0 there, with no function behind it, whatever the optimisation.

#include <cstdint>
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

#else

#define QEV_FAULT(name, interruptible) 0

#endif

}  // namespace qev_scoreboard::platform::faults

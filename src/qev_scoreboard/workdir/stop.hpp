#pragma once
// A run its caller may ask to stop: at each point where it can stop with every file old or new, it asks
// the check in force on its thread, and stops there (RunStopped) when told to.

#include <filesystem>
#include <functional>

#include "qev_scoreboard/platform/file_error.hpp"

namespace qev_scoreboard {

// The run was stopped at its caller's request: "<work dir>: güncellenemedi: istek üzerine durduruldu"
// (EINTR). What it did stays done; nothing after it was started.
class RunStopped : public FileError {
 public:
    explicit RunStopped(const std::filesystem::path& base)
        : FileError("güncellenemedi", base, EINTR, "istek üzerine durduruldu") {}
};

// While alive, stop_point() on the constructing thread asks `check`, which returns true to stop.
class ScopedStopCheck {
 public:
    explicit ScopedStopCheck(std::function<bool()> check);
    ~ScopedStopCheck();
    ScopedStopCheck(const ScopedStopCheck&) = delete;
    ScopedStopCheck& operator=(const ScopedStopCheck&) = delete;

 private:
    std::function<bool()> check_;
    ScopedStopCheck* previous_;
    friend void stop_point(const std::filesystem::path& base);
};

// Throws RunStopped (naming `base`) when the check in force on this thread asks to stop; nothing when
// none is in force.
void stop_point(const std::filesystem::path& base);

}  // namespace qev_scoreboard

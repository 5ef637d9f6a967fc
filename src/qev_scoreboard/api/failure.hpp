#pragma once
// How the C interface tells a failure: a non-zero status, and a description kept per thread, with the
// errno value, path and reason apart so that callers can map it onto their own error types; and the
// copies a sync kept. For the files of this directory.

#include <exception>
#include <string>
#include <vector>

namespace qev_scoreboard::c_api {

// Forgets the calling thread's last failure.
void clear() noexcept;
// Records a failure described by static strings, so that a failure to allocate can still be reported.
void fail(const char* text, int err, const char* reason) noexcept;
// Records the failure `e`: its description, and its errno value, path and reason where it has them.
void fail(const std::exception& e) noexcept;
// The copies the calling thread's last sync kept, relative to its work directory.
std::vector<std::string>& kept() noexcept;

}  // namespace qev_scoreboard::c_api

#pragma once
// SHA-256 from the system's own implementation: libcrypto (OpenSSL 3) on POSIX systems, loaded on first
// use so that commands that never hash never pay for it; CNG (BCryptHash) on Windows.

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>

namespace qev_scoreboard::platform {

// Loads the backend now (once per process) and returns its name and version. Throws FileError naming
// the library and the loader's reason when it cannot be loaded or lacks a function.
std::string digest_backend_version();

// The file the backend was loaded from, for messages about the library itself.
std::filesystem::path digest_backend_path();

// One streaming computation. sha256_begin throws the loading FileError when the backend is unavailable;
// every other failure is std::runtime_error carrying the reason alone (the backend's own words
// included), for the caller to name what it was hashing. sha256_end frees the state (nullptr allowed).
struct Sha256State;
Sha256State* sha256_begin();
void sha256_update(Sha256State* state, const void* data, std::size_t size);
std::array<unsigned char, 32> sha256_finish(Sha256State* state);
void sha256_end(Sha256State* state) noexcept;

}  // namespace qev_scoreboard::platform

#pragma once
// SHA-256 from the system's own implementation: libcrypto (OpenSSL 3) on POSIX systems, loaded on first
// use so that commands that never hash never pay for it; CNG (BCryptHash) on Windows.

#include <array>
#include <cstddef>
#include <string>

namespace qev_scoreboard::platform {

// Loads the backend now (once per process) and returns its name and version. Throws std::runtime_error
// naming the library and the loader's reason when it cannot be loaded or lacks a function.
std::string digest_backend_version();

// One streaming computation. sha256_begin throws std::runtime_error when the backend is unavailable;
// every other failure is std::runtime_error too. sha256_end frees the state (nullptr allowed).
struct Sha256State;
Sha256State* sha256_begin();
void sha256_update(Sha256State* state, const void* data, std::size_t size);
std::array<unsigned char, 32> sha256_finish(Sha256State* state);
void sha256_end(Sha256State* state) noexcept;

}  // namespace qev_scoreboard::platform

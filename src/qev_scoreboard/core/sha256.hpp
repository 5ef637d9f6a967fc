#pragma once
// SHA-256 from the system's own implementation (libcrypto's EVP interface; CNG on Windows). libcrypto is
// loaded on first use: linking it outright would add its relocations to the start-up of every command.

#include <array>
#include <cstddef>
#include <string>

namespace qev_scoreboard {

// Loads libcrypto now (once per process) and returns its version text. Throws std::runtime_error
// naming the library and the loader's reason when it cannot be loaded or lacks a function.
std::string load_digest_library();

// One streaming SHA-256 computation. Throws std::runtime_error when libcrypto is unavailable.
class Sha256 {
 public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, size_t size);
    std::array<unsigned char, 32> finish();

 private:
    void* ctx_;
};

}  // namespace qev_scoreboard

#pragma once
// SHA-256 from the system's own implementation (libcrypto's EVP interface; CNG on Windows). libcrypto is
// loaded on first use: linking it outright would add its relocations to the start-up of every command.

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>

namespace qev_scoreboard {

// Loads the digest library now (once per process) and proves that it hashes: the digest of "abc" must
// be the published one, since a library that loads may still have no SHA-256 to offer (a configuration
// that activates only the null provider). Returns the library's version text; throws FileError naming
// the library when it cannot be loaded, lacks a function or does not hash correctly.
std::string check_digest_library();

// One streaming SHA-256 computation of `subject`'s bytes. Every failure, the library's included, throws
// FileError naming `subject` (or the library, when it cannot be loaded).
class Sha256 {
 public:
    explicit Sha256(std::filesystem::path subject);
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, size_t size);
    std::array<unsigned char, 32> finish();

 private:
    std::filesystem::path subject_;
    void* ctx_ = nullptr;
};

}  // namespace qev_scoreboard

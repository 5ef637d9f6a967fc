#include "qev_scoreboard/platform/digest.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"
// After windows.hpp, which it needs.
#include <bcrypt.h>

namespace qev_scoreboard::platform {

namespace {

std::string status_text(NTSTATUS status) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(status));
    return buf;
}

// The algorithm provider, opened once per process and kept: opening it is the costly part.
BCRYPT_ALG_HANDLE provider() {
    static const BCRYPT_ALG_HANDLE alg = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        const NTSTATUS status = ::BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
        if (!BCRYPT_SUCCESS(status))
            throw FileError("yüklenemedi", "bcrypt.dll", ENOENT,
                            "SHA-256 sağlayıcısı açılamadı: " + status_text(status));
        return h;
    }();
    return alg;
}

BCRYPT_HASH_HANDLE hash(Sha256State* state) { return reinterpret_cast<BCRYPT_HASH_HANDLE>(state); }

}  // namespace

std::string digest_backend_version() {
    provider();
    return "Windows CNG (bcrypt.dll) SHA-256";
}

std::filesystem::path digest_backend_path() { return "bcrypt.dll"; }

Sha256State* sha256_begin() {
    BCRYPT_HASH_HANDLE h = nullptr;
    // No object buffer: CNG allocates the state itself.
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(provider(), &h, nullptr, 0, nullptr, 0, 0)))
        throw std::runtime_error("CNG: başlatılamadı");
    return reinterpret_cast<Sha256State*>(h);
}

void sha256_update(Sha256State* state, const void* data, std::size_t size) {
    auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
    while (size > 0) {
        const ULONG n = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash(state), p, n, 0))) throw std::runtime_error("CNG: veri işlenemedi");
        p += n;
        size -= n;
    }
}

std::array<unsigned char, 32> sha256_finish(Sha256State* state) {
    std::array<unsigned char, 32> digest{};
    if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash(state), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw std::runtime_error("CNG: tamamlanamadı");
    return digest;
}

void sha256_end(Sha256State* state) noexcept {
    if (state) ::BCryptDestroyHash(hash(state));
}

}  // namespace qev_scoreboard::platform

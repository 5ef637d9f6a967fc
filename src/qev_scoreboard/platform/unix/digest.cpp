#include "qev_scoreboard/platform/digest.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <stdexcept>

#include "qev_scoreboard/platform/dynamic_library.hpp"

namespace qev_scoreboard::platform {

namespace {

#ifdef __APPLE__
constexpr const char* LIBCRYPTO = "libcrypto.3.dylib";
#else
constexpr const char* LIBCRYPTO = "libcrypto.so.3";
#endif

struct Evp {
    decltype(&::EVP_MD_CTX_new) md_ctx_new;
    decltype(&::EVP_MD_CTX_free) md_ctx_free;
    decltype(&::EVP_sha256) sha256;
    decltype(&::EVP_DigestInit_ex) digest_init;
    decltype(&::EVP_DigestUpdate) digest_update;
    decltype(&::EVP_DigestFinal_ex) digest_final;
    decltype(&::OpenSSL_version) version;
};

// The function `name` of `lib`, as type F; closes `lib` and throws when it is missing. Only the type of
// OpenSSL's declaration is used, never its address: libcrypto is not linked.
template <typename F>
F resolve(SharedLibrary& lib, const char* name) {
    void* p = lib.symbol(name);
    if (p == nullptr) {
        lib.close();
        throw std::runtime_error(std::string(LIBCRYPTO) + ": yüklenemedi: " + name + " eksik");
    }
    return reinterpret_cast<F>(p);
}

Evp load() {
    SharedLibrary lib;
    try {
        lib = SharedLibrary::open(LIBCRYPTO);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string(LIBCRYPTO) + ": yüklenemedi: " + e.what());
    }
#define QEV_EVP(function) resolve<decltype(&::function)>(lib, #function)
    return Evp{
        QEV_EVP(EVP_MD_CTX_new),   QEV_EVP(EVP_MD_CTX_free),    QEV_EVP(EVP_sha256),      QEV_EVP(EVP_DigestInit_ex),
        QEV_EVP(EVP_DigestUpdate), QEV_EVP(EVP_DigestFinal_ex), QEV_EVP(OpenSSL_version),
    };
#undef QEV_EVP
}

const Evp& evp() {
    static const Evp api = load();
    return api;
}

EVP_MD_CTX* ctx(Sha256State* state) { return reinterpret_cast<EVP_MD_CTX*>(state); }

}  // namespace

std::string digest_backend_version() { return evp().version(OPENSSL_VERSION); }

Sha256State* sha256_begin() {
    const Evp& api = evp();
    EVP_MD_CTX* c = api.md_ctx_new();
    if (c == nullptr || api.digest_init(c, api.sha256(), nullptr) != 1) {
        api.md_ctx_free(c);
        throw std::runtime_error("SHA-256 başlatılamadı");
    }
    return reinterpret_cast<Sha256State*>(c);
}

void sha256_update(Sha256State* state, const void* data, std::size_t size) {
    if (evp().digest_update(ctx(state), data, size) != 1) throw std::runtime_error("SHA-256 hesaplanamadı");
}

std::array<unsigned char, 32> sha256_finish(Sha256State* state) {
    std::array<unsigned char, 32> digest{};
    unsigned int len = 0;
    unsigned char out[EVP_MAX_MD_SIZE];
    if (evp().digest_final(ctx(state), out, &len) != 1 || len != digest.size())
        throw std::runtime_error("SHA-256 tamamlanamadı");
    std::copy(out, out + len, digest.begin());
    return digest;
}

void sha256_end(Sha256State* state) noexcept {
    // Only a state sha256_begin made exists, and it made one only with the library loaded.
    if (state) evp().md_ctx_free(ctx(state));
}

}  // namespace qev_scoreboard::platform

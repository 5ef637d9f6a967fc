#include "qev_scoreboard/platform/digest.hpp"

#include <dlfcn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "qev_scoreboard/platform/dynamic_library.hpp"
#include "qev_scoreboard/platform/file_error.hpp"

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
    decltype(&::ERR_get_error) get_error;
    decltype(&::ERR_error_string_n) error_string;
    decltype(&::ERR_clear_error) clear_error;
};

constexpr const char* LOAD_ACTION = "yüklenemedi";

// The function `name` of `lib`, as type F; closes `lib` and throws when it is missing. Only the type of
// OpenSSL's declaration is used, never its address: libcrypto is not linked.
template <typename F>
F resolve(SharedLibrary& lib, const char* name) {
    void* p = lib.symbol(name);
    if (p == nullptr) {
        lib.close();
        throw FileError(LOAD_ACTION, LIBCRYPTO, ENOENT, std::string(name) + " eksik");
    }
    return reinterpret_cast<F>(p);
}

Evp load() {
    SharedLibrary lib;
    try {
        lib = SharedLibrary::open(LIBCRYPTO);
    } catch (const std::exception& e) {
        throw FileError(LOAD_ACTION, LIBCRYPTO, ENOENT, e.what());
    }
#define QEV_EVP(function) resolve<decltype(&::function)>(lib, #function)
    return Evp{
        QEV_EVP(EVP_MD_CTX_new),     QEV_EVP(EVP_MD_CTX_free),    QEV_EVP(EVP_sha256),      QEV_EVP(EVP_DigestInit_ex),
        QEV_EVP(EVP_DigestUpdate),   QEV_EVP(EVP_DigestFinal_ex), QEV_EVP(OpenSSL_version), QEV_EVP(ERR_get_error),
        QEV_EVP(ERR_error_string_n), QEV_EVP(ERR_clear_error),
    };
#undef QEV_EVP
}

const Evp& evp() {
    static const Evp api = load();
    return api;
}

EVP_MD_CTX* ctx(Sha256State* state) { return reinterpret_cast<EVP_MD_CTX*>(state); }

// Our reason, then libcrypto's own for it (such as "unsupported" when no provider offers SHA-256).
[[noreturn]] void fail(const char* what) {
    std::string reason = std::string("libcrypto: ") + what;
    const Evp& api = evp();
    if (const unsigned long code = api.get_error()) {
        char text[256];
        api.error_string(code, text, sizeof text);
        reason += std::string(" (") + text + ")";
        api.clear_error();
    }
    throw std::runtime_error(reason);
}

}  // namespace

std::string digest_backend_version() { return evp().version(OPENSSL_VERSION); }

std::filesystem::path digest_backend_path() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(evp().sha256), &info) != 0 && info.dli_fname) return info.dli_fname;
    return LIBCRYPTO;
}

Sha256State* sha256_begin() {
    const Evp& api = evp();
    api.clear_error();
    EVP_MD_CTX* c = api.md_ctx_new();
    if (c == nullptr) fail("bağlam oluşturulamadı");
    if (api.digest_init(c, api.sha256(), nullptr) != 1) {
        api.md_ctx_free(c);
        fail("başlatılamadı");
    }
    return reinterpret_cast<Sha256State*>(c);
}

void sha256_update(Sha256State* state, const void* data, std::size_t size) {
    if (evp().digest_update(ctx(state), data, size) != 1) fail("veri işlenemedi");
}

std::array<unsigned char, 32> sha256_finish(Sha256State* state) {
    std::array<unsigned char, 32> digest{};
    unsigned int len = 0;
    unsigned char out[EVP_MAX_MD_SIZE];
    if (evp().digest_final(ctx(state), out, &len) != 1) fail("tamamlanamadı");
    if (len != digest.size()) fail("beklenmeyen uzunlukta özet");
    std::copy(out, out + len, digest.begin());
    return digest;
}

void sha256_end(Sha256State* state) noexcept {
    // Only a state sha256_begin made exists, and it made one only with the library loaded.
    if (state) evp().md_ctx_free(ctx(state));
}

}  // namespace qev_scoreboard::platform

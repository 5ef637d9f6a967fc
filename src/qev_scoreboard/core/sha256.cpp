#include "qev_scoreboard/core/sha256.hpp"

#include <dlfcn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <stdexcept>

namespace qev_scoreboard {

namespace {

constexpr const char* LIBCRYPTO = "libcrypto.so.3";

struct Evp {
    decltype(&::EVP_MD_CTX_new) md_ctx_new;
    decltype(&::EVP_MD_CTX_free) md_ctx_free;
    decltype(&::EVP_sha256) sha256;
    decltype(&::EVP_DigestInit_ex) digest_init;
    decltype(&::EVP_DigestUpdate) digest_update;
    decltype(&::EVP_DigestFinal_ex) digest_final;
    decltype(&::OpenSSL_version) version;
};

Evp load() {
    void* h = ::dlopen(LIBCRYPTO, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) throw std::runtime_error(std::string(LIBCRYPTO) + ": yüklenemedi: " + ::dlerror());
    auto sym = [h](const char* name) {
        void* p = ::dlsym(h, name);
        if (p == nullptr) {
            ::dlclose(h);
            throw std::runtime_error(std::string(LIBCRYPTO) + ": yüklenemedi: " + name + " eksik");
        }
        return p;
    };
    return Evp{
        reinterpret_cast<decltype(&::EVP_MD_CTX_new)>(sym("EVP_MD_CTX_new")),
        reinterpret_cast<decltype(&::EVP_MD_CTX_free)>(sym("EVP_MD_CTX_free")),
        reinterpret_cast<decltype(&::EVP_sha256)>(sym("EVP_sha256")),
        reinterpret_cast<decltype(&::EVP_DigestInit_ex)>(sym("EVP_DigestInit_ex")),
        reinterpret_cast<decltype(&::EVP_DigestUpdate)>(sym("EVP_DigestUpdate")),
        reinterpret_cast<decltype(&::EVP_DigestFinal_ex)>(sym("EVP_DigestFinal_ex")),
        reinterpret_cast<decltype(&::OpenSSL_version)>(sym("OpenSSL_version")),
    };
}

const Evp& evp() {
    static const Evp api = load();
    return api;
}

}  // namespace

std::string load_digest_library() { return evp().version(OPENSSL_VERSION); }

Sha256::Sha256() : ctx_(nullptr) {
    const Evp& api = evp();
    EVP_MD_CTX* ctx = api.md_ctx_new();
    if (ctx == nullptr || api.digest_init(ctx, api.sha256(), nullptr) != 1) {
        api.md_ctx_free(ctx);
        throw std::runtime_error("SHA-256 başlatılamadı");
    }
    ctx_ = ctx;
}

Sha256::~Sha256() { evp().md_ctx_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void Sha256::update(const void* data, size_t size) {
    if (evp().digest_update(static_cast<EVP_MD_CTX*>(ctx_), data, size) != 1)
        throw std::runtime_error("SHA-256 hesaplanamadı");
}

std::array<unsigned char, 32> Sha256::finish() {
    std::array<unsigned char, 32> digest{};
    unsigned int len = 0;
    unsigned char out[EVP_MAX_MD_SIZE];
    if (evp().digest_final(static_cast<EVP_MD_CTX*>(ctx_), out, &len) != 1 || len != digest.size())
        throw std::runtime_error("SHA-256 tamamlanamadı");
    std::copy(out, out + len, digest.begin());
    return digest;
}

}  // namespace qev_scoreboard

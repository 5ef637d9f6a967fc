#include "qev_scoreboard/core/sha256.hpp"

#include <dlfcn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "qev_scoreboard/core/file_error.hpp"

namespace qev_scoreboard {

namespace {

constexpr const char* LIBCRYPTO = "libcrypto.so.3";
constexpr const char* LOAD_ACTION = "yüklenemedi";
constexpr const char* DIGEST_ACTION = "SHA-256 özeti hesaplanamadı";

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

Evp load() {
    void* h = ::dlopen(LIBCRYPTO, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) throw FileError(LOAD_ACTION, LIBCRYPTO, ENOENT, ::dlerror());
    auto sym = [h](const char* name) {
        void* p = ::dlsym(h, name);
        if (p == nullptr) {
            ::dlclose(h);
            throw FileError(LOAD_ACTION, LIBCRYPTO, ENOENT, std::string(name) + " eksik");
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
        reinterpret_cast<decltype(&::ERR_get_error)>(sym("ERR_get_error")),
        reinterpret_cast<decltype(&::ERR_error_string_n)>(sym("ERR_error_string_n")),
        reinterpret_cast<decltype(&::ERR_clear_error)>(sym("ERR_clear_error")),
    };
}

const Evp& evp() {
    static const Evp api = load();
    return api;
}

// Where the loaded libcrypto lies, for messages about the library itself.
std::string library_path() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(evp().sha256), &info) != 0 && info.dli_fname) return info.dli_fname;
    return LIBCRYPTO;
}

}  // namespace

std::string check_digest_library() {
    const Evp& api = evp();
    const std::string library = library_path();
    static constexpr unsigned char ABC_DIGEST[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                                                     0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                                                     0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    Sha256 sha(library);
    sha.update("abc", 3);
    const auto digest = sha.finish();
    if (!std::equal(digest.begin(), digest.end(), ABC_DIGEST))
        throw FileError(DIGEST_ACTION, library, EIO, "\"abc\" için yanlış özet verdi");
    return api.version(OPENSSL_VERSION);
}

Sha256::Sha256(std::filesystem::path subject) : subject_(std::move(subject)), ctx_(nullptr) {
    const Evp& api = evp();
    api.clear_error();
    EVP_MD_CTX* ctx = api.md_ctx_new();
    if (ctx == nullptr) fail("bağlam oluşturulamadı");
    if (api.digest_init(ctx, api.sha256(), nullptr) != 1) {
        api.md_ctx_free(ctx);
        fail("başlatılamadı");
    }
    ctx_ = ctx;
}

Sha256::~Sha256() {
    if (ctx_) evp().md_ctx_free(static_cast<EVP_MD_CTX*>(ctx_));
}

void Sha256::update(const void* data, size_t size) {
    if (evp().digest_update(static_cast<EVP_MD_CTX*>(ctx_), data, size) != 1) fail("veri işlenemedi");
}

std::array<unsigned char, 32> Sha256::finish() {
    std::array<unsigned char, 32> digest{};
    unsigned int len = 0;
    unsigned char out[EVP_MAX_MD_SIZE];
    if (evp().digest_final(static_cast<EVP_MD_CTX*>(ctx_), out, &len) != 1) fail("tamamlanamadı");
    if (len != digest.size()) fail("beklenmeyen uzunlukta özet");
    std::copy(out, out + len, digest.begin());
    return digest;
}

// The reason is ours, then libcrypto's own for it (such as "unsupported" when no provider offers SHA-256).
void Sha256::fail(const char* what) const {
    std::string reason = std::string("libcrypto: ") + what;
    const Evp& api = evp();
    if (const unsigned long code = api.get_error()) {
        char text[256];
        api.error_string(code, text, sizeof text);
        reason += std::string(" (") + text + ")";
        api.clear_error();
    }
    throw FileError(DIGEST_ACTION, subject_, ENOTSUP, reason);
}

}  // namespace qev_scoreboard

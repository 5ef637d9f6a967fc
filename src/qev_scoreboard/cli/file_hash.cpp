#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

#include "qev_scoreboard/cli/cli.hpp"
#include "qev_scoreboard/cli/fs_util.hpp"

namespace qev_scoreboard {

namespace {

// OpenSSL's EVP digest interface, loaded on first use: linking libcrypto outright would add its
// relocations to the start-up of every command, including `version` and the help.
struct Evp {
    decltype(&::EVP_MD_CTX_new) md_ctx_new;
    decltype(&::EVP_MD_CTX_free) md_ctx_free;
    decltype(&::EVP_sha256) sha256;
    decltype(&::EVP_DigestInit_ex) digest_init;
    decltype(&::EVP_DigestUpdate) digest_update;
    decltype(&::EVP_DigestFinal_ex) digest_final;
};

const Evp& evp() {
    static const Evp api = [] {
        void* h = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
        if (h == nullptr) throw std::runtime_error(std::string("OpenSSL yüklenemedi: ") + ::dlerror());
        auto sym = [h](const char* name) {
            void* p = ::dlsym(h, name);
            if (p == nullptr) throw std::runtime_error(std::string("OpenSSL eksik: ") + name);
            return p;
        };
        return Evp{
            reinterpret_cast<decltype(&::EVP_MD_CTX_new)>(sym("EVP_MD_CTX_new")),
            reinterpret_cast<decltype(&::EVP_MD_CTX_free)>(sym("EVP_MD_CTX_free")),
            reinterpret_cast<decltype(&::EVP_sha256)>(sym("EVP_sha256")),
            reinterpret_cast<decltype(&::EVP_DigestInit_ex)>(sym("EVP_DigestInit_ex")),
            reinterpret_cast<decltype(&::EVP_DigestUpdate)>(sym("EVP_DigestUpdate")),
            reinterpret_cast<decltype(&::EVP_DigestFinal_ex)>(sym("EVP_DigestFinal_ex")),
        };
    }();
    return api;
}

}  // namespace

std::string _file_hash(const fs::path& path) {
    const Evp& api = evp();
    std::unique_ptr<EVP_MD_CTX, decltype(api.md_ctx_free)> ctx(api.md_ctx_new(), api.md_ctx_free);
    if (!ctx || api.digest_init(ctx.get(), api.sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 başlatılamadı");

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw_errno("açılamadı", path, errno);
    std::unique_ptr<const int, void (*)(const int*)> closer(&fd, [](const int* f) { ::close(*f); });

    unsigned char block[8192];
    for (;;) {
        ssize_t n = ::read(fd, block, sizeof block);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_errno("okunamadı", path, errno);
        }
        if (api.digest_update(ctx.get(), block, static_cast<size_t>(n)) != 1)
            throw std::runtime_error("SHA-256 hesaplanamadı: " + path.string());
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (api.digest_final(ctx.get(), digest, &len) != 1) throw std::runtime_error("SHA-256 tamamlanamadı");
    static constexpr char hex[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 0x0F];
    }
    return out;
}

}  // namespace qev_scoreboard

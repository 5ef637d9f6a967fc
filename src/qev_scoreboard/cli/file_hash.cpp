#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

#include "qev_scoreboard/cli/cli.hpp"

namespace qev_scoreboard {

std::string _file_hash(const fs::path& path) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 başlatılamadı");

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw fs::filesystem_error("açılamadı", path, std::error_code(errno, std::generic_category()));
    std::unique_ptr<const int, void (*)(const int*)> closer(&fd, [](const int* f) { ::close(*f); });

    unsigned char block[8192];
    for (;;) {
        ssize_t n = ::read(fd, block, sizeof block);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw fs::filesystem_error("okunamadı", path, std::error_code(errno, std::generic_category()));
        }
        EVP_DigestUpdate(ctx.get(), block, static_cast<size_t>(n));
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &len) != 1) throw std::runtime_error("SHA-256 tamamlanamadı");
    static constexpr char hex[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 0x0F];
    }
    return out;
}

}  // namespace qev_scoreboard

#include "qev_scoreboard/core/sha256.hpp"

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <utility>

#include "qev_scoreboard/platform/digest.hpp"
#include "qev_scoreboard/platform/file_error.hpp"

namespace qev_scoreboard {

namespace {

constexpr const char* DIGEST_ACTION = "SHA-256 özeti hesaplanamadı";

platform::Sha256State* state(void* ctx) { return static_cast<platform::Sha256State*>(ctx); }

// The backend's failures carry only their reason; the file being hashed is ours to name. A library that
// cannot be loaded is already named in its own FileError.
template <typename Fn>
auto naming(const std::filesystem::path& subject, Fn&& fn) {
    try {
        return fn();
    } catch (const FileError&) {
        throw;
    } catch (const std::runtime_error& e) {
        throw FileError(DIGEST_ACTION, subject, ENOTSUP, e.what());
    }
}

}  // namespace

std::string check_digest_library() {
    static constexpr unsigned char ABC_DIGEST[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                                                     0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                                                     0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    const std::string version = platform::digest_backend_version();
    const std::filesystem::path library = platform::digest_backend_path();
    Sha256 sha(library);
    sha.update("abc", 3);
    const auto digest = sha.finish();
    if (!std::equal(digest.begin(), digest.end(), ABC_DIGEST))
        throw FileError(DIGEST_ACTION, library, EIO, "\"abc\" için yanlış özet verdi");
    return version;
}

Sha256::Sha256(std::filesystem::path subject) : subject_(std::move(subject)) {
    ctx_ = naming(subject_, [] { return platform::sha256_begin(); });
}

Sha256::~Sha256() { platform::sha256_end(state(ctx_)); }

void Sha256::update(const void* data, size_t size) {
    naming(subject_, [&] { platform::sha256_update(state(ctx_), data, size); });
}

std::array<unsigned char, 32> Sha256::finish() {
    return naming(subject_, [&] { return platform::sha256_finish(state(ctx_)); });
}

}  // namespace qev_scoreboard

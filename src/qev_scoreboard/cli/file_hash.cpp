// The fingerprint shared with the pipeline engine: the first 16 hex digits of a file's SHA-256.
#include "qev_scoreboard/cli/sync.hpp"
#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/sha256.hpp"

namespace qev_scoreboard {

std::string _file_hash(const fs::path& path) {
    Sha256 sha(path);
    const Fd fd = open_regular_for_reading(path);
    char block[8192];
    read_blocks(fd.get(), path, block, sizeof block, [&](const char* data, size_t n) { sha.update(data, n); });
    const auto digest = sha.finish();
    static constexpr char hex[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 0x0F];
    }
    return out;
}

}  // namespace qev_scoreboard

#include "qev_scoreboard/workdir/fingerprint.hpp"

#include <array>
#include <vector>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/sha256.hpp"

namespace qev_scoreboard {

std::string fingerprint_of_digest(const std::array<unsigned char, 32>& digest) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 0x0F];
    }
    return out;
}

std::string _file_hash(const fs::path& path) {
    const Fd fd = open_regular_for_reading(path);
    return fingerprint_of_open_file(fd.get(), path);
}

std::string fingerprint_of_open_file(platform::NativeHandle file, const fs::path& path) {
    Sha256 sha(path);
    // As large as a copy's pieces: a notebook of a few MiB in a few dozen reads.
    std::vector<char> block(std::size_t{1} << 16);
    read_blocks(file, path, block.data(), block.size(), [&](const char* data, size_t n) { sha.update(data, n); });
    return fingerprint_of_digest(sha.finish());
}

std::string fingerprint_of_bytes(std::string_view bytes, const fs::path& subject) {
    Sha256 sha(subject);
    sha.update(bytes.data(), bytes.size());
    return fingerprint_of_digest(sha.finish());
}

}  // namespace qev_scoreboard

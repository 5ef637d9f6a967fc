#include "qev_scoreboard/workdir/fingerprint.hpp"

#include <array>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/sha256.hpp"

namespace qev_scoreboard {

namespace {

std::string first_16_hex(const std::array<unsigned char, 32>& digest) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 0x0F];
    }
    return out;
}

}  // namespace

std::string _file_hash(const fs::path& path) {
    const Fd fd = open_regular_for_reading(path);
    return fingerprint_of_open_file(fd.get(), path);
}

std::string fingerprint_of_open_file(platform::NativeHandle file, const fs::path& path) {
    Sha256 sha(path);
    char block[8192];
    read_blocks(file, path, block, sizeof block, [&](const char* data, size_t n) { sha.update(data, n); });
    return first_16_hex(sha.finish());
}

std::string fingerprint_of_bytes(std::string_view bytes, const fs::path& subject) {
    Sha256 sha(subject);
    sha.update(bytes.data(), bytes.size());
    return first_16_hex(sha.finish());
}

}  // namespace qev_scoreboard

#include "qev_scoreboard/platform/random.hpp"

namespace qev_scoreboard::platform {

void spread_seed(std::uint64_t seed, unsigned char* buf, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        seed += 0x9E3779B97F4A7C15u;
        std::uint64_t z = seed;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        buf[i] = static_cast<unsigned char>(z ^ (z >> 31));
    }
}

std::string random_name(std::size_t length) {
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr unsigned kLetters = sizeof alphabet - 1;
    // Bytes at or above the largest multiple of 36 are drawn again, so every character is equally likely.
    constexpr unsigned kLimit = 256 / kLetters * kLetters;
    std::string out;
    out.reserve(length);
    unsigned char bytes[32];
    while (out.size() < length) {
        random_bytes(bytes, sizeof bytes);
        for (unsigned char b : bytes)
            if (b < kLimit && out.size() < length) out += alphabet[b % kLetters];
    }
    return out;
}

}  // namespace qev_scoreboard::platform

#include "qev_scoreboard/platform/random.hpp"

namespace qev_scoreboard::platform {

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

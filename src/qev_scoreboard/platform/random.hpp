#pragma once
// Random bytes from the system, for names no other process can guess or repeat.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qev_scoreboard::platform {

// Fills `buf` with `size` bytes from the system's random source. Never fails: where the source is not
// available the bytes mix the clock, the process id and a counter, unique enough for a name created
// with O_EXCL.
void random_bytes(unsigned char* buf, std::size_t size);

// Fills `buf` from one 64-bit seed (splitmix64): the systems' fallback where no random source answers,
// seeded from the clock, the process id and a counter.
void spread_seed(std::uint64_t seed, unsigned char* buf, std::size_t size);

// `length` characters from [a-z0-9], drawn from random_bytes: safe in a file name on every system.
std::string random_name(std::size_t length);

}  // namespace qev_scoreboard::platform

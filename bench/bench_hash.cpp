// Prints the fingerprint of one file, so its cost can be timed next to `openssl dgst -sha256`.
// Usage: qev-bench-hash FILE
#include <cstdio>
#include <exception>

#include "qev_scoreboard/workdir/auto_sync.hpp"
#include "qev_scoreboard/workdir/fingerprint.hpp"
#include "qev_scoreboard/workdir/meta_refresh.hpp"
#include "qev_scoreboard/workdir/package_files.hpp"
#include "qev_scoreboard/workdir/stamp.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qev-bench-hash FILE\n");
        return 2;
    }
    try {
        std::printf("%s\n", qev_scoreboard::_file_hash(argv[1]).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qev-bench-hash: %s\n", e.what());
        return 1;
    }
    return 0;
}

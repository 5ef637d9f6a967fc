// Uses every primitive of the Windows platform layer once, so the link proves them complete; run under
// Wine it prints what each returned.
#include <cstdio>
#include <string>

#include "qev_scoreboard/platform/console.hpp"
#include "qev_scoreboard/platform/digest.hpp"
#include "qev_scoreboard/platform/dynamic_library.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"
#include "qev_scoreboard/platform/option_parser.hpp"
#include "qev_scoreboard/platform/random.hpp"
#include "qev_scoreboard/platform/self_location.hpp"
#include "qev_scoreboard/platform/working_directory.hpp"

namespace platform = qev_scoreboard::platform;

int main() {
    platform::reset_option_parser();
    platform::File none;
    none.reset();
    auto* state = platform::sha256_begin();
    platform::sha256_update(state, "abc", 3);
    const auto digest = platform::sha256_finish(state);
    platform::sha256_end(state);
    std::string hex;
    for (unsigned char b : digest) {
        char buf[3];
        std::snprintf(buf, sizeof buf, "%02x", b);
        hex += buf;
    }
    platform::SharedLibrary kernel = platform::SharedLibrary::open(platform::SharedLibrary::file_name("kernel32"));
    const bool found = kernel.symbol("GetTickCount64") != nullptr;
    platform::write_stdout(platform::digest_backend_version() + " sha256(abc)=" + hex + "\n");
    platform::write_stdout("random " + platform::random_name(8) + ", kernel32 " + (found ? "ok" : "eksik") + "\n");
    platform::write_stdout("module " + platform::module_file().string() + ", thread cwd " +
                           (platform::enter_thread_working_directory(".") ? "own" : "shared") + "\n");
    platform::write_stderr("çıktı: ÇĞİÖŞÜ ─\n");
    return platform::flush_stdout();
}

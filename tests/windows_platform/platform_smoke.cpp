// Uses every primitive of the Windows platform layer once, so the link proves them complete; run under
// Wine it prints what each returned.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>

#include "qev_scoreboard/platform/console.hpp"
#include "qev_scoreboard/platform/destination.hpp"
#include "qev_scoreboard/platform/digest.hpp"
#include "qev_scoreboard/platform/dynamic_library.hpp"
#include "qev_scoreboard/platform/file_content.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/held_directory.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"
#include "qev_scoreboard/platform/option_parser.hpp"
#include "qev_scoreboard/platform/process.hpp"
#include "qev_scoreboard/platform/random.hpp"
#include "qev_scoreboard/platform/self_location.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"
#include "qev_scoreboard/platform/working_directory.hpp"

namespace platform = qev_scoreboard::platform;

namespace {

// A file replaced the way the program replaces files, then an in-place rewrite, and what the directory
// then holds: "smoke.txt" alone, with the last content.
std::string replace_twice(const platform::fs::path& dir) {
    const platform::fs::path target = dir / "smoke.txt";
    platform::make_directory(dir);
    for (const char* content : {"bir\n", "iki\n"}) {
        platform::InterruptsDeferred deferred(platform::Defer::FileSizeSignal);
        platform::Destination at = platform::resolve_destination(target, "yazılamadı");
        platform::remove_left_over_temporaries(at);
        platform::File existing;
        if (at.exists) existing = platform::open_existing(at, target, "yazılamadı");
        platform::TemporaryFile tmp;
        if (platform::keeps_entries(at) || platform::replacement_refused(at) ||
            !tmp.create(at, 0666, target, "yazılamadı"))
            return "no temporary file";
        platform::write_all(tmp.handle(), content, target);
        if (at.exists) {
            platform::keep_owner(tmp.handle(), at.info);
            platform::copy_extended_attributes(existing.get(), tmp.handle(), target, "yazılamadı");
        }
        platform::set_permissions(tmp.handle(), 0644);
        platform::set_times(tmp.handle(), {0, 0}, {86400, 0});
        platform::flush_data(tmp.handle(), target);
        tmp.commit(at, target, "yazılamadı");
    }
    {
        platform::InterruptsDeferred deferred(platform::Defer::AllInterrupts);
        const platform::Destination at = platform::resolve_destination(target, "yazılamadı");
        const platform::File f = platform::open_for_rewrite(at, target, "yazılamadı");
        platform::reserve(f.get(), 4);
        platform::rewind(f.get(), target, "yazılamadı");
        const platform::File in = platform::open_for_reading(target);
        platform::copy_content(in.get(), f.get(), target, target);
        platform::truncate(f.get(), 4, target, "yazılamadı");
        platform::put_back(f.get(), "iki\n", 4);
    }
    {
        // Held by another program (no deletion shared): retried, then named, the target untouched.
        const HANDLE held =
            ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        const platform::Destination at = platform::resolve_destination(target, "yazılamadı");
        platform::TemporaryFile tmp;
        tmp.create(at, 0666, target, "yazılamadı");
        platform::write_all(tmp.handle(), "üç\n", target);
        try {
            tmp.commit(at, target, "yazılamadı");
            platform::write_stdout("held: replaced\n");
        } catch (const std::exception& e) {
            platform::write_stdout(std::string("held: ") + e.what() + "\n");
        }
        ::CloseHandle(held);
    }
    platform::flush_directory(dir);
    std::string listing;
    for (const platform::DirEntry& e : platform::list_directory(dir)) listing += e.name + " ";
    platform::FileInfo described;
    const int err = platform::describe(target, platform::Follow::NoLinks, described);
    char text[8] = {};
    const platform::File f = platform::open_for_reading(target);
    platform::read_some(f.get(), text, sizeof text - 1, target);
    platform::remove_file(target);
    const platform::File d = platform::open_directory(dir);
    platform::change_process_directory(d.get());
    return listing + "size " + std::to_string(err == 0 ? described.size : 0) + " text " + text + "cwd " +
           platform::current_directory().filename().string();
}

}  // namespace

int main() {
    platform::reset_option_parser();
    platform::on_interrupt(platform::remove_temporaries_in_flight);
    platform::ignore_file_size_signal();
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
    try {
        platform::write_stdout("replace " + replace_twice("smoke dir") + "\n");
    } catch (const std::exception& e) {
        platform::write_stdout(std::string("replace failed: ") + e.what() + "\n");
    }
    platform::write_stderr("çıktı: ÇĞİÖŞÜ ─\n");
    return platform::flush_stdout();
}

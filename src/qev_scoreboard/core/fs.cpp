#include "qev_scoreboard/core/fs.hpp"

#include <cerrno>

#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/path_text.hpp"

namespace qev_scoreboard {

using platform::FileKind;
using platform::Follow;

namespace {

// Unless `make`, only asks at each step whether making it would succeed.
void make_with_parents(const fs::path& dir, bool make) {
    platform::FileInfo info;
    int err = platform::describe(dir, Follow::Links, info);
    if (err == 0) {
        if (info.kind != FileKind::Directory) throw_file_error("dizin oluşturulamadı", dir, ENOTDIR);
        return;
    }
    if (err != ENOENT && err != ENOTDIR) throw_file_error("dizin oluşturulamadı", dir, err);
    const fs::path parent = dir.parent_path();
    if (!parent.empty() && parent != dir) make_with_parents(parent, make);
    const fs::path in = parent.empty() ? fs::path(".") : parent;
    if (!make) {
        // A parent still to be made would be this user's, who may then make entries in it.
        if (platform::describe(in, Follow::Links, info) != 0) return;
        if (const int denied = platform::may_add_entries(in); denied != 0)
            throw_file_error("dizin oluşturulamadı", dir, denied);
        return;
    }
    if ((err = platform::make_directory(dir)) == 0) {
        // Its entry is on the disk before anything in it is.
        platform::flush_directory(in);
        return;
    }
    // Someone else may have made it meanwhile; only a directory will do.
    if (err == EEXIST && platform::describe(dir, Follow::Links, info) == 0 && info.kind == FileKind::Directory) return;
    throw_file_error("dizin oluşturulamadı", dir, err);
}

}  // namespace

void make_directories(const fs::path& dir) {
    // Refused before the first parent is made: the system would make a directory of another name.
    platform::require_keepable_names(dir, "dizin oluşturulamadı");
    make_with_parents(dir, true);
}

void require_makeable(const fs::path& dir) {
    platform::require_keepable_names(dir, "dizin oluşturulamadı");
    make_with_parents(dir, false);
}

bool make_new_directory(const fs::path& dir) {
    const int err = platform::make_directory(dir);
    if (err == 0) return true;
    if (err == EEXIST) return false;
    throw_file_error("dizin oluşturulamadı", dir, err);
}

bool means_absent(int err) { return err == ENOENT || err == ENOTDIR || err == ELOOP; }

bool path_exists(const fs::path& path) {
    platform::FileInfo info;
    const int err = platform::describe(path, Follow::Links, info);
    if (err == 0) return true;
    if (means_absent(err)) return false;
    throw_file_error("erişilemedi", path, err);
}

void require_directory(const fs::path& dir, const char* action) {
    // The directory found would be another one, of the name the system makes of it.
    platform::require_keepable_names(dir, action);
    platform::FileInfo info;
    int err = platform::describe(dir, Follow::Links, info);
    if (err == 0 && info.kind != FileKind::Directory) err = ENOTDIR;
    if (err != 0) throw_file_error(action, dir, err);
}

bool leads_to_directory(const fs::path& path) {
    platform::FileInfo info;
    const int err = platform::describe(path, Follow::Links, info);
    if (means_absent(err)) return false;
    if (err != 0) throw_file_error("erişilemedi", path, err);
    return info.kind == FileKind::Directory;
}

std::vector<DirEntry> list_directory(const fs::path& dir) { return platform::list_directory(dir); }

std::optional<std::vector<DirEntry>> list_directory_if_present(const fs::path& dir) {
    try {
        return platform::list_directory(dir);
    } catch (const FileError& e) {
        const int err = e.code().value();
        if (err == ENOENT || err == ENOTDIR) return std::nullopt;
        throw;
    }
}

std::uintmax_t size_in_bytes(const fs::path& path) {
    platform::FileInfo info;
    if (const int err = platform::describe(path, Follow::Links, info); err != 0)
        throw_file_error("boyutu okunamadı", path, err);
    return info.size;
}

bool remove_file(const fs::path& path) {
    platform::FileInfo info;
    if (const int err = platform::describe(path, Follow::NoLinks, info); err != 0) {
        if (err == ENOENT || err == ENOTDIR) return false;
        throw_file_error("erişilemedi", path, err);
    }
    if (info.kind == FileKind::Directory) return false;
    if (const int err = platform::remove_file(path); err != 0) {
        if (err == ENOENT) return false;  // gone meanwhile: not ours to count
        throw_file_error("silinemedi", path, err);
    }
    return true;
}

fs::path current_directory() { return platform::current_directory(); }

void sync_directory(const fs::path& dir) { platform::flush_directory(dir); }

void flush_file(const fs::path& path) { platform::flush_existing_file(path); }

}  // namespace qev_scoreboard

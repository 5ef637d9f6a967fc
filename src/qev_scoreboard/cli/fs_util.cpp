#include "qev_scoreboard/cli/fs_util.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace qev_scoreboard {

namespace {

// A file descriptor closed on every path out of the scope that owns it.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    // Closes now and reports a failed close, which can be the first sign of a lost write.
    int close() {
        int rc = ::close(fd);
        fd = -1;
        return rc;
    }
};

void write_all(int fd, const char* data, size_t size, const fs::path& path) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_errno("yazılamadı", path, errno);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// A temporary file beside `target`, removed again unless commit() renamed it over the target.
struct TempFile {
    fs::path path;
    Fd fd{-1};
    bool committed = false;

    explicit TempFile(const fs::path& target) {
        std::string name = ".";
        name.append(target.filename().string()).append(".tmp.XXXXXX");
        std::string tmpl = (target.parent_path() / name).string();
        int f = ::mkstemp(tmpl.data());
        if (f < 0) throw_errno("geçici dosya oluşturulamadı", target, errno);
        fd.fd = f;
        path = tmpl;
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!committed) {
            fd.close();
            ::unlink(path.c_str());
        }
    }
    void commit(const fs::path& target) {
        if (fd.close() != 0) throw_errno("yazılamadı", target, errno);
        if (::rename(path.c_str(), target.c_str()) != 0) throw_errno("yerine konamadı", target, errno);
        committed = true;
    }
};

void copy_bytes(int in, int out, const fs::path& src, const fs::path& dst) {
    bool use_range = true;
    for (;;) {
        if (use_range) {
            ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0) continue;
            if (n == 0) return;
            if (errno == EINTR) continue;
            // Not supported between these file systems: fall back to plain reads and writes.
            if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
                throw_errno("kopyalanamadı", src, errno);
            use_range = false;
        }
        char buf[1 << 16];
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0) return;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_errno("okunamadı", src, errno);
        }
        write_all(out, buf, static_cast<size_t>(n), dst);
    }
}

}  // namespace

std::string read_file(const fs::path& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0) throw_errno("açılamadı", path, errno);
    std::string out;
    struct stat st {};
    if (::fstat(fd.fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd.fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_errno("okunamadı", path, errno);
        }
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

bool is_valid_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int len;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p < len) return false;
        for (int i = 1; i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;
        p += len;
    }
    return true;
}

void write_file_atomic(const fs::path& path, std::string_view content) {
    struct stat st {};
    bool existed = ::stat(path.c_str(), &st) == 0;
    TempFile tmp(path);
    write_all(tmp.fd.fd, content.data(), content.size(), path);
    mode_t mode = existed ? (st.st_mode & 07777) : (0666 & ~[] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }());
    if (::fchmod(tmp.fd.fd, mode) != 0) throw_errno("izinler ayarlanamadı", path, errno);
    // Keep the owner where we may (the engine's files stay the engine user's when root runs us);
    // where we may not, the file becomes ours, as any rewrite would make it.
    if (existed && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
        ::fchown(tmp.fd.fd, st.st_uid, st.st_gid) != 0) {
        // Not permitted: the rewrite proceeds with us as the owner.
    }
    tmp.commit(path);
}

void copy_file_atomic(const fs::path& src, const fs::path& dst) {
    Fd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) throw_errno("açılamadı", src, errno);
    struct stat st {};
    if (::fstat(in.fd, &st) != 0) throw_errno("okunamadı", src, errno);
    if (S_ISDIR(st.st_mode)) throw_errno("kopyalanamadı", src, EISDIR);
    TempFile tmp(dst);
    copy_bytes(in.fd, tmp.fd.fd, src, dst);
    if (::fchmod(tmp.fd.fd, st.st_mode & 07777) != 0) throw_errno("izinler ayarlanamadı", dst, errno);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(tmp.fd.fd, times) != 0) throw_errno("zaman damgaları ayarlanamadı", dst, errno);
    tmp.commit(dst);
}

// mkdir -p that names the component at fault: a file standing where a directory must be is reported
// as "not a directory" on that very path.
void make_directories(const fs::path& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) throw_errno("dizin oluşturulamadı", dir, ENOTDIR);
        return;
    }
    if (errno != ENOENT && errno != ENOTDIR) throw_errno("dizin oluşturulamadı", dir, errno);
    const fs::path parent = dir.parent_path();
    if (!parent.empty() && parent != dir) make_directories(parent);
    if (::mkdir(dir.c_str(), 0777) == 0) return;
    const int err = errno;
    // Someone else may have made it meanwhile; only a directory will do.
    if (err == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
    throw_errno("dizin oluşturulamadı", dir, err);
}

bool path_exists(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return false;
    throw_errno("erişilemedi", path, errno);
}

[[noreturn]] void throw_errno(const std::string& what, const fs::path& path, int err) {
    throw fs::filesystem_error(what, path, std::error_code(err, std::generic_category()));
}

std::string describe_error(const std::exception& e) {
    const auto* fe = dynamic_cast<const fs::filesystem_error*>(&e);
    if (!fe) return e.what();
    std::string text = fe->what();
    const std::string prefix = "filesystem error: ";
    if (text.starts_with(prefix)) text.erase(0, prefix.size());
    std::string paths;
    for (const auto* p : {&fe->path1(), &fe->path2()})
        if (!p->empty()) paths += " [" + p->string() + "]";
    if (text.ends_with(paths)) text.erase(text.size() - paths.size());
    return fe->path1().empty() ? text : fe->path1().string() + ": " + text;
}

}  // namespace qev_scoreboard

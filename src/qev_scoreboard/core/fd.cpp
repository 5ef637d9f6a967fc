#include "qev_scoreboard/core/fd.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "qev_scoreboard/core/file_error.hpp"
#include "qev_scoreboard/core/utf8.hpp"

namespace qev_scoreboard {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

void Fd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int Fd::close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
}

struct stat stat_fd(int fd, const fs::path& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw_file_error("okunamadı", path, errno);
    return st;
}

void require_regular_file(const struct stat& st, const fs::path& path, const char* action) {
    if (S_ISDIR(st.st_mode)) throw_file_error(action, path, EISDIR);
    if (!S_ISREG(st.st_mode)) throw FileError(action, path, EINVAL, "düzenli bir dosya değil");
}

Fd open_regular_for_reading(const fs::path& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) throw_file_error("açılamadı", path, errno);
    require_regular_file(stat_fd(fd.get(), path), path, "açılamadı");
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) throw_file_error("açılamadı", path, errno);
    return fd;
}

size_t read_some(int fd, char* buf, size_t size, const fs::path& path) {
    for (;;) {
        const ssize_t n = ::read(fd, buf, size);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) throw_file_error("okunamadı", path, errno);
    }
}

void write_all(int fd, std::string_view data, const fs::path& path) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw_file_error("yazılamadı", path, errno);
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
}

namespace {

std::string read_all(const fs::path& path, size_t max_size) {
    const Fd fd = open_regular_for_reading(path);
    const struct stat st = stat_fd(fd.get(), path);
    if (static_cast<unsigned long long>(st.st_size) > max_size) throw_file_error("okunamadı", path, EFBIG);
    std::string out;
    try {
        out.reserve(static_cast<size_t>(st.st_size));
        char buf[1 << 16];
        read_blocks(fd.get(), path, buf, sizeof buf, [&](const char* data, size_t n) {
            if (out.size() + n > max_size) throw_file_error("okunamadı", path, EFBIG);
            out.append(data, n);
        });
    } catch (const std::bad_alloc&) {
        throw_file_error("okunamadı", path, ENOMEM);
    } catch (const std::length_error&) {
        throw_file_error("okunamadı", path, ENOMEM);
    }
    return out;
}

}  // namespace

std::string read_file(const fs::path& path) { return read_all(path, std::string().max_size()); }

std::string read_utf8_file(const fs::path& path, size_t max_size) {
    std::string text = read_all(path, max_size);
    if (!is_valid_utf8(text)) throw FileError("okunamadı", path, EILSEQ, "geçerli UTF-8 değil");
    return text;
}

}  // namespace qev_scoreboard

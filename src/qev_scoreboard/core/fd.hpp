#pragma once
// File descriptors and whole-file and block reads. Every failure throws FileError naming the path.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// An owned file descriptor, closed on every path out of its scope.
class Fd {
 public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset();
    // Closes now and returns close()'s result: a failed close can be the first sign of a lost write.
    int close();

 private:
    int fd_ = -1;
};

// Opens `path` for reading as a regular file. A FIFO or device is refused ("düzenli bir dosya değil")
// without ever blocking on it; a directory gives EISDIR.
Fd open_regular_for_reading(const fs::path& path);

// Throws FileError(action, path) unless `st` is a regular file's: EISDIR for a directory, "düzenli bir
// dosya değil" for a FIFO, device or socket.
void require_regular_file(const struct stat& st, const fs::path& path, const char* action);

// fstat of an open descriptor.
struct stat stat_fd(int fd, const fs::path& path);

// Reads at most `size` bytes, retrying on EINTR; 0 means end of file.
size_t read_some(int fd, char* buf, size_t size, const fs::path& path);

// Feeds `fn(data, n)` every block read from `fd`, front to back, until end of file.
template <typename Fn>
void read_blocks(int fd, const fs::path& path, char* buf, size_t size, Fn&& fn) {
    for (size_t n; (n = read_some(fd, buf, size, path)) != 0;) fn(buf, n);
}

// Writes all of `data`, retrying on EINTR and short writes.
void write_all(int fd, std::string_view data, const fs::path& path);

// The whole regular file as bytes.
std::string read_file(const fs::path& path);

// The whole regular file, which must be valid UTF-8 ("<path>: okunamadı: geçerli UTF-8 değil").
// Files above `max_size` bytes are refused before any allocation.
std::string read_utf8_file(const fs::path& path, size_t max_size = static_cast<size_t>(1) << 30);

}  // namespace qev_scoreboard

#include "qev_scoreboard/core/fd.hpp"

#include <cerrno>
#include <new>
#include <stdexcept>

#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/file_content.hpp"
#include "qev_scoreboard/platform/file_error.hpp"

namespace qev_scoreboard {

namespace {

std::string read_all(platform::NativeHandle file, const fs::path& path, size_t max_size) {
    const std::uint64_t size = platform::info(file, path).size;
    if (size > max_size) throw_file_error("okunamadı", path, EFBIG);
    std::string out;
    try {
        out.reserve(static_cast<size_t>(size));
        char buf[1 << 16];
        read_blocks(file, path, buf, sizeof buf, [&](const char* data, size_t n) {
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

void rewind_for_reading(platform::NativeHandle file, const fs::path& path) {
    platform::rewind(file, path, "okunamadı");
}

bool refused_as_text(const FileError& e) {
    const int err = e.code().value();
    return err == EILSEQ || err == EFBIG || err == EISDIR || err == EINVAL;
}

std::string read_utf8_text(platform::NativeHandle file, const fs::path& path, size_t max_size) {
    std::string text = read_all(file, path, max_size);
    if (!is_valid_utf8(text)) throw FileError("okunamadı", path, EILSEQ, "geçerli UTF-8 değil");
    return text;
}

std::string read_utf8_file(const fs::path& path, size_t max_size) {
    const Fd file = open_regular_for_reading(path);
    return read_utf8_text(file.get(), path, max_size);
}

}  // namespace qev_scoreboard

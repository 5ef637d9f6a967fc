#include "qev_scoreboard/platform/file_error.hpp"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "qev_scoreboard/platform/path_text.hpp"

namespace qev_scoreboard {

std::string errno_reason(int err) {
    switch (err) {
        case ENOENT:
            return "böyle bir dosya ya da dizin yok";
        case EACCES:
            return "erişim izni yok";
        case EPERM:
            return "işleme izin verilmiyor";
        case ENOTDIR:
            return "bir dizin değil";
        case EISDIR:
            return "bir dizin";
        case EEXIST:
            return "zaten var";
        case ENOTEMPTY:
            return "dizin boş değil";
        case ENOSPC:
            return "aygıtta yer kalmadı";
#ifdef EDQUOT  // not every C library names it
        case EDQUOT:
            return "disk kotası aşıldı";
#endif
        case EROFS:
            return "salt okunur dosya sistemi";
        case ELOOP:
            return "çok fazla sembolik bağ düzeyi";
        case ENAMETOOLONG:
            return "dosya adı çok uzun";
        case EIO:
            return "girdi/çıktı hatası";
        case EMFILE:
        case ENFILE:
            return "çok fazla açık dosya";
        case ENOMEM:
            return "bellek yetersiz";
        case EFBIG:
            return "dosya çok büyük";
        case EINVAL:
            return "geçersiz argüman";
        case EXDEV:
            return "dosya sistemleri arasında yapılamaz";
        case EBUSY:
            return "aygıt ya da kaynak meşgul";
        case ETXTBSY:
            return "metin dosyası meşgul";
        case EAGAIN:
            return "kaynak geçici olarak kullanılamıyor";
        case ENXIO:
            return "böyle bir aygıt ya da adres yok";
        case ENODEV:
            return "böyle bir aygıt yok";
        case EBADF:
            return "geçersiz dosya tanımlayıcısı";
        case EFAULT:
            return "geçersiz adres";
        case EINTR:
            return "sinyalle kesildi";
        case EOVERFLOW:
            return "değer veri türü için çok büyük";
        case ENOTSUP:
            return "desteklenmiyor";
        case EILSEQ:
            return "geçersiz bayt dizisi";
#ifdef ESTALE
        case ESTALE:
            return "eskimiş dosya tanıtıcısı";
#endif
        default:
            return std::string(std::strerror(err)) + " (errno " + std::to_string(err) + ")";
    }
}

FileError::FileError(std::string action, const std::filesystem::path& path, int err)
    : FileError(action, path, err, errno_reason(err)) {}

FileError::FileError(std::string action, const std::filesystem::path& path, int err, std::string reason)
    : std::filesystem::filesystem_error(action, path, std::error_code(err, std::generic_category())),
      action_(std::move(action)),
      reason_(std::move(reason)),
      text_(platform::path_to_utf8(path) + ": " + action_ + ": " + reason_) {
    // A copy sliced to std::runtime_error or std::system_error must still tell our text.
    std::runtime_error::operator=(std::runtime_error(text_));
}

void throw_file_error(std::string action, const std::filesystem::path& path, int err) {
    throw FileError(std::move(action), path, err);
}

}  // namespace qev_scoreboard

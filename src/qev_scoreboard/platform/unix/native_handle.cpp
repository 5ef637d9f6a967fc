#include "qev_scoreboard/platform/native_handle.hpp"

#include <unistd.h>

#include <cerrno>

namespace qev_scoreboard::platform {

void File::reset() noexcept {
    if (h_) ::close(static_cast<int>(h_.value));
    h_ = {};
}

int File::close() noexcept {
    const int rc = ::close(static_cast<int>(h_.value));
    h_ = {};
    return rc == 0 ? 0 : errno;
}

}  // namespace qev_scoreboard::platform

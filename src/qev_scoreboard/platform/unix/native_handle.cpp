#include "qev_scoreboard/platform/native_handle.hpp"

#include <unistd.h>

#include <cerrno>

#include "qev_scoreboard/platform/unix/system_calls.hpp"

namespace qev_scoreboard::platform {

void File::reset() noexcept {
    if (h_) sys::close(static_cast<int>(h_.value));
    h_ = {};
}

int File::close() noexcept {
    const int rc = sys::close(static_cast<int>(h_.value));
    h_ = {};
    return rc == 0 ? 0 : errno;
}

}  // namespace qev_scoreboard::platform

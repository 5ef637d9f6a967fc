#include "qev_scoreboard/platform/native_handle.hpp"

#include "qev_scoreboard/platform/win/system_error.hpp"
#include "qev_scoreboard/platform/win/windows.hpp"

namespace qev_scoreboard::platform {

namespace {

HANDLE handle(NativeHandle h) { return reinterpret_cast<HANDLE>(h.value); }

}  // namespace

void File::reset() noexcept {
    if (h_) ::CloseHandle(handle(h_));
    h_ = {};
}

int File::close() noexcept {
    const bool ok = ::CloseHandle(handle(h_)) != 0;
    h_ = {};
    return ok ? 0 : win::errno_from_win32(::GetLastError());
}

}  // namespace qev_scoreboard::platform

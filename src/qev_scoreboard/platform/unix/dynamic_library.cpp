#include "qev_scoreboard/platform/dynamic_library.hpp"

#include <dlfcn.h>

#include <stdexcept>

namespace qev_scoreboard::platform {

SharedLibrary SharedLibrary::open(const fs::path& file) {
    if (void* h = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) return SharedLibrary(h);
    const char* reason = ::dlerror();
    throw std::runtime_error(reason ? reason : file.string());
}

std::string SharedLibrary::file_name(std::string_view stem) {
#ifdef __APPLE__
    return "lib" + std::string(stem) + ".dylib";
#else
    return "lib" + std::string(stem) + ".so";
#endif
}

void* SharedLibrary::symbol(const char* name) const { return handle_ ? ::dlsym(handle_, name) : nullptr; }

void SharedLibrary::close() noexcept {
    if (handle_) ::dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace qev_scoreboard::platform

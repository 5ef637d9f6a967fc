#pragma once
// Shared libraries loaded at run time (dlopen, LoadLibraryExW).

#include <filesystem>
#include <string>
#include <string_view>

namespace qev_scoreboard::platform {

namespace fs = std::filesystem;

// A loaded library. It stays loaded until the process ends unless `close` is called: code and data it
// handed out may still be in use anywhere.
class SharedLibrary {
 public:
    SharedLibrary() = default;  // none loaded

    // Loads the library at `file` with its symbols kept to itself; a name without a directory is searched
    // for as the system searches for libraries. Throws std::runtime_error carrying the loader's reason.
    static SharedLibrary open(const fs::path& file);

    // The file name the system gives the library called `stem`: libduckdb.so, duckdb.dll, libduckdb.dylib.
    static std::string file_name(std::string_view stem);

    // The address of the symbol `name`, or nullptr when the library has none.
    void* symbol(const char* name) const;

    // Unloads the library now.
    void close() noexcept;

 private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;
};

}  // namespace qev_scoreboard::platform

#pragma once
// An open file or directory as the system names it, carried as a plain value: a descriptor on POSIX
// systems, a HANDLE on Windows. Code above this layer only passes it along, compares it with the invalid
// value, and has it closed through File.

#include <cstdint>

namespace qev_scoreboard::platform {

struct NativeHandle {
    std::intptr_t value = -1;  // -1 is never a valid descriptor nor a valid HANDLE of ours

    explicit operator bool() const { return value != -1; }
    friend bool operator==(NativeHandle, NativeHandle) = default;
};

// An owned handle, closed on every path out of its scope.
class File {
 public:
    File() = default;
    explicit File(NativeHandle h) : h_(h) {}
    File(File&& other) noexcept : h_(other.release()) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            reset();
            h_ = other.release();
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { reset(); }

    NativeHandle get() const { return h_; }
    explicit operator bool() const { return static_cast<bool>(h_); }
    NativeHandle release() {
        const NativeHandle h = h_;
        h_ = {};
        return h;
    }
    void reset() noexcept;
    // Closes now and returns 0 or the system's error (an errno value): a failed close can be the first
    // sign of a lost write.
    int close() noexcept;

 private:
    NativeHandle h_;
};

}  // namespace qev_scoreboard::platform

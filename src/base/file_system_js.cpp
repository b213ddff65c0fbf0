// The input's file calls in WebAssembly: the JavaScript package's own (js/module/imports.js),
// which read a real file in Node, or the caller's bytes anywhere.
#include <cstdint>

#include "base/file_system.hpp"

extern "C" {
// Defined by the package; each answers -1 where it fails, and none throws.
int kelvane_js_open_input(const char *path);
double kelvane_js_input_size(int handle);  // -1 unless a regular file (or bytes)
double kelvane_js_read_input(int handle, void *buffer, std::size_t size);
void kelvane_js_close_input(int handle);
}

namespace kelvane::fs {

int open_for_reading(const char *path) noexcept { return kelvane_js_open_input(path); }

bool regular_file_size(int fd, std::uint64_t &size) noexcept {
    const double known = kelvane_js_input_size(fd);
    if (known < 0) return false;
    size = std::uint64_t(known);
    return true;
}

long long read_some(int fd, void *buffer, std::size_t size) noexcept {
    return static_cast<long long>(kelvane_js_read_input(fd, buffer, size));
}

bool close(int fd) noexcept {
    kelvane_js_close_input(fd);
    return true;
}

std::uint64_t process_number() noexcept { return 0; }  // no temporary files are named here

}  // namespace kelvane::fs

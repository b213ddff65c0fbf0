// The output in WebAssembly: the whole file, once encoded, goes to the JavaScript package
// (js/module/imports.js), which writes it in Node as the native library writes a file, or hands
// the bytes to the caller.
#include "write/output_file.hpp"

extern "C" {
// Defined by the package: 1 when the file is in place, 0 when nothing was changed; never throws.
int kelvane_js_write_output(const char *path, const void *data, std::size_t size);
}

namespace kelvane {

bool write_output_file(const char *path, const void *data, std::size_t size) noexcept {
    return kelvane_js_write_output(path, data, size) == 1;
}

}  // namespace kelvane

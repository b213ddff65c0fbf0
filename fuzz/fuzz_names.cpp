// Fuzz target: the input is an output name. The format the library picks must follow the
// extension rules (the text after the last '.', jpg/jpeg/bmp in any ASCII case, else PNG), the
// file written under that name must hold that format, and a name that cannot be written must
// give the save failure message, cut at 511 characters, and no file.
#include <kelvane.h>
#include <stb_image_write.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "read/image_read.hpp"
#include "scratch.hpp"
#include "write/image_write.hpp"

namespace {

// The rules, stated plainly.
int expected_kind(const std::string &path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos) return 1;
    std::string ext = path.substr(dot + 1);
    for (char &ch : ext)
        if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
    return ext == "jpg" || ext == "jpeg" || ext == "bmp" ? 0 : 1;
}

const std::string &input_picture() {
    static const std::string in = [] {
        const std::uint8_t pixel[4] = {10, 20, 30, 128};
        const std::string p = Scratch::get().path("in.png");
        if (!stbi_write_png(p.c_str(), 1, 1, 4, pixel, 0)) fuzz_fail("cannot write the input");
        return p;
    }();
    return in;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string name(reinterpret_cast<const char *>(data), size);
    name = name.substr(0, name.find('\0'));
    if (kelvane::out_kind(name.c_str()) != expected_kind(name)) fuzz_fail("out_kind disagrees");

    // Written inside the scratch directory: a '/' would reach other directories.
    for (char &ch : name)
        if (ch == '/') ch = '_';
    const std::string out = Scratch::get().path(name);
    const Scratch &scratch = Scratch::get();
    const bool existed = scratch.exists(out);
    const int result = kelvane_solid(input_picture().c_str(), out.c_str(), 1, 0, 0, 0);
    const std::string message = kelvane_last_error();
    if (result == 1) {
        std::FILE *f = std::fopen(out.c_str(), "rb");
        unsigned char magic[2] = {0, 0};
        if (!f || std::fread(magic, 1, 2, f) != 2) fuzz_fail("a success without a file");
        std::fclose(f);
        const int kind = magic[0] == 0x89 ? 1 : 0;
        if (kind != expected_kind(out)) fuzz_fail("the file holds the wrong format");
        if (!existed) std::remove(out.c_str());
        return 0;
    }
    const std::string full =
        "failed to write '" + out + "': cannot encode '" + out + "' (check the extension)";
    if (message != full.substr(0, 511)) fuzz_fail("an unexpected message");
    if (!existed && scratch.exists(out)) fuzz_fail("a refusal left a file");
    return 0;
}

// Paths: which are taken as UTF-8 on Windows, and names in any script for inputs and outputs
// (on POSIX systems bytes as they come; on Windows through the wide API).
#include "base/file_system.hpp"

#include <kelvane.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "support/fixture.hpp"

using namespace kelvane_test;

namespace {

class file_system_test : public ScratchTest {
  protected:
    // The scratch path of a name given as UTF-8 (the folder's own path is ASCII).
    std::string utf8(const std::string &name) const { return dir_.string() + "/" + name; }
};

// The file system's name for a UTF-8 path, whatever the platform's narrow encoding.
std::filesystem::path native(const std::string &utf8_path) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t *>(utf8_path.data()), utf8_path.size()));
}

std::string contents(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(file_system_utf8_test, paths_are_utf8_when_well_formed_and_beyond_ascii) {
    const struct {
        const char *path;
        bool utf8;
    } cases[] = {
        {"plain/out.png", false},
        {"caf\xC3\xA9.png", true},
        {"\xCF\x86\xCF\x89\xCF\x84\xCE\xBF.png", true},  // Greek
        {"\xE5\x86\x99\xE7\x9C\x9F.jpg", true},          // CJK
        {"\xF0\x9F\x96\xBC.bmp", true},                  // emoji, four bytes
        {"\xF4\x8F\xBF\xBF", true},                      // U+10FFFF, the last code point
        {"caf\xE9.png", false},                          // Latin-1, as an ANSI code page has it
        {"\xC0\xAF", false},                             // overlong '/'
        {"\xE0\x80\xAF", false},                         // overlong, three bytes
        {"\xF0\x80\x80\xAF", false},                     // overlong, four bytes
        {"\xED\xA0\x80", false},                         // a surrogate
        {"\xF4\x90\x80\x80", false},                     // past U+10FFFF
        {"\xF5\x80\x80\x80", false},                     // no such lead byte
        {"\xE5\x86", false},                             // cut short
        {"\x80.png", false},                             // a continuation byte alone
        {"\xC3\xA9\xFF", false},                         // 0xFF never appears
    };
    for (const auto &c : cases)
        EXPECT_EQ(kelvane::fs::is_utf8_beyond_ascii(c.path), c.utf8) << c.path;
}

// Each name as input and output, written twice (a new file, then one replaced): the outputs are
// the bytes of the same job on ASCII names, under the names given and no other.
TEST_F(file_system_test, names_in_any_script_are_read_and_written) {
    const std::string ascii_in = in(noise_picture(7, 5, 9)), ascii_out = path("ascii.jpg");
    ASSERT_EQ(kelvane_shadow(ascii_in.c_str(), ascii_out.c_str(), 2, 3, 2, 1, 2, 3), 1);
    const std::string want = contents(ascii_out);
    const std::string names[] = {"Ünïcödé café", "φωτογραφία", "写真", "🖼️📷"};
    for (const std::string &name : names) {
        const std::string input = utf8(name + ".png"), output = utf8(name + " out.jpg");
        std::filesystem::copy_file(ascii_in, native(input));
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(kelvane_shadow(input.c_str(), output.c_str(), 2, 3, 2, 1, 2, 3), 1)
                << name << ": " << last_error();
            EXPECT_EQ(contents(native(output)), want) << name;
        }
        const std::string missing = utf8(name + " missing.png");
        EXPECT_EQ(kelvane_rounded(missing.c_str(), output.c_str(), 2), 0);
        EXPECT_EQ(last_error(), decode_failure(missing, "can't fopen"));
    }
    // The inputs and outputs and nothing else: no temporary file left, no name mangled.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}),
              std::ptrdiff_t(2 + 2 * std::size(names)));
}

// A name that is not UTF-8 goes to the system as bytes: on Windows, text in the ANSI code page.
TEST_F(file_system_test, names_that_are_not_utf8_pass_as_bytes) {
    const std::string picture = read_bytes(in(noise_picture(3, 2, 4)));
    const std::string input = dir_.string() + "/caf\xE9.png";
    std::FILE *file = std::fopen(input.c_str(), "wb");
    if (!file) GTEST_SKIP() << "the system's narrow encoding has no name 'caf\\xE9.png'";
    std::fwrite(picture.data(), 1, picture.size(), file);
    std::fclose(file);
    const std::string output = dir_.string() + "/caf\xE9 out.png";
    ASSERT_EQ(kelvane_solid(input.c_str(), output.c_str(), 1, 0, 0, 0), 1) << last_error();
    std::FILE *written = std::fopen(output.c_str(), "rb");
    EXPECT_NE(written, nullptr);
    if (written) std::fclose(written);
}

}  // namespace

// Shared test support: a scratch directory per test, pictures written and read back with stb.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/image.hpp"
#include "picture.hpp"

// Whether AddressSanitizer instruments this build (GCC says so one way, clang another).
#if defined(__SANITIZE_ADDRESS__)
#define KELVANE_TEST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVANE_TEST_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef KELVANE_TEST_ADDRESS_SANITIZER
#define KELVANE_TEST_ADDRESS_SANITIZER 0
#endif

namespace kelvane_test {

// Writes an RGBA PNG; fails the test if it cannot.
void write_png(const std::string &path, const Picture &picture);

// Writes `bytes` as the whole file.
void write_bytes(const std::string &path, const std::string &bytes);

// A w x h picture of pseudo-random samples (alpha included), the same for the same seed.
Picture noise_picture(int w, int h, unsigned seed);

// The library's message text.
std::string last_error();
// The message of a call whose output could not be written to `target`.
std::string save_failure(const std::string &target);
// The message of a call whose input the decoder refused for `reason`.
std::string decode_failure(const std::string &input, const std::string &reason);

// The library's picture as the tests hold it, and back: 4 samples a pixel either way.
Picture picture_of(const kelvane::Image &image);
kelvane::Image image_of(const Picture &picture);
// The file as the library decodes it; width 0 when the library refuses it.
Picture library_load(const std::string &path);

#ifndef _WIN32  // processes and limits as POSIX systems have them

// What a call made in a child process returned, and its message: for tests that change limits
// or identities of the process, or that must survive a call that does not return.
struct ChildResult {
    int result = -1;  // -1 when the child did not report
    std::string message;
};
ChildResult in_child(const std::function<int()> &call);

// Why the process's address space cannot be limited here, or "" where it can.
std::string address_limit_unavailable();
// Limits the process's address space, so that an allocation beyond it fails; does nothing where
// address_limit_unavailable() gives a reason.
void limit_address_space(std::size_t bytes);

// The same, started and finished apart, for children that run side by side.
struct Child {
    int pid = -1, report = -1;
};
Child start_child(const std::function<int()> &call);
bool child_running(const Child &child);
ChildResult finish_child(Child &child);

#endif

// Decodes any file stb reads; width 0 when it cannot.
Picture read_rgba(const std::string &path);

std::string read_bytes(const std::string &path);
bool exists(const std::string &path);

// Every pixel of `result` outside the picture's rectangle at (left, top) is `fill`; inside it the
// pixels are `picture`'s.
void expect_framed(const Picture &result, const Picture &picture, int left, int top,
                   const std::vector<std::uint8_t> &fill);

// The public test corpus (the build's KELVANE_TESTDATA), or "" when it is absent.
std::filesystem::path testdata_dir();
// Why the tests that need the corpus are skipped, naming where it was looked for.
std::string no_testdata_reason();

// Every test gets an empty directory of its own.
class ScratchTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A path inside the scratch directory.
    std::string path(const std::string &name) const;
    // Writes `picture` as in.png in the scratch directory and returns its path.
    std::string in(const Picture &picture, const std::string &name = "in.png") const;
    // Writes `bytes` as the scratch file `name` and returns its path.
    std::string file(const std::string &name, const std::string &bytes) const;
    std::string out(const std::string &name = "out.png") const { return path(name); }

    std::filesystem::path dir_;
};

}  // namespace kelvane_test

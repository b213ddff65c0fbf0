// Shared test support: a scratch directory per test, pictures written and read back with stb.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "picture.hpp"

namespace kelvane_test {

// Writes an RGBA PNG; fails the test if it cannot.
void write_png(const std::string &path, const Picture &picture);

// Decodes any file stb reads; width 0 when it cannot.
Picture read_rgba(const std::string &path);

std::string read_bytes(const std::string &path);
bool exists(const std::string &path);

// Every pixel of `result` outside the picture's rectangle at (left, top) is `fill`; inside it the
// pixels are `picture`'s.
void expect_framed(const Picture &result, const Picture &picture, int left, int top,
                   const std::vector<std::uint8_t> &fill);

// The public test corpus beside the project, or "" when this checkout has none.
std::filesystem::path testdata_dir();

// Every test gets an empty directory of its own.
class ScratchTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A path inside the scratch directory.
    std::string path(const std::string &name) const;
    // Writes `picture` as in.png in the scratch directory and returns its path.
    std::string in(const Picture &picture, const std::string &name = "in.png") const;
    std::string out(const std::string &name = "out.png") const { return path(name); }

    std::filesystem::path dir_;
};

}  // namespace kelvane_test

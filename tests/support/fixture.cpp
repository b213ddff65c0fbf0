#include "fixture.hpp"

#include <stb_image.h>
#include <stb_image_write.h>

#include <fstream>
#include <iterator>
#include <random>

namespace kelvane_test {

void write_png(const std::string &path, const Picture &picture) {
    ASSERT_EQ(picture.rgba.size(), std::size_t(picture.width) * picture.height * 4);
    ASSERT_NE(
        stbi_write_png(path.c_str(), picture.width, picture.height, 4, picture.rgba.data(), 0), 0)
        << path;
}

Picture read_rgba(const std::string &path) {
    Picture p;
    stbi_uc *data = stbi_load(path.c_str(), &p.width, &p.height, &p.channels, 4);
    if (!data) return Picture{};
    p.rgba.assign(data, data + std::size_t(p.width) * p.height * 4);
    stbi_image_free(data);
    return p;
}

std::string read_bytes(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool exists(const std::string &path) { return std::filesystem::exists(path); }

void expect_framed(const Picture &result, const Picture &picture, int left, int top,
                   const std::vector<std::uint8_t> &fill) {
    for (int y = 0; y < result.height; ++y)
        for (int x = 0; x < result.width; ++x) {
            const bool inside =
                x >= left && x < left + picture.width && y >= top && y < top + picture.height;
            ASSERT_EQ(result.at(x, y), inside ? picture.at(x - left, y - top) : fill)
                << "at " << x << "," << y;
        }
}

std::filesystem::path testdata_dir() {
    const char *env = std::getenv("KELVANE_TESTDATA");
    const std::filesystem::path dir = env ? env : KELVANE_TESTDATA_DIR;
    return std::filesystem::is_regular_file(dir / "expected-decode.tsv") ? dir : "";
}

void ScratchTest::SetUp() {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::random_device seed;
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("kelvane-") + info->test_suite_name() + "-" + info->name() + "-" +
            std::to_string(seed()));
    std::filesystem::create_directories(dir_);
}

void ScratchTest::TearDown() { std::filesystem::remove_all(dir_); }

std::string ScratchTest::path(const std::string &name) const { return (dir_ / name).string(); }

std::string ScratchTest::in(const Picture &picture, const std::string &name) const {
    const std::string p = path(name);
    write_png(p, picture);
    return p;
}

}  // namespace kelvane_test

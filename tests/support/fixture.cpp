#include "fixture.hpp"

#include <kelvane.h>
#include <stb_image.h>
#include <stb_image_write.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "read/image_read.hpp"

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

void write_bytes(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

Picture noise_picture(int w, int h, unsigned seed) {
    std::mt19937 random(seed);
    Picture p{w, h, 4, std::vector<std::uint8_t>(std::size_t(w) * std::size_t(h) * 4)};
    for (std::uint8_t &sample : p.rgba) sample = std::uint8_t(random());
    return p;
}

std::string last_error() { return kelvane_last_error(); }

std::string save_failure(const std::string &target) {
    return "failed to write '" + target + "': cannot encode '" + target + "' (check the extension)";
}

std::string decode_failure(const std::string &input, const std::string &reason) {
    return "cannot decode '" + input + "': " + reason;
}

Picture picture_of(const kelvane::Image &image) {
    const std::uint8_t *px = image.pixels.get();
    const std::size_t bytes = std::size_t(image.width) * std::size_t(image.height) * 4;
    return {image.width, image.height, image.channels, {px, px + bytes}};
}

kelvane::Image image_of(const Picture &picture) {
    kelvane::Image image;
    image.width = picture.width;
    image.height = picture.height;
    image.channels = 4;
    image.pixels = kelvane::alloc_pixels(picture.width, picture.height, 4);
    std::memcpy(image.pixels.get(), picture.rgba.data(), picture.rgba.size());
    return image;
}

Picture library_load(const std::string &path) {
    kelvane::Image image;
    return kelvane::load_image(path.c_str(), image) ? picture_of(image) : Picture{};
}

#ifndef _WIN32

std::string address_limit_unavailable() {
    const char *preload = std::getenv("LD_PRELOAD");
    if (KELVANE_TEST_ADDRESS_SANITIZER) return "AddressSanitizer reserves address space";
    if (preload && std::strstr(preload, "vgpreload")) return "valgrind reserves address space";
#ifdef KELVANE_TEST_EMULATOR
    return KELVANE_TEST_EMULATOR " ignores address-space limits";
#else
    return "";
#endif
}

void limit_address_space(std::size_t bytes) {
    if (!address_limit_unavailable().empty()) return;
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_AS, &limit);
}

Child start_child(const std::function<int()> &call) {
    int channel[2];
    if (pipe(channel) != 0) return {};
    std::fflush(nullptr);  // what the parent has buffered is written once, by the parent
    const pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        const int result = call();
        const std::string report = std::to_string(result) + " " + kelvane_last_error();
        (void)!write(channel[1], report.data(), report.size());
        _exit(0);
    }
    close(channel[1]);
    return {pid, channel[0]};
}

bool child_running(const Child &child) { return waitpid(child.pid, nullptr, WNOHANG) == 0; }

// The report is read whatever the child's exit status: under valgrind a child's leak report
// (of what it inherited) sets a status of its own.
ChildResult finish_child(Child &child) {
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = read(child.report, buffer, sizeof buffer)) > 0;)
        report.append(buffer, std::size_t(n));
    close(child.report);
    waitpid(child.pid, nullptr, 0);
    ChildResult r;
    const std::size_t space = report.find(' ');
    if (space == std::string::npos) return r;
    r.result = std::stoi(report.substr(0, space));
    r.message = report.substr(space + 1);
    return r;
}

ChildResult in_child(const std::function<int()> &call) {
    Child child = start_child(call);
    return finish_child(child);
}

#endif  // _WIN32

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
    const std::filesystem::path dir = KELVANE_TESTDATA_DIR;
    return std::filesystem::is_regular_file(dir / "expected-decode.tsv") ? dir : "";
}

std::string no_testdata_reason() {
    return "no test corpus at '" KELVANE_TESTDATA_DIR "' (configure with -DKELVANE_TESTDATA=DIR)";
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

std::string ScratchTest::file(const std::string &name, const std::string &bytes) const {
    const std::string p = path(name);
    write_bytes(p, bytes);
    return p;
}

std::string ScratchTest::in(const Picture &picture, const std::string &name) const {
    const std::string p = path(name);
    write_png(p, picture);
    return p;
}

}  // namespace kelvane_test

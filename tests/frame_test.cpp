// The operation frame: order of checks, the messages it passes on, save failures, init and
// cleanup.
#include <kelvane.h>

#include <string>

#include "support/fixture.hpp"

using namespace kelvane_test;

namespace {

class frame_test : public ScratchTest {};

TEST_F(frame_test, init_and_cleanup_empty_the_message) {
    EXPECT_EQ(kelvane_init(), 1);
    EXPECT_EQ(kelvane_init(), 1);
    EXPECT_EQ(kelvane_solid(nullptr, "x.png", 1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "NULL input or output path");
    EXPECT_EQ(kelvane_init(), 1);
    EXPECT_EQ(last_error(), "");
    EXPECT_EQ(kelvane_padding("x.png", nullptr, 1, 0, 0, 0), 0);
    kelvane_cleanup();
    EXPECT_EQ(last_error(), "");
}

TEST_F(frame_test, null_path_is_reported_before_the_numbers) {
    EXPECT_EQ(kelvane_solid(nullptr, out().c_str(), -1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "NULL input or output path");
    EXPECT_EQ(kelvane_padding(out().c_str(), nullptr, -5, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "NULL input or output path");
}

TEST_F(frame_test, numbers_are_checked_before_the_input_is_opened) {
    const std::string missing = path("missing.png");
    EXPECT_EQ(kelvane_solid(missing.c_str(), out().c_str(), -1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "border width must be >= 0 (got -1)");
    EXPECT_EQ(kelvane_padding(missing.c_str(), out().c_str(), INT_MIN, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "padding must be >= 0 (got -2147483648)");
    EXPECT_FALSE(exists(out()));
}

TEST_F(frame_test, loader_messages_arrive_unwrapped_and_no_output_is_created) {
    const std::string missing = path("missing.png");
    EXPECT_EQ(kelvane_solid(missing.c_str(), out().c_str(), 1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), decode_failure(missing, "can't fopen"));
    EXPECT_FALSE(exists(out()));
}

TEST_F(frame_test, success_after_failure_leaves_an_empty_message) {
    const std::string input = in(solid_picture(1, 1, {1, 2, 3, 4}));
    EXPECT_EQ(kelvane_solid(nullptr, nullptr, 0, 0, 0, 0), 0);
    EXPECT_EQ(kelvane_solid(input.c_str(), out().c_str(), 0, 0, 0, 0), 1);
    EXPECT_EQ(last_error(), "");
}

TEST_F(frame_test, save_failure_is_wrapped_with_the_output_path) {
    const std::string input = in(solid_picture(2, 2, {9, 9, 9, 255}));
    const std::string target = path("no-such-dir/out.png");
    EXPECT_EQ(kelvane_solid(input.c_str(), target.c_str(), 1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), save_failure(target));
}

TEST_F(frame_test, long_messages_are_cut_at_511_characters) {
    const std::string input = in(solid_picture(1, 1, {0, 0, 0, 255}));
    const std::string target = path("no-such-dir/" + std::string(600, 'n') + ".jpg");
    EXPECT_EQ(kelvane_padding(input.c_str(), target.c_str(), 1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), save_failure(target).substr(0, 511));
}

TEST_F(frame_test, output_may_replace_the_input) {
    const std::string file = in(solid_picture(2, 1, {5, 6, 7, 200}), "same.png");
    ASSERT_EQ(kelvane_solid(file.c_str(), file.c_str(), 1, 1, 2, 3), 1);
    const Picture result = read_rgba(file);
    EXPECT_EQ(result.width, 4);
    EXPECT_EQ(result.height, 3);
    EXPECT_EQ(result.at(1, 1), (std::vector<std::uint8_t>{5, 6, 7, 200}));
}

}  // namespace

// The message buffer: formatting from its own text and the 511-character cut.
#include "base/message.hpp"

#include <kelvane.h>

#include <string>

#include "support/fixture.hpp"

using namespace kelvane_test;

namespace {

TEST(message_test, set_err_formats_from_a_copy_of_its_own_text) {
    kelvane::set_err("first %d", 1);
    kelvane::set_err("again: %s, %s", kelvane::message_text(), kelvane::message_text());
    EXPECT_EQ(last_error(), "again: first 1, first 1");
    EXPECT_EQ(kelvane::fail("%s", std::string(1000, 'x').c_str()), 0);
    EXPECT_EQ(last_error(), std::string(511, 'x'));
    kelvane_cleanup();
}

}  // namespace

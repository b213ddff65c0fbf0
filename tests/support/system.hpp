// What the file tests need of the system as root: users of their own, mounts and a sysctl, each
// put back afterwards. Every helper says why it cannot be had instead of failing, so that a test
// skips cleanly where the platform lacks the facility (not root, no mount rights, no useradd).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "fixture.hpp"

namespace kelvane_test {

// An unprivileged account made for the tests by tests/support/test_users.sh, which CTest runs
// before and after the suites.
struct TestUser {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Why the test users cannot be had here, or "".
std::string test_users_unavailable();
// The first or second test user (index 0 or 1).
const TestUser &test_user(int index);

// Makes this (child) process `user`, with `user`'s group and the extra group `also_in` (or none
// when it is 0); false when it cannot.
bool become(const TestUser &user, gid_t also_in = 0);

// Runs `call` in a child process as `user`, with `user`'s group and the extra group `also_in`
// (or none when it is 0).
ChildResult as_user(const TestUser &user, const std::function<int()> &call, gid_t also_in = 0);

// Mounts a file system (mount(2)'s arguments; a bind mount's type is ignored, "none" will do);
// "" when it is mounted, else why not.
std::string mount_here(const std::string &source, const std::string &target, const char *type,
                       unsigned long flags, const std::string &options = "");
void unmount(const std::string &target);

// Sets a sysctl through /proc/sys for the life of this object, then puts the old value back.
class Sysctl {
  public:
    Sysctl(const std::string &name, const std::string &value);
    ~Sysctl();
    // Why it could not be set, or "".
    const std::string &unavailable() const { return why_; }

  private:
    std::string path_, old_, why_;
};

// The extended attribute `name` of `path`, or "<none>".
std::string attribute(const std::string &path, const char *name);

}  // namespace kelvane_test

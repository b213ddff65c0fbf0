#include "system.hpp"

#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace kelvane_test {
namespace {

TestUser users[2];

bool look_up_user(int index, const char *name) {
    const passwd *entry = getpwnam(name);
    if (!entry) return false;
    users[index] = {name, entry->pw_uid, entry->pw_gid};
    return true;
}

}  // namespace

std::string test_users_unavailable() {
    if (geteuid() != 0) return "calls as other users need root";
    if (!look_up_user(0, "kelvane-test-a") || !look_up_user(1, "kelvane-test-b"))
        return "no test users (CTest makes them; or run tests/support/test_users.sh add)";
    return "";
}

const TestUser &test_user(int index) { return users[index]; }

bool become(const TestUser &user, gid_t also_in) {
    const gid_t groups[2] = {user.gid, also_in};
    return setgroups(also_in ? 2 : 1, groups) == 0 &&
           setresgid(user.gid, user.gid, user.gid) == 0 &&
           setresuid(user.uid, user.uid, user.uid) == 0;
}

ChildResult as_user(const TestUser &user, const std::function<int()> &call, gid_t also_in) {
    return in_child([&] { return become(user, also_in) ? call() : -2; });
}

std::string mount_here(const std::string &source, const std::string &target, const char *type,
                       unsigned long flags, const std::string &options) {
    if (mount(source.c_str(), target.c_str(), type, flags,
              options.empty() ? nullptr : options.c_str()) == 0)
        return "";
    return "cannot mount " + source + " (" + type + "): " + std::strerror(errno);
}

void unmount(const std::string &target) { umount2(target.c_str(), MNT_DETACH); }

Sysctl::Sysctl(const std::string &name, const std::string &value) : path_("/proc/sys/" + name) {
    std::ifstream(path_) >> old_;
    if (old_.empty()) {
        why_ = "no " + path_;
        return;
    }
    std::ofstream out(path_);
    out << value;
    out.flush();
    if (!out) why_ = "cannot set " + path_;
}

Sysctl::~Sysctl() {
    if (!old_.empty()) std::ofstream(path_) << old_;
}

std::string attribute(const std::string &path, const char *name) {
    char value[4096];
    const ssize_t n = lgetxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? "<none>" : std::string(value, std::size_t(n));
}

}  // namespace kelvane_test

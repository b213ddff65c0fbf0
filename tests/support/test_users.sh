#!/bin/sh
# Makes (add) or removes (remove) the two unprivileged accounts that the file tests run calls
# as: kelvane-test-a and kelvane-test-b, each with a group of its own and no home. CTest runs it
# before and after the suites; without root it does nothing, and those tests report themselves
# skipped.
[ "$(id -u)" = 0 ] || exit 0
command -v useradd >/dev/null || exit 0
for user in kelvane-test-a kelvane-test-b; do
    case $1 in
        add) id "$user" >/dev/null 2>&1 ||
            useradd --no-create-home --user-group --shell /usr/sbin/nologin "$user" ;;
        remove) ! id "$user" >/dev/null 2>&1 || userdel "$user" ;;
    esac
done

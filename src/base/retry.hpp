// POSIX calls that a signal may interrupt (EINTR) are made again until they finish.
#pragma once

#include <cerrno>

namespace kelvane {

// The result of `call()`, made again while it fails with EINTR.
template <class Call>
auto retry(Call call) noexcept {
    auto result = call();
    while (result < 0 && errno == EINTR) result = call();
    return result;
}

}  // namespace kelvane

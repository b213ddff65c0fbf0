// The name a temporary file takes beside the output: private to the library by its prefix.
#pragma once

#include <cstdio>

#include "base/file_system.hpp"

namespace kelvane {

// The private name a temporary file has in the target's folder, if any.
struct TemporaryName {
    char text[32];
    void renew() noexcept {
        std::snprintf(text, sizeof text, ".kelvane-%016llx.tmp",
                      (unsigned long long)fs::unique_number());
    }
};

}  // namespace kelvane

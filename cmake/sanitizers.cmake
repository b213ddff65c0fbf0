# KELVANE_SANITIZE, e.g. "address,undefined", becomes an interface target that every target of
# the project links, so compile and link flags always travel together.
add_library(kelvane_sanitizers INTERFACE)
if(KELVANE_SANITIZE)
    target_compile_options(kelvane_sanitizers INTERFACE -fsanitize=${KELVANE_SANITIZE}
                           -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(kelvane_sanitizers INTERFACE -fsanitize=${KELVANE_SANITIZE})
endif()

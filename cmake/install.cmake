# Installs the shared library (with its SONAME links), the public header, the licence, a pkg-config file and a CMake package providing tarnwick::kelvane (the
# command-line host and its manual page install with the examples).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(kelvane_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tarnwick-kelvane)

set_target_properties(kelvane PROPERTIES EXPORT_NAME kelvane PUBLIC_HEADER include/kelvane.h)
target_include_directories(kelvane PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS kelvane EXPORT tarnwick-kelvane-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT tarnwick-kelvane-targets NAMESPACE tarnwick::
        FILE tarnwick-kelvaneTargets.cmake DESTINATION ${kelvane_cmake_dir})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tarnwick-kelvaneConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/tarnwick-kelvaneConfig.cmake
                              INSTALL_DESTINATION ${kelvane_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tarnwick-kelvaneConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tarnwick-kelvaneConfig.cmake
              ${PROJECT_BINARY_DIR}/tarnwick-kelvaneConfigVersion.cmake
        DESTINATION ${kelvane_cmake_dir})

# Relative to the .pc file's own folder, so that the installed tree can move.
file(RELATIVE_PATH kelvane_pc_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" kelvane_pc_to_prefix "${kelvane_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/tarnwick-kelvane.pc.in
               ${PROJECT_BINARY_DIR}/tarnwick-kelvane.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarnwick-kelvane.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/tarnwick-kelvane)

# The Python binding (python/kelvane): a copy in the build tree that finds the library just
# built, and an installed copy that finds the installed library, both through a _where.py
# written here, which records the library's folder (absolute in the build tree, relative to the
# package's own folder once installed).
include(GNUInstallDirs)

file(STRINGS ${PROJECT_SOURCE_DIR}/python/kelvane/_version.py kelvane_python_version
     REGEX "^__version__ = ")
if(NOT kelvane_python_version STREQUAL "__version__ = \"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "python/kelvane/_version.py says ${kelvane_python_version}; "
                        "include/kelvane.h says ${PROJECT_VERSION}")
endif()

set(kelvane_python_sources __init__.py _version.py _library.py _host.py _errors.py _job.py
                            _operations.py _jobs.py _runner.py distributed.py py.typed)
set(kelvane_python_build ${PROJECT_BINARY_DIR}/python/kelvane)
set(kelvane_python_copies "")
foreach(source IN LISTS kelvane_python_sources)
    add_custom_command(OUTPUT ${kelvane_python_build}/${source}
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different
                               ${PROJECT_SOURCE_DIR}/python/kelvane/${source}
                               ${kelvane_python_build}/${source}
                       DEPENDS ${PROJECT_SOURCE_DIR}/python/kelvane/${source})
    list(APPEND kelvane_python_copies ${kelvane_python_build}/${source})
endforeach()
# The operations' types, from the host layer's table (the library just built, loaded by Python:
# not where the build's programs cannot run here, or carry a sanitizer's runtime).
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_Interpreter_FOUND AND NOT CMAKE_CROSSCOMPILING AND NOT KELVANE_SANITIZE AND NOT EMSCRIPTEN)
    add_custom_command(OUTPUT ${kelvane_python_build}/_operations.pyi
                       COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/python/write_stubs.py
                               $<TARGET_FILE:kelvane_host> ${kelvane_python_build}/_operations.pyi
                       DEPENDS kelvane_host ${PROJECT_SOURCE_DIR}/python/write_stubs.py)
    list(APPEND kelvane_python_copies ${kelvane_python_build}/_operations.pyi)
    set(kelvane_python_stubs ${kelvane_python_build}/_operations.pyi)
endif()
add_custom_target(kelvane_python ALL DEPENDS ${kelvane_python_copies})
file(GENERATE OUTPUT ${kelvane_python_build}/_where.py
     CONTENT "# Written by the build: the folder of the library this package loads.\nLIBRARY_DIRS = [\"$<TARGET_FILE_DIR:kelvane>\"]\n")

if(KELVANE_INSTALL)
    set(kelvane_python_destination ${CMAKE_INSTALL_DATADIR}/tarnwick-kelvane/python/kelvane)
    set(kelvane_library_destination ${CMAKE_INSTALL_LIBDIR})
    if(WIN32)
        set(kelvane_library_destination ${CMAKE_INSTALL_BINDIR})
    endif()
    file(RELATIVE_PATH kelvane_python_to_library /${kelvane_python_destination}
         /${kelvane_library_destination})
    file(WRITE ${PROJECT_BINARY_DIR}/python-install/_where.py
         "# Written by the installation: the library's folder, relative to this package's.\nLIBRARY_DIRS = [\"${kelvane_python_to_library}\"]\n")
    foreach(source IN LISTS kelvane_python_sources)
        install(FILES ${PROJECT_SOURCE_DIR}/python/kelvane/${source}
                DESTINATION ${kelvane_python_destination})
    endforeach()
    install(FILES ${PROJECT_BINARY_DIR}/python-install/_where.py ${kelvane_python_stubs}
            DESTINATION ${kelvane_python_destination})
endif()

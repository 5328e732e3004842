# The "all" preset's build folder holds no program, only tests: each other
# preset's own workflow (configure, build, test), the newest MinGW-w64's
# build, and the lint checks (label lint). `cmake --workflow --preset all`,
# which tools/test runs, goes on past a failure, and ctest's summary names
# every one that failed; `ctest --preset all -R NAME` runs one again. One at
# a time: the end-to-end suites hold X servers and Wine prefixes.
enable_testing()
set(source ${PROJECT_SOURCE_DIR})
find_program(python python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)  # Debian's, with Debian's pyflakes

# The lint checks read the sources as they are; findings fail them, named in their output.
file(GLOB_RECURSE cxx_sources RELATIVE ${source} ${source}/app/* ${source}/taskbar/* ${source}/tray/*
     ${source}/platform/* ${source}/check/* ${source}/hardening/* ${source}/tests/*.cpp ${source}/tests/*.h)
list(FILTER cxx_sources INCLUDE REGEX "\\.(cpp|h)$")
file(GLOB_RECURSE python_sources RELATIVE ${source} ${source}/tools/*.py ${source}/tests/*.py)
# Shell scripts: *.sh, and the files that start as bash scripts do.
file(GLOB_RECURSE candidates RELATIVE ${source} ${source}/tools/* ${source}/tests/* ${source}/res/* ${source}/.ci/*)
set(shell_scripts)
foreach(file IN LISTS candidates)
    file(STRINGS ${source}/${file} first LIMIT_COUNT 1)
    if(file MATCHES "\\.sh$" OR first MATCHES "^#!/usr/bin/env bash")
        list(APPEND shell_scripts ${file})
    endif()
endforeach()
file(GLOB workflows RELATIVE ${source} ${source}/.github/workflows/*.yml)
file(GLOB product RELATIVE ${source} ${source}/app/*.cpp ${source}/taskbar/*.cpp ${source}/tray/*.cpp)
file(GLOB check RELATIVE ${source} ${source}/check/*.cpp ${source}/hardening/*.cpp)

# clang-tidy reads each file as its build compiles it: configured here, so that it needs no build.
add_test(NAME lint-configure COMMAND sh -c "cmake --preset native >/dev/null && cmake --preset windows >/dev/null"
         WORKING_DIRECTORY ${source})
set_tests_properties(lint-configure PROPERTIES FIXTURES_SETUP compile_commands)
add_test(NAME clang-tidy COMMAND clang-tidy --quiet -p build/native ${product} WORKING_DIRECTORY ${source})
add_test(NAME clang-tidy-check COMMAND clang-tidy --quiet -p build/windows ${check} WORKING_DIRECTORY ${source})
set_tests_properties(clang-tidy clang-tidy-check PROPERTIES FIXTURES_REQUIRED compile_commands)

add_test(NAME clang-format COMMAND clang-format --dry-run --Werror ${cxx_sources} WORKING_DIRECTORY ${source})
set(cppcheck cppcheck --enable=warning,style,performance,portability --std=c++17 --inline-suppr --error-exitcode=1
    --quiet -I .)
add_test(NAME cppcheck COMMAND ${cppcheck} app taskbar tray WORKING_DIRECTORY ${source})
add_test(NAME cppcheck-check COMMAND ${cppcheck} -D_WIN32 check hardening WORKING_DIRECTORY ${source})
add_test(NAME pyflakes COMMAND ${python} -m pyflakes ${python_sources} WORKING_DIRECTORY ${source})
add_test(NAME shellcheck COMMAND shellcheck ${shell_scripts} WORKING_DIRECTORY ${source})
# Each workflow must be one that GitHub's own parser accepts, and the check
# must refuse one that GitHub refuses.
add_test(NAME workflows COMMAND tools/lib/check-workflows ${workflows} WORKING_DIRECTORY ${source})
add_test(NAME workflows-refuse COMMAND tools/lib/check-workflows tests/workflows/rejected.yml
         WORKING_DIRECTORY ${source})
set_tests_properties(workflows-refuse PROPERTIES
                     PASS_REGULAR_EXPRESSION "not a valid workflow: tests/workflows/rejected.yml")
set_tests_properties(lint-configure clang-tidy clang-tidy-check clang-format cppcheck cppcheck-check pyflakes
                     shellcheck workflows workflows-refuse PROPERTIES LABELS lint)

foreach(preset native native-asan windows windows-gcc)
    add_test(NAME ${preset} COMMAND ${CMAKE_COMMAND} --workflow --preset ${preset} WORKING_DIRECTORY ${source})
    set_tests_properties(${preset} PROPERTIES LABELS build TIMEOUT 1800)
endforeach()
set_tests_properties(windows PROPERTIES TIMEOUT 4500)
# Both exes with Debian 13's GCC 14 and mingw-w64 12, whose headers define more of Windows' names.
add_test(NAME newest-mingw COMMAND tools/lib/newest-mingw WORKING_DIRECTORY ${source})
set_tests_properties(newest-mingw PROPERTIES LABELS build TIMEOUT 1800)

# GoogleTest built from Debian's sources, so the same version serves gcc, the sanitizers and MinGW.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# The command that runs a GoogleTest program as a ctest test: through Wine for the Windows
# builds, and failed when the program ends before its tests do, even with code 0.
function(px_gtest_command out program)
    set(${out} ${PROJECT_SOURCE_DIR}/scripts/run-gtest-program.sh
        ${CMAKE_CROSSCOMPILING_EMULATOR} ${program} --gtest_brief=1 ${ARGN} PARENT_SCOPE)
endfunction()

# One ctest test per test program: under Wine every process start costs a second or more.
function(px_add_test_program name)
    add_executable(${name} ${ARGN})
    px_warnings(${name})
    # Shared test helpers are included from the top, as "tests/...".
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
    px_gtest_command(command $<TARGET_FILE:${name}>)
    add_test(NAME ${name} COMMAND ${command})
endfunction()

# GoogleTest built from Debian's sources, so the same version serves gcc, the sanitizers and MinGW.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# One ctest test per test program: under Wine every process start costs a second or more.
function(px_add_test_program name)
    add_executable(${name} ${ARGN})
    px_warnings(${name})
    target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
endfunction()

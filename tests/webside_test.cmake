# Network test programs: like px_add_test_program, but the one ctest test runs inside
# tests/run_with_webside.sh with a served folder of its own under the build tree.
# Windows programs go through wine64 by name because ctest does not apply the
# cross-compiling emulator when the command is a script.
function(px_add_webside_test_program name)
    add_executable(${name} ${ARGN})
    px_warnings(${name})
    target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
    if(WIN32)
        set(runner /usr/lib/wine/wine64)
    else()
        set(runner)
    endif()
    add_test(NAME ${name}
        COMMAND ${PROJECT_SOURCE_DIR}/tests/run_with_webside.sh
            ${CMAKE_CURRENT_BINARY_DIR}/webside-${name} --
            ${runner} $<TARGET_FILE:${name}> --gtest_brief=1)
endfunction()

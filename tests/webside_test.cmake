# Network test programs: like px_add_test_program, but the one ctest test runs inside
# tests/run_with_webside.sh with a served folder of its own under the build tree, the
# program run as px_gtest_command runs it.
#
# With TLS first (Windows builds only; natively it is ignored), the stand-in also serves
# its TLS ports and the test authority is trusted in the prefix for the program's run.
function(px_add_webside_test_program name)
    cmake_parse_arguments(PARSE_ARGV 1 webside "TLS" "" "")
    add_executable(${name} ${webside_UNPARSED_ARGUMENTS})
    px_warnings(${name})
    target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
    set(prefix)
    set(tls)
    if(WIN32)
        if(webside_TLS)
            set(prefix ${CMAKE_COMMAND} -E env PX_TRUST_AUTHORITY=$<TARGET_FILE:trust_authority>)
            set(tls --tls)
            add_dependencies(${name} trust_authority)
            target_compile_definitions(${name} PRIVATE PX_TEST_WITH_TLS=1)
        endif()
    endif()
    px_gtest_command(command $<TARGET_FILE:${name}>)
    add_test(NAME ${name}
        COMMAND ${prefix} ${PROJECT_SOURCE_DIR}/tests/run_with_webside.sh ${tls}
            ${CMAKE_CURRENT_BINARY_DIR}/webside-${name} -- ${command})
endfunction()

# px_minizip: zip writing for upload packages. Natively Debian's libminizip; for MinGW the
# three minizip sources from zlib's source package (fetched by scripts/setup.sh, not
# committed) built as a static library over the static MinGW zlib.
if(WIN32)
    set(PX_MINIZIP_DIR ${PROJECT_SOURCE_DIR}/build/third_party/minizip)
    if(NOT EXISTS ${PX_MINIZIP_DIR}/zip.c)
        message(FATAL_ERROR "minizip sources missing: run scripts/setup.sh")
    endif()
    find_library(PX_ZLIB_STATIC NAMES libz.a REQUIRED)
    add_library(px_minizip STATIC
        ${PX_MINIZIP_DIR}/zip.c ${PX_MINIZIP_DIR}/ioapi.c ${PX_MINIZIP_DIR}/iowin32.c)
    target_include_directories(px_minizip SYSTEM PUBLIC ${PX_MINIZIP_DIR})
    target_compile_options(px_minizip PRIVATE -w)
    target_link_libraries(px_minizip PUBLIC ${PX_ZLIB_STATIC})
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
    add_library(px_minizip INTERFACE)
    target_link_libraries(px_minizip INTERFACE PkgConfig::MINIZIP)
endif()

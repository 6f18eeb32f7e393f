# Flags shared by every target: sanitizers natively, a static runtime on Windows.
if(PX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
    # Windows XP-era ANSI interfaces; the program speaks the system code page.
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
    # A built .exe or .dll must need nothing but system DLLs.
    add_link_options(-static -static-libgcc -static-libstdc++)
endif()

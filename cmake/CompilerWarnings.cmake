# Warnings as errors for the project's own targets; third-party code gets its own flags.
function(px_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
        -Wnon-virtual-dtor -Woverloaded-virtual -Wformat=2 -Werror)
endfunction()

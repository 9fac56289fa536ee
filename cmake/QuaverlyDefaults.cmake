# Warnings and the optional sanitizers, applied to the project's own targets only (never to Qt or
# the system libraries).

# Warnings stop the build only where we ask for it (the test command and CI): a user's or a
# packager's build must not stop on a new compiler's new (or false) warning.
option(QUAVERLY_WERROR "Treat compiler warnings as errors" OFF)

function(quaverly_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
    if(QUAVERLY_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(QUAVERLY_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                                 -fno-sanitize-recover=undefined
                                                 -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
endfunction()

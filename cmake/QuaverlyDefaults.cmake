# Warnings and the optional sanitizers, applied to the project's own targets only (never to Qt or
# the system libraries).

# Warnings stop the build only where we ask for it (the test command and CI): a user's or a
# packager's build must not stop on a new compiler's new (or false) warning.
option(QUAVERLY_WERROR "Treat compiler warnings as errors" OFF)

# QUAVERLY_SANITIZE: OFF; ON or "address" for AddressSanitizer with UndefinedBehaviorSanitizer;
# "thread" for ThreadSanitizer (which cannot be combined with AddressSanitizer).
set_property(CACHE QUAVERLY_SANITIZE PROPERTY TYPE STRING)
set_property(CACHE QUAVERLY_SANITIZE PROPERTY HELPSTRING
             "Sanitizers: OFF, ON or address (AddressSanitizer and UBSan), thread (ThreadSanitizer)")
set_property(CACHE QUAVERLY_SANITIZE PROPERTY STRINGS OFF address thread)
string(TOLOWER "${QUAVERLY_SANITIZE}" _quaverly_sanitize)
if(_quaverly_sanitize STREQUAL "thread")
    set(QUAVERLY_SANITIZER_COMPILE -fsanitize=thread)
    set(QUAVERLY_SANITIZER_LINK -fsanitize=thread)
elseif(_quaverly_sanitize MATCHES "^(address|on|yes|y|true|1)$")
    set(QUAVERLY_SANITIZER_COMPILE -fsanitize=address,undefined -fno-sanitize-recover=undefined)
    set(QUAVERLY_SANITIZER_LINK -fsanitize=address,undefined)
elseif(NOT QUAVERLY_SANITIZE)
    set(QUAVERLY_SANITIZER_COMPILE "")
    set(QUAVERLY_SANITIZER_LINK "")
else()
    message(FATAL_ERROR "QUAVERLY_SANITIZE=${QUAVERLY_SANITIZE}: use OFF, address or thread")
endif()
unset(_quaverly_sanitize)

# The fuzz build: the project's code carries libFuzzer's coverage hooks and both sanitizers
# (the fuzz targets themselves link libFuzzer, see fuzz/CMakeLists.txt). Undefined behaviour
# stops the run, so that the fuzzer reports it as a crash.
if(QUAVERLY_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "QUAVERLY_FUZZ needs clang: -DCMAKE_CXX_COMPILER=clang++")
    endif()
    if(QUAVERLY_SANITIZER_COMPILE)
        message(FATAL_ERROR "QUAVERLY_FUZZ brings its own sanitizers: leave QUAVERLY_SANITIZE OFF")
    endif()
    set(QUAVERLY_SANITIZER_COMPILE -fsanitize=fuzzer-no-link,address,undefined
                                   -fno-sanitize-recover=all)
    set(QUAVERLY_SANITIZER_LINK -fsanitize=address,undefined)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/Precompiled.cmake)

function(quaverly_defaults target)
    quaverly_precompile(${target})
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
    if(QUAVERLY_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(QUAVERLY_SANITIZER_COMPILE)
        target_compile_options(${target} PRIVATE ${QUAVERLY_SANITIZER_COMPILE}
                                                 -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE ${QUAVERLY_SANITIZER_LINK})
    endif()
endfunction()

# Adds to `target` the units named, as paths below the calling folder without their ending: each
# unit's header and source, whichever of the two it has.
function(quaverly_units target)
    foreach(unit ${ARGN})
        foreach(file ${unit}.h ${unit}.cpp)
            if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${file})
                target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${file})
            endif()
        endforeach()
    endforeach()
endfunction()

# A subsystem's widget library: `target` from the UNITS named (as for quaverly_units), with the
# project's defaults and Qt's meta-object compiler, built on the shared widgets, Qt Widgets and
# what LINK names.
function(quaverly_widgets target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "UNITS;LINK")
    add_library(${target} STATIC)
    quaverly_units(${target} ${arg_UNITS})
    quaverly_defaults(${target})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${arg_LINK} quaverly_ui Qt6::Widgets)
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
endfunction()

# Fails the build when a file includes a header its layer may not reach (cmake -P, with ROOT set
# to the source tree):
#  - a header under an `internal/` folder of the sound core belongs to the core: only files in
#    src/engines include it; the subsystems, the window, the command line, the tests, the
#    benchmarks and the fuzz targets go through the public headers beside those folders;
#  - the arrows between the folders of src/ point one way: engines -> ui -> the subsystems
#    (convert, songlist, editor, recorder) -> app; the command line sits beside app on the
#    subsystems' cores. No subsystem includes another subsystem.
# Only the project's own quoted includes ("folder/File.h") are looked at.
# It also refuses std::stop_callback and std::condition_variable_any (whose stop-token waits use
# one): with MinGW's libstdc++ 12, a stop callback destroyed while another thread runs it can wait
# for ever, so Windows builds would hang now and then. Stop tokens are looked at instead.

if(NOT ROOT)
    message(FATAL_ERROR "CheckLayers.cmake: set ROOT to the source tree")
endif()

# What each folder of src/ may include, besides its own folder.
set(allowed_engines "engines")
set(allowed_ui "engines")
set(allowed_convert "engines|ui")
set(allowed_songlist "engines|ui")
set(allowed_editor "engines|ui")
set(allowed_recorder "engines|ui")
set(allowed_cli "engines|convert|songlist|editor|recorder")
set(allowed_app "engines|ui|convert|songlist|editor|recorder")

set(violations "")
file(GLOB_RECURSE files RELATIVE "${ROOT}"
     "${ROOT}/src/*.h" "${ROOT}/src/*.cpp" "${ROOT}/tests/*.h" "${ROOT}/tests/*.cpp"
     "${ROOT}/bench/*.h" "${ROOT}/bench/*.cpp" "${ROOT}/fuzz/*.h" "${ROOT}/fuzz/*.cpp")
foreach(file IN LISTS files)
    file(STRINGS "${ROOT}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+\"")
    string(REGEX MATCH "^src/([^/]+)/" in_src "${file}")
    set(layer "${CMAKE_MATCH_1}")
    file(STRINGS "${ROOT}/${file}" hangs
         REGEX "^[ \t]*[^/ \t].*std::(stop_callback|condition_variable_any)")
    if(hangs)
        list(APPEND violations "${file}: std::stop_callback or std::condition_variable_any")
    endif()
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" header "${line}")
        if(header MATCHES "^engines/.*/internal/" AND NOT layer STREQUAL "engines")
            list(APPEND violations "${file}: ${header} is the sound core's own")
        endif()
        if(in_src AND header MATCHES "^([a-z]+)/")
            set(target "${CMAKE_MATCH_1}")
            if(NOT target STREQUAL layer AND DEFINED allowed_${layer}
               AND NOT target MATCHES "^(${allowed_${layer}})$")
                list(APPEND violations "${file}: ${layer}/ may not include ${header}")
            endif()
        endif()
    endforeach()
endforeach()

if(violations)
    list(JOIN violations "\n  " text)
    message(FATAL_ERROR "Refused by the layer check:\n  ${text}")
endif()

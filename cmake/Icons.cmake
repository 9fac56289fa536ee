# The program's icons. They are SVG resources, drawn by Qt's SVG icon engine; where Qt has no SVG
# support (the Windows build), each SVG is rendered at build time to PNGs at one, two and three
# times the size it is shown at, and those are the resources. ui/Icons.h loads either kind.

if(WIN32)
    set(_png_icons_default ON)
else()
    set(_png_icons_default OFF)
endif()
option(QUAVERLY_PNG_ICONS "Ship the icons as PNGs rendered from their SVGs (for a Qt without SVG)"
       ${_png_icons_default})
unset(_png_icons_default)
if(QUAVERLY_PNG_ICONS)
    find_program(QUAVERLY_RSVG_CONVERT rsvg-convert REQUIRED)
endif()

# quaverly_add_icons(TARGET NAME name PREFIX /prefix BASE dir SIZE px FILES a.svg ...)
# Adds the SVGs to TARGET as the resource NAME under PREFIX, named by their paths below BASE, as
# qt_add_resources does. With QUAVERLY_PNG_ICONS each a.svg becomes a.png, a@2x.png and a@3x.png
# instead, rendered at SIZE, 2 SIZE and 3 SIZE pixels square (SIZE: the size the icons are shown
# at); an edited SVG is rendered again.
function(quaverly_add_icons target)
    cmake_parse_arguments(PARSE_ARGV 1 I "" "NAME;PREFIX;BASE;SIZE" "FILES")
    if(NOT I_NAME OR NOT I_PREFIX OR NOT I_BASE OR NOT I_SIZE OR NOT I_FILES)
        message(FATAL_ERROR "quaverly_add_icons: NAME, PREFIX, BASE, SIZE and FILES are needed")
    endif()
    if(NOT QUAVERLY_PNG_ICONS)
        qt_add_resources(${target} ${I_NAME} PREFIX ${I_PREFIX} BASE ${I_BASE} FILES ${I_FILES})
        return()
    endif()
    get_filename_component(base ${I_BASE} ABSOLUTE)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${I_NAME}_png)
    set(pngs "")
    foreach(svg IN LISTS I_FILES)
        get_filename_component(svg ${svg} ABSOLUTE)
        file(RELATIVE_PATH name ${base} ${svg})
        string(REGEX REPLACE "\\.svg$" "" name ${name})
        get_filename_component(dir ${out}/${name} DIRECTORY)
        foreach(scale 1 2 3)
            math(EXPR px "${I_SIZE} * ${scale}")
            if(scale EQUAL 1)
                set(png ${out}/${name}.png)
            else()
                set(png ${out}/${name}@${scale}x.png)
            endif()
            add_custom_command(OUTPUT ${png}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                COMMAND ${QUAVERLY_RSVG_CONVERT} --width ${px} --height ${px} --output ${png} ${svg}
                DEPENDS ${svg}
                COMMENT "Rendering ${name} at ${px} px"
                VERBATIM)
            list(APPEND pngs ${png})
        endforeach()
    endforeach()
    qt_add_resources(${target} ${I_NAME} PREFIX ${I_PREFIX} BASE ${out} FILES ${pngs})
endfunction()

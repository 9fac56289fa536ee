# Windows: the programs' resources (icon, version information) and the packages that CPack makes
# (scripts/windows/package.sh): the installer Quaverly-VERSION-win64.exe (NSIS,
# packaging/windows/NSIS.template.in) and the portable Quaverly-VERSION-win64.zip. Both hold one
# folder: quaverly.exe, quaverly-cli.exe, the modules, every DLL these need and Qt's plugins.
# cmake/Packaging.cmake holds the names, version, licence and addresses both platforms share.
#
# The DLLs are looked for in Qt's bin folder, QUAVERLY_WINDOWS_DLL_DIRS (the audio libraries'
# bin folder, say), the bin folders of CMAKE_PREFIX_PATH and CMAKE_FIND_ROOT_PATH, and MinGW's
# run-time folders (asked of the compiler).

enable_language(RC)
set(QUAVERLY_WINDOWS_DLL_DIRS "" CACHE STRING
    "Folders with DLLs the programs need, besides Qt's and MinGW's (a list)")
# The modules the programs load at run time: installed with them, their DLLs too.
set(QUAVERLY_WINDOWS_MODULES quaverly_ffmpeg CACHE STRING
    "Module targets whose DLLs the packages carry (a list)")

set(_win_src ${PROJECT_SOURCE_DIR}/packaging/windows)
set(_win_out ${PROJECT_BINARY_DIR}/packaging/windows)

# The maker's name, as the window shows it (kMakerName): the programs' CompanyName and the
# installation's Publisher.
set(_maker_file ${PROJECT_SOURCE_DIR}/src/app/Frmmain.h)
file(STRINGS ${_maker_file} _maker REGEX "kMakerName\\[\\] = \"[^\"]+\"")
string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" QUAVERLY_MAKER "${_maker}")
if(NOT QUAVERLY_MAKER)
    message(FATAL_ERROR "kMakerName not found in ${_maker_file}")
endif()
set(QUAVERLY_LEGAL_COPYRIGHT
    "Copyright (C) ${QUAVERLY_COPYRIGHT_YEARS} ${QUAVERLY_COPYRIGHT_HOLDER}")

# The programs' icon: the logo at the sizes Windows shows (16 to 48 px in lists and the taskbar,
# 256 px in Explorer's large views), packed into one .ico file.
find_program(QUAVERLY_RSVG_CONVERT rsvg-convert REQUIRED)
set(_logo ${PROJECT_SOURCE_DIR}/src/app/icons/logo.svg)
set(_ico ${_win_out}/quaverly.ico)
set(_ico_pngs "")
foreach(_px 16 24 32 48 64 256)
    add_custom_command(OUTPUT ${_win_out}/logo-${_px}.png
        COMMAND ${QUAVERLY_RSVG_CONVERT} --width ${_px} --height ${_px}
                --output ${_win_out}/logo-${_px}.png ${_logo}
        DEPENDS ${_logo}
        VERBATIM)
    list(APPEND _ico_pngs ${_win_out}/logo-${_px}.png)
endforeach()
add_custom_command(OUTPUT ${_ico}
    COMMAND bash ${_win_src}/make-ico.sh ${_ico} ${_ico_pngs}
    DEPENDS ${_ico_pngs} ${_win_src}/make-ico.sh
    COMMENT "Making the programs' icon"
    VERBATIM)
add_custom_target(quaverly_windows_icon DEPENDS ${_ico})

# Each program's resources: the icon and its version information. The window's program is a GUI
# program (no console window opens with it); the command line's is a console program.
set(QUAVERLY_RC_ICON ${_ico})
foreach(_program quaverly quaverly-cli)
    set(QUAVERLY_RC_NAME ${_program})
    if(_program STREQUAL quaverly)
        set(QUAVERLY_RC_DESCRIPTION "Quaverly")
        set_target_properties(${_program} PROPERTIES WIN32_EXECUTABLE ON)
    else()
        set(QUAVERLY_RC_DESCRIPTION "Quaverly command line")
    endif()
    configure_file(${_win_src}/quaverly.rc.in ${_win_out}/${_program}.rc @ONLY)
    target_sources(${_program} PRIVATE ${_win_out}/${_program}.rc)
    set_source_files_properties(${_win_out}/${_program}.rc TARGET_DIRECTORY ${_program}
                                PROPERTIES OBJECT_DEPENDS ${_ico})
    add_dependencies(${_program} quaverly_windows_icon)
endforeach()

# Where the DLLs are found.
set(_dll_dirs ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS} ${QUAVERLY_WINDOWS_DLL_DIRS} ${QUAVERLY_WIN_RUNTIME_DIRS})
foreach(_prefix IN LISTS CMAKE_PREFIX_PATH CMAKE_FIND_ROOT_PATH)
    if(IS_DIRECTORY ${_prefix}/bin)
        list(APPEND _dll_dirs ${_prefix}/bin)
    endif()
endforeach()
foreach(_runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_runtime}
                    OUTPUT_VARIABLE _found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${_found}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${_runtime} is")
    endif()
    cmake_path(GET _found PARENT_PATH _found)
    cmake_path(NORMAL_PATH _found)
    list(APPEND _dll_dirs ${_found})
endforeach()
list(REMOVE_DUPLICATES _dll_dirs)
# Windows' own DLLs are not carried: MinGW-w64 links the programs against them through its import
# libraries, lib<name>.a in the folder beside its run-time DLLs' (x86_64-w64-mingw32/lib).
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libkernel32.a
                OUTPUT_VARIABLE _import_libs OUTPUT_STRIP_TRAILING_WHITESPACE)
cmake_path(GET _import_libs PARENT_PATH _import_libs)
cmake_path(NORMAL_PATH _import_libs)

# Qt's plugins: the Windows platform (offscreen and minimal too, for tests and CI), the Windows
# style and every image format there is. Qt finds them in these folders beside the program.
set(_qt_plugins ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS})
set(_plugin_files "")
foreach(_plugin platforms/qwindows.dll platforms/qoffscreen.dll platforms/qminimal.dll
                styles/qwindowsvistastyle.dll)
    if(NOT EXISTS ${_qt_plugins}/${_plugin})
        message(FATAL_ERROR "Qt's plugin ${_plugin} is not in ${_qt_plugins}")
    endif()
    list(APPEND _plugin_files ${_qt_plugins}/${_plugin})
endforeach()
file(GLOB _image_formats ${_qt_plugins}/imageformats/*.dll)
list(APPEND _plugin_files ${_image_formats})
foreach(_plugin IN LISTS _plugin_files)
    cmake_path(GET _plugin PARENT_PATH _kind)
    cmake_path(GET _kind FILENAME _kind)
    install(FILES ${_plugin} DESTINATION ${CMAKE_INSTALL_BINDIR}/${_kind})
endforeach()

# Every DLL the programs, their modules and the plugins need, beside the programs; found when
# installing, from the import tables of the built files.
set(_modules "")
foreach(_module IN LISTS QUAVERLY_WINDOWS_MODULES)
    list(APPEND _modules $<TARGET_FILE:${_module}>)
endforeach()
install(CODE "
set(QUAVERLY_DLL_EXECUTABLES \"$<TARGET_FILE:quaverly>;$<TARGET_FILE:quaverly-cli>\")
set(QUAVERLY_DLL_MODULES \"${_modules};${_plugin_files}\")
set(QUAVERLY_DLL_DIRS \"${_dll_dirs}\")
set(QUAVERLY_DLL_IMPORT_LIBS \"${_import_libs}\")
set(QUAVERLY_DLL_INDEX \"${_win_out}/dll-index\")
set(QUAVERLY_DLL_DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
set(QUAVERLY_DLL_OBJDUMP \"${CMAKE_OBJDUMP}\")
set(QUAVERLY_DLL_STRIP \"${CMAKE_STRIP}\")
include(\"${CMAKE_CURRENT_LIST_DIR}/WindowsDlls.cmake\")
")

# The installer's names, version and the extensions it lists under "Open with": the patterns of
# the kinds read, from the one table of formats.
set(_kinds_table ${PROJECT_SOURCE_DIR}/src/engines/formats/Formats.cpp)
file(STRINGS ${_kinds_table} _patterns
     REGEX "\\.patterns = \"[^\"]+\"")
list(TRANSFORM _patterns REPLACE ".*\\.patterns = \"([^\"]+)\".*" "\\1")
string(REPLACE " " ";" _patterns "${_patterns}")
set(_extensions "")
foreach(_pattern IN LISTS _patterns)
    if(NOT _pattern MATCHES "^\\*(\\.[A-Za-z0-9]+)$")
        message(FATAL_ERROR "${_kinds_table}: ${_pattern} is not a pattern *.EXT")
    endif()
    string(TOLOWER ${CMAKE_MATCH_1} _extension)
    list(APPEND _extensions ${_extension})
endforeach()
list(REMOVE_DUPLICATES _extensions)
if(NOT _extensions)
    message(FATAL_ERROR "${_kinds_table}: no file name patterns found")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_kinds_table} ${_maker_file})
set(_nsh "; Generated by cmake/WindowsPackaging.cmake.
!define QUAVERLY_NAME \"Quaverly\"
!define QUAVERLY_EXE \"quaverly.exe\"
!define QUAVERLY_VERSION \"${PROJECT_VERSION}\"
!define QUAVERLY_PUBLISHER \"${QUAVERLY_MAKER}\"
!define QUAVERLY_COPYRIGHT \"${QUAVERLY_LEGAL_COPYRIGHT}\"
!define QUAVERLY_HOMEPAGE \"${QUAVERLY_HOMEPAGE}\"
!define QUAVERLY_PROGID \"Quaverly.Song\"
!define QUAVERLY_TYPE_NAME \"Song\"
!define QUAVERLY_ICON \"${_ico}\"
; Inserts MACRO once for each extension of the kinds the program reads.
!macro QuaverlyExtensions MACRO
")
foreach(_extension IN LISTS _extensions)
    string(APPEND _nsh "    !insertmacro \${MACRO} \"${_extension}\"\n")
endforeach()
string(APPEND _nsh "!macroend\n")
file(WRITE ${_win_out}/quaverly.nsh "${_nsh}")

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME Quaverly)
set(CPACK_PACKAGE_VENDOR "${QUAVERLY_MAKER}")
set(CPACK_PACKAGE_FILE_NAME Quaverly-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Quaverly)
# CPack finds NSIS.template.in here before its own.
set(CPACK_MODULE_PATH ${_win_src})
set(CPACK_QUAVERLY_NSH ${_win_out}/quaverly.nsh)
include(CPack)

unset(_win_src)
unset(_win_out)
unset(_maker)
unset(_maker_file)
unset(_logo)
unset(_ico)
unset(_ico_pngs)
unset(_dll_dirs)
unset(_import_libs)
unset(_qt_plugins)
unset(_plugin_files)
unset(_image_formats)
unset(_modules)
unset(_kinds_table)
unset(_patterns)
unset(_extensions)
unset(_nsh)

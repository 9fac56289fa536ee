# Installs every DLL the Windows programs need beside them (run by `cmake --install` and CPack,
# set up by cmake/WindowsPackaging.cmake). Reads the import tables of QUAVERLY_DLL_EXECUTABLES and
# QUAVERLY_DLL_MODULES, and of each DLL found in turn, and copies what it finds in
# QUAVERLY_DLL_DIRS (the first folder that has a name wins) to QUAVERLY_DLL_DESTINATION. A DLL
# found nowhere must be one of Windows' own, one MinGW-w64 has an import library for in
# QUAVERLY_DLL_IMPORT_LIBS; any other stops the install.

set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
if(NOT CMAKE_HOST_WIN32)
    # Cross-built: the import tables are read with MinGW-w64's objdump.
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${QUAVERLY_DLL_OBJDUMP}")
endif()

# CMake matches DLL names in lower case (Windows ignores their case), which a case-sensitive file
# system does not: the DLLs are looked up in a folder of links named in lower case instead.
file(REMOVE_RECURSE "${QUAVERLY_DLL_INDEX}")
file(MAKE_DIRECTORY "${QUAVERLY_DLL_INDEX}")
foreach(_dir IN LISTS QUAVERLY_DLL_DIRS)
    file(GLOB _dlls LIST_DIRECTORIES false "${_dir}/*.[dD][lL][lL]")
    foreach(_dll IN LISTS _dlls)
        cmake_path(GET _dll FILENAME _name)
        string(TOLOWER "${_name}" _name)
        if(NOT EXISTS "${QUAVERLY_DLL_INDEX}/${_name}")
            file(CREATE_LINK "${_dll}" "${QUAVERLY_DLL_INDEX}/${_name}" SYMBOLIC)
        endif()
    endforeach()
endforeach()

file(GET_RUNTIME_DEPENDENCIES
    EXECUTABLES ${QUAVERLY_DLL_EXECUTABLES}
    MODULES ${QUAVERLY_DLL_MODULES}
    DIRECTORIES "${QUAVERLY_DLL_INDEX}"
    PRE_EXCLUDE_REGEXES "^api-ms-.*" "^ext-ms-.*"
    POST_EXCLUDE_REGEXES ".*[Ss]ystem32/.*"
    RESOLVED_DEPENDENCIES_VAR _found
    UNRESOLVED_DEPENDENCIES_VAR _unfound
    CONFLICTING_DEPENDENCIES_PREFIX _conflict)

set(_missing "")
foreach(_dll IN LISTS _unfound)
    string(REGEX REPLACE "\\.dll$" "" _name "${_dll}")
    if(NOT EXISTS "${QUAVERLY_DLL_IMPORT_LIBS}/lib${_name}.a")
        list(APPEND _missing ${_dll})
    endif()
endforeach()
if(_missing)
    list(JOIN _missing ", " _missing)
    list(JOIN QUAVERLY_DLL_DIRS "\n  " _dirs)
    message(FATAL_ERROR "The programs need ${_missing}, found in none of:\n  ${_dirs}")
endif()
foreach(_dll IN LISTS _conflict_FILENAMES)
    list(JOIN _conflict_${_dll} ", " _paths)
    message(FATAL_ERROR "${_dll} is found in more than one place: ${_paths}")
endforeach()

# Each under its own name, from where the link points.
set(_files "")
foreach(_dll IN LISTS _found)
    file(REAL_PATH "${_dll}" _dll)
    list(APPEND _files "${_dll}")
endforeach()
file(INSTALL DESTINATION "${QUAVERLY_DLL_DESTINATION}" TYPE SHARED_LIBRARY FILES ${_files})
# Stripped as the programs are (CPack, `cmake --install --strip`): MinGW's C++ run-time comes with
# its debugging symbols, ten times its size.
if(CMAKE_INSTALL_DO_STRIP AND QUAVERLY_DLL_STRIP)
    foreach(_dll IN LISTS _files)
        cmake_path(GET _dll FILENAME _name)
        set(_installed "$ENV{DESTDIR}${QUAVERLY_DLL_DESTINATION}/${_name}")
        execute_process(COMMAND "${QUAVERLY_DLL_STRIP}" "${_installed}" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
endif()

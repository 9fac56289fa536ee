set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 $ENV{QT_WIN_PREFIX} $ENV{QUAVERLY_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# QUAVERLY_WIN_DEPS names the libraries' prefix (scripts/windows/deps.sh); pkg-config looks only
# there and at MinGW's own, never at the build machine's libraries.
if(DEFINED ENV{QUAVERLY_WIN_DEPS})
    set(ENV{PKG_CONFIG_LIBDIR}
        "$ENV{QUAVERLY_WIN_DEPS}/lib/pkgconfig:/usr/x86_64-w64-mingw32/lib/pkgconfig")
    set(ENV{PKG_CONFIG_PATH} "")
endif()

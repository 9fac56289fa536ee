# The Debian package (`cpack -G DEB`, see scripts/package.sh) and what it holds besides the
# programs: the AppStream metadata, the manual pages, the bash completion, the copyright file and
# the changelog. Everything here is also installed by `cmake --install`.

include(GNUInstallDirs)

# The licence, in one place: an SPDX expression for the AppStream file and the copyright file,
# and its text for the copyright file. No licence has been chosen yet; change these two lines
# once one is.
set(QUAVERLY_LICENSE "LicenseRef-proprietary")
set(QUAVERLY_LICENSE_TEXT "No licence has been chosen yet: all rights reserved.")
# Placeholders until the project has its own address and home page.
set(QUAVERLY_MAINTAINER "Quaverly developers <quaverly@example.org>")
set(QUAVERLY_HOMEPAGE "https://quaverly.example.org/")
# The date of this version's release, for the AppStream <release> and the changelog.
set(QUAVERLY_RELEASE_DATE "2026-12-09")
set(QUAVERLY_COPYRIGHT_YEARS "2026")
set(QUAVERLY_COPYRIGHT_HOLDER "Quaverly developers")
# The application's id: the AppStream file's name and id, and the desktop entry's name
# (src/app/CMakeLists.txt installs it under this name).
set(QUAVERLY_APP_ID "org.quaverly.Quaverly")

# What every package says of itself.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUAVERLY_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turns songs into short clips and ringtones")
set(CPACK_PACKAGE_HOMEPAGE_URL "${QUAVERLY_HOMEPAGE}")
set(CPACK_STRIP_FILES ON)

# The rest is the Debian side; on Windows cmake/WindowsPackaging.cmake makes the packages.
if(WIN32)
    return()
endif()

# The changelog's date line (RFC 5322), from the release date, so that builds are reproducible.
execute_process(COMMAND date -u -R -d "${QUAVERLY_RELEASE_DATE} 12:00:00"
                OUTPUT_VARIABLE QUAVERLY_RELEASE_RFC_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)

set(_src ${PROJECT_SOURCE_DIR}/packaging)
set(_out ${PROJECT_BINARY_DIR}/packaging)
configure_file(${_src}/${QUAVERLY_APP_ID}.metainfo.xml.in
               ${_out}/${QUAVERLY_APP_ID}.metainfo.xml @ONLY)
configure_file(${_src}/copyright.in ${_out}/copyright @ONLY)

# From the one table of formats: the kinds of file the song reader reads, for the manual pages,
# and the extensions the commands read and write, for the bash completion.
set(_table ${PROJECT_SOURCE_DIR}/src/engines/formats/Formats.cpp)
file(STRINGS ${_table} _kinds REGEX "QT_TRANSLATE_NOOP\\(\"SongFormats\", \"[^\"]+\"\\)")
list(TRANSFORM _kinds REPLACE ".*QT_TRANSLATE_NOOP\\(\"SongFormats\", \"([^\"]+)\"\\).*" "\\1")
list(JOIN _kinds ", " QUAVERLY_SONG_KINDS)
file(STRINGS ${_table} _read REGEX "\\.patterns = \"[^\"]+\"")
list(TRANSFORM _read REPLACE ".*\\.patterns = \"([^\"]+)\".*" "\\1")
string(REGEX REPLACE "[*][.]" "" _read "${_read}")
string(REGEX REPLACE "[ ;]+" ";" _read "${_read}")
file(STRINGS ${_table} _write REGEX "\\.(extension|alias) = \"[^\"]+\"")
list(TRANSFORM _write REPLACE ".*\\.(extension|alias) = \"([^\"]+)\".*" "\\2")
list(REMOVE_DUPLICATES _read)
list(REMOVE_DUPLICATES _write)
list(JOIN _read "|" QUAVERLY_READ_EXTENSIONS)
list(JOIN _write "|" QUAVERLY_WRITE_EXTENSIONS)
if(NOT QUAVERLY_READ_EXTENSIONS MATCHES "^[a-z0-9|]+$"
   OR NOT QUAVERLY_WRITE_EXTENSIONS MATCHES "^[a-z0-9|]+$")
    message(FATAL_ERROR "Packaging.cmake could not read the extensions from ${_table}")
endif()
configure_file(${_src}/quaverly-cli.bash.in ${_out}/quaverly-cli.bash @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_table})
unset(_kinds)
unset(_read)
unset(_write)
unset(_table)

# Manual pages and the changelog are installed gzipped (-9n: no name or time stamp inside, so
# the package is the same from one build to the next).
set(_gzipped "")
foreach(_page quaverly.1 quaverly-cli.1 changelog)
    configure_file(${_src}/${_page}.in ${_out}/${_page} @ONLY)
    add_custom_command(OUTPUT ${_out}/${_page}.gz
                       COMMAND gzip -9n -c ${_out}/${_page} > ${_out}/${_page}.gz
                       DEPENDS ${_out}/${_page} ${_src}/${_page}.in
                       COMMENT "Compressing ${_page}"
                       VERBATIM)
    list(APPEND _gzipped ${_out}/${_page}.gz)
endforeach()
add_custom_target(quaverly_package_files ALL DEPENDS ${_gzipped})

install(FILES ${_out}/${QUAVERLY_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_out}/quaverly.1.gz ${_out}/quaverly-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_out}/quaverly-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quaverly-cli)
# The package's documentation folder is named by the package, not by the project.
# A version without a Debian revision makes a native package, whose changelog is changelog.gz.
install(FILES ${_out}/copyright ${_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quaverly)
unset(_src)
unset(_out)
unset(_gzipped)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quaverly)
set(CPACK_PACKAGE_VENDOR "${QUAVERLY_COPYRIGHT_HOLDER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_NAME quaverly)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUAVERLY_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The long description, below the summary line; CPack indents it and marks the empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quaverly collects songs (MP3, WAV, FLAC, M4A, Ogg Vorbis, Opus and more) in a
song list, plays them one after another and cuts a song down to the stretch
between two marks in its clip editor, with fades, normalising and undo. It
joins the list into one file, converts songs between formats and records from
a sound card input. Clips are saved as WAV, MP3, M4A/M4R (AAC), Ogg Vorbis,
Opus or FLAC, with tags and presets for phone ringtones.

The package holds the window (quaverly) and its command line twin
(quaverly-cli), which does the same work for scripts.")
# The run-time dependencies come from the libraries every ELF file of the package links, the
# dlopened FFmpeg module included. Qt's SVG plugins, which draw the toolbar's icons, are loaded
# by Qt at run time where no ELF file names them: they are added by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
include(CPack)

# Precompiled headers: the standard library's and Qt's headers, which most of our files include and
# which take most of their compile time, parsed once per target instead of once per file.
# Each target gets the set its links allow: Qt Core for all, Qt Widgets, Qt Test and GoogleTest
# where the target reaches them. Chosen once every target is known (a deferred call), as a
# target's links may be added after quaverly_defaults() names it.
option(QUAVERLY_PCH "Precompile the standard library's and Qt's headers" ON)
set(QUAVERLY_PCH_MIN_FILES 8 CACHE STRING "The fewest C++ files a target has precompiled headers for")

set(QUAVERLY_PCH_CORE
    <algorithm> <array> <atomic> <chrono> <cmath> <cstdint> <cstring> <functional> <memory> <mutex>
    <optional> <string> <thread> <vector>
    <QByteArray> <QDir> <QFile> <QFileInfo> <QObject> <QString> <QStringList>)
set(QUAVERLY_PCH_WIDGETS <QApplication> <QComboBox> <QLabel> <QListWidget> <QPainter> <QPushButton>
                         <QWidget>)
set(QUAVERLY_PCH_QTEST <QSignalSpy> <QTemporaryDir> <QTest>)
set(QUAVERLY_PCH_GTEST <gtest/gtest.h> <gmock/gmock.h>)

# Every library TARGET links, directly or through others, into the variable OUT (names only, for
# the imported targets of other folders, such as GoogleTest's, which are not visible from here).
function(_quaverly_link_closure target out)
    set(seen "")
    set(todo ${target})
    while(TRUE)
        list(LENGTH todo left)
        if(left EQUAL 0)
            break()
        endif()
        list(POP_FRONT todo t)
        if(t IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${t})
        if(NOT TARGET ${t})
            continue()
        endif()
        foreach(prop ALIASED_TARGET LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
            get_target_property(libs ${t} ${prop})
            if(NOT libs)
                continue()
            endif()
            foreach(lib IN LISTS libs)
                # $<LINK_ONLY:X> and the like: the target inside
                string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" lib "${lib}")
                list(APPEND todo ${lib})
            endforeach()
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(_quaverly_pch target)
    # A precompiled header costs about as much as compiling three files and weighs some hundred
    # megabytes: worth it only for a target of many files (measured: one for every target made
    # the whole build slower than none).
    get_target_property(sources ${target} SOURCES)
    list(FILTER sources INCLUDE REGEX "[.]cpp$")
    list(LENGTH sources count)
    if(count LESS QUAVERLY_PCH_MIN_FILES)
        return()
    endif()
    _quaverly_link_closure(${target} closure)
    set(headers "")
    foreach(pair "Qt6::Core;CORE" "Qt6::Widgets;WIDGETS" "Qt6::Test;QTEST" "GTest::gtest;GTEST")
        list(GET pair 0 lib)
        list(GET pair 1 set)
        if(lib IN_LIST closure)
            list(APPEND headers ${QUAVERLY_PCH_${set}})
        endif()
    endforeach()
    if(headers)
        target_precompile_headers(${target} PRIVATE ${headers})
    endif()
endfunction()

# quaverly_precompile(TARGET): gives TARGET its precompiled headers at the end of the configure.
function(quaverly_precompile target)
    # clang's fuzz build compiles few files, and its precompiled headers would need more of
    # ccache's leniency; left as it is.
    if(QUAVERLY_PCH AND NOT QUAVERLY_FUZZ)
        # a deferred call reads its arguments when it runs: the name goes in as text now
        cmake_language(EVAL CODE
            "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]] CALL _quaverly_pch [[${target}]])")
    endif()
endfunction()

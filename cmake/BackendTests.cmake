# Which test folders build on the chosen platform backend.
#
# Tests that drive or observe the simulated device (they include "platform/sim/...", directly
# or through a test header of their own) exist only on the "sim" backend. On any other backend
# a folder joins when it is named in BOOTREEL_PORTABLE_TESTS (it sorts out itself which of its
# tests run there, as tests/platform does), or when none of its sources needs the simulated
# device. Folders whose tests all need a library that exists only for the build machine are
# named in BOOTREEL_HOST_ONLY_TESTS and stay out of cross builds (a folder with only some such
# tests leaves them out itself, as tests/decode/gif does with its giflib comparisons). Every
# folder left out is noted.
#
#   bootreel_test_folder_runs_here(<folder> <result-variable>)
#
# Both lists are plain variables, not cache entries, so that a build folder configured before a
# folder joined them picks the change up.
set(BOOTREEL_PORTABLE_TESTS tests/platform tests/win32 tests/decode tests/decode/gif tests/raster
    tests/player)
set(BOOTREEL_HOST_ONLY_TESTS "")

function(bootreel_test_folder_runs_here folder result)
    file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR} ${folder})
    if(BOOTREEL_PLATFORM STREQUAL "sim" OR name IN_LIST BOOTREEL_PORTABLE_TESTS)
        set(${result} TRUE PARENT_SCOPE)
        return()
    endif()
    if(CMAKE_CROSSCOMPILING AND name IN_LIST BOOTREEL_HOST_ONLY_TESTS)
        message(STATUS "${name}: tests need libraries of the build machine; not cross-built")
        set(${result} FALSE PARENT_SCOPE)
        return()
    endif()
    # The folder's sources and the project's test headers they include.
    file(GLOB files ${folder}/*.cpp ${folder}/*.h)
    set(scanned "")
    while(files)
        list(POP_FRONT files file)
        if(file IN_LIST scanned OR NOT EXISTS ${file})
            continue()
        endif()
        list(APPEND scanned ${file})
        file(STRINGS ${file} includes REGEX "#include \"")
        foreach(line ${includes})
            if(line MATCHES "platform/sim/")
                message(STATUS "${name}: tests need the simulated device; not built for "
                               "the ${BOOTREEL_PLATFORM} backend")
                set(${result} FALSE PARENT_SCOPE)
                return()
            endif()
            # Test headers are followed: by project path, or by name anywhere under tests/.
            string(REGEX REPLACE ".*#include \"([^\"]+)\".*" "\\1" header "${line}")
            if(header MATCHES "^tests/")
                list(APPEND files ${PROJECT_SOURCE_DIR}/${header})
            elseif(NOT header MATCHES "/")
                file(GLOB_RECURSE found ${PROJECT_SOURCE_DIR}/tests/${header})
                list(APPEND files ${found})
            endif()
        endforeach()
    endwhile()
    set(${result} TRUE PARENT_SCOPE)
endfunction()

# GoogleTest for the MinGW cross build: Debian ships no Windows binaries of it, only its sources
# (package googletest, /usr/src/googletest), so the cross build compiles them itself and
# provides the same imported names as CMake's own find module.
if(TARGET GTest::gtest)
    set(GTest_FOUND TRUE)
    set(GTEST_FOUND TRUE)
    return()
endif()

set(BOOTREEL_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS ${BOOTREEL_GTEST_SOURCE}/CMakeLists.txt)
    set(GTest_FOUND FALSE)
    set(GTEST_FOUND FALSE)
    if(GTest_FIND_REQUIRED)
        message(FATAL_ERROR "GoogleTest sources not found at ${BOOTREEL_GTEST_SOURCE} "
                            "(install the Debian package googletest)")
    endif()
    return()
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${BOOTREEL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)

# GoogleTest's own build names most of these already; add those it does not.
foreach(pair gtest:gtest gtest_main:gtest_main gmock:gmock gmock_main:gmock_main GTest:gtest
             Main:gtest_main)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 alias)
    list(GET pair 1 target)
    if(NOT TARGET GTest::${alias})
        add_library(GTest::${alias} ALIAS ${target})
    endif()
endforeach()
set(GTest_FOUND TRUE)
set(GTEST_FOUND TRUE)

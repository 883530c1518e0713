# bench_show: whole shows on the simulated device: time to first frame against giflib's
# DGifSlurp, the memory of a show against its decoded frames, and frame timing on the real clock.
if(TARGET bootreel_host)
    find_library(BENCH_SHOW_GIF_LIB gif REQUIRED)
    add_executable(bench_show ${CMAKE_CURRENT_LIST_DIR}/show.cpp)
    target_include_directories(bench_show PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_definitions(bench_show PRIVATE BOOTREEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    target_link_libraries(bench_show PRIVATE bootreel_host bootreel_platform bootreel_warnings
                          ${BENCH_SHOW_GIF_LIB})
endif()

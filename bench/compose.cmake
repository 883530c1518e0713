# bench_compose: the layer compositor against memcpy of the same number of destination bytes.
if(TARGET bootreel_raster)
    add_executable(bench_compose ${CMAKE_CURRENT_LIST_DIR}/compose.cpp)
    target_link_libraries(bench_compose PRIVATE bootreel_raster bootreel_warnings)
endif()

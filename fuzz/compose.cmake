# fuzz_compose: the layer compositor over random buffers and placements (libFuzzer, clang).
# For coverage of the libraries themselves, configure with
# CMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" (scripts/reliability.sh does).
if(TARGET bootreel_raster AND TARGET bootreel_decode)
    add_executable(fuzz_compose ${CMAKE_CURRENT_LIST_DIR}/compose.cpp)
    target_include_directories(fuzz_compose PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(fuzz_compose PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_compose PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_compose PRIVATE bootreel_raster bootreel_decode bootreel_warnings)
endif()

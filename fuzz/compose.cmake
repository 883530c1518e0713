# fuzz_compose: the layer compositor over random buffers and placements (libFuzzer, clang). The
# compositor's library is instrumented too, so that coverage guides the fuzzer into it.
if(TARGET bootreel_raster AND TARGET bootreel_decode)
    set(BOOTREEL_COMPOSE_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined
        -fno-omit-frame-pointer)
    foreach(lib bootreel_raster bootreel_geometry)
        if(TARGET ${lib})
            target_compile_options(${lib} PRIVATE ${BOOTREEL_COMPOSE_FUZZ_FLAGS})
        endif()
    endforeach()
    add_executable(fuzz_compose ${CMAKE_CURRENT_LIST_DIR}/compose.cpp)
    target_include_directories(fuzz_compose PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(fuzz_compose PRIVATE -fsanitize=fuzzer,address,undefined
                           -fno-omit-frame-pointer)
    target_link_options(fuzz_compose PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_compose PRIVATE bootreel_raster bootreel_decode bootreel_warnings)
endif()

# gif_fuzz: the GIF decoder over arbitrary bytes (libFuzzer, clang). The libraries it runs are
# instrumented too, so that coverage guides the fuzzer into the decoder and the sanitizers see
# every access.
set(BOOTREEL_GIF_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
foreach(lib bootreel_decode bootreel_decode_gif bootreel_geometry bootreel_platform)
    if(TARGET ${lib})
        target_compile_options(${lib} PRIVATE ${BOOTREEL_GIF_FUZZ_FLAGS})
    endif()
endforeach()
add_executable(gif_fuzz ${CMAKE_CURRENT_LIST_DIR}/gif_fuzz.cpp)
target_include_directories(gif_fuzz PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(gif_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
target_link_options(gif_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(gif_fuzz PRIVATE bootreel_decode bootreel_decode_gif bootreel_warnings)

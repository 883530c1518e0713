# bench_gif_decode: our GIF decoding against giflib's DGifSlurp on generated animations.
find_library(GIF_LIB gif REQUIRED)
add_executable(bench_gif_decode ${CMAKE_CURRENT_LIST_DIR}/gif_decode.cpp)
target_include_directories(bench_gif_decode PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_gif_decode PRIVATE bootreel_decode bootreel_decode_gif
                      bootreel_warnings ${GIF_LIB})

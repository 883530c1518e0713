# bench_gif_real: our GIF decoding against giflib, and against Wuffs and libnsgif when their
# sources are present beside the project (BOOTREEL_PEERS_DIR, by default ../shared/peers), on
# real files fetched by scripts/gif-corpus.sh. Without the peers the program measures giflib
# alone. The peers are compiled as they ship, at the build's own optimisation level, without
# the project's warning options.
find_library(GIF_LIB gif REQUIRED)
set(BOOTREEL_PEERS_DIR "${PROJECT_SOURCE_DIR}/../shared/peers" CACHE PATH
    "Folder with the reference GIF decoders for bench_gif_real (optional)")
add_executable(bench_gif_real ${CMAKE_CURRENT_LIST_DIR}/gif_real.cpp)
target_include_directories(bench_gif_real PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_gif_real PRIVATE bootreel_decode bootreel_decode_gif
                      bootreel_warnings ${GIF_LIB})
if(EXISTS "${BOOTREEL_PEERS_DIR}/wuffs-v0.4.c" AND
   EXISTS "${BOOTREEL_PEERS_DIR}/libnsgif/src/gif.c")
    add_library(bench_gif_peers STATIC ${CMAKE_CURRENT_LIST_DIR}/gif_peer_wuffs.c
                ${CMAKE_CURRENT_LIST_DIR}/gif_peer_nsgif.c
                ${BOOTREEL_PEERS_DIR}/libnsgif/src/gif.c ${BOOTREEL_PEERS_DIR}/libnsgif/src/lzw.c)
    target_include_directories(bench_gif_peers PRIVATE ${BOOTREEL_PEERS_DIR}
                               ${BOOTREEL_PEERS_DIR}/libnsgif/include
                               ${BOOTREEL_PEERS_DIR}/libnsgif/src ${CMAKE_CURRENT_LIST_DIR})
    target_compile_options(bench_gif_peers PRIVATE -w)
    target_compile_definitions(bench_gif_real PRIVATE BOOTREEL_GIF_PEERS)
    target_link_libraries(bench_gif_real PRIVATE bench_gif_peers)
    message(STATUS "bench_gif_real: Wuffs and libnsgif from ${BOOTREEL_PEERS_DIR}")
else()
    message(STATUS "bench_gif_real: no reference decoders in ${BOOTREEL_PEERS_DIR}; giflib only")
endif()

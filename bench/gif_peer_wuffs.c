// Wuffs' GIF decoder behind gif_peers.h. The release file is compiled here as it ships, with
// only the modules the GIF decoder needs.
#define WUFFS_IMPLEMENTATION
#define WUFFS_CONFIG__MODULES
#define WUFFS_CONFIG__MODULE__BASE
#define WUFFS_CONFIG__MODULE__GIF
#define WUFFS_CONFIG__MODULE__LZW
#include "wuffs-v0.4.c"

#include <stdlib.h>

#include "gif_peers.h"

static wuffs_gif__decoder* decoder;
static uint8_t* canvas;  // palette (1024 bytes), then width x height indices
static size_t canvasSize;
static uint8_t* work;
static size_t workSize;

static int Grow(uint8_t** buffer, size_t* have, size_t need) {
    if (need <= *have) return 1;
    uint8_t* grown = realloc(*buffer, need);
    if (grown == NULL) return 0;
    *buffer = grown;
    *have = need;
    return 1;
}

int PeerWuffsDecode(const uint8_t* data, size_t size) {
    if (decoder == NULL) {
        decoder = wuffs_gif__decoder__alloc();
        if (decoder == NULL) return -1;
    }
    wuffs_base__status status =
        wuffs_gif__decoder__initialize(decoder, sizeof__wuffs_gif__decoder(), WUFFS_VERSION,
                                       WUFFS_INITIALIZE__LEAVE_INTERNAL_BUFFERS_UNINITIALIZED);
    if (!wuffs_base__status__is_ok(&status)) return -1;
    wuffs_base__io_buffer source =
        wuffs_base__ptr_u8__reader((uint8_t*)data, size, true);
    wuffs_base__image_config config;
    status = wuffs_gif__decoder__decode_image_config(decoder, &config, &source);
    if (!wuffs_base__status__is_ok(&status)) return -1;
    const uint32_t width = wuffs_base__pixel_config__width(&config.pixcfg);
    const uint32_t height = wuffs_base__pixel_config__height(&config.pixcfg);
    wuffs_base__pixel_config__set(&config.pixcfg, WUFFS_BASE__PIXEL_FORMAT__INDEXED__BGRA_BINARY,
                                  WUFFS_BASE__PIXEL_SUBSAMPLING__NONE, width, height);
    const size_t bytes = 1024 + (size_t)width * height;
    if (!Grow(&canvas, &canvasSize, bytes)) return -1;
    wuffs_base__pixel_buffer pixels;
    status = wuffs_base__pixel_buffer__set_from_slice(&pixels, &config.pixcfg,
                                                      wuffs_base__make_slice_u8(canvas, bytes));
    if (!wuffs_base__status__is_ok(&status)) return -1;
    const uint64_t workLength = wuffs_gif__decoder__workbuf_len(decoder).max_incl;
    if (!Grow(&work, &workSize, (size_t)workLength + 1)) return -1;
    int frames = 0;
    for (;;) {
        wuffs_base__frame_config frame;
        status = wuffs_gif__decoder__decode_frame_config(decoder, &frame, &source);
        if (status.repr == wuffs_base__note__end_of_data) break;
        if (!wuffs_base__status__is_ok(&status)) return -1;
        status = wuffs_gif__decoder__decode_frame(
            decoder, &pixels, &source, WUFFS_BASE__PIXEL_BLEND__SRC,
            wuffs_base__make_slice_u8(work, (size_t)workLength), NULL);
        if (!wuffs_base__status__is_ok(&status)) return -1;
        ++frames;
    }
    return frames;
}

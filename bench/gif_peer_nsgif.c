// libnsgif behind gif_peers.h: the bitmap it asks for is one 32-bit canvas kept between calls.
#include <stdlib.h>

#include "nsgif.h"
#include "gif_peers.h"

static uint8_t* canvas;
static size_t canvasSize;
static int canvasInUse;

static nsgif_bitmap_t* Create(int width, int height) {
    const size_t need = (size_t)width * (size_t)height * 4;
    if (canvasInUse) return NULL;
    if (need > canvasSize) {
        uint8_t* grown = realloc(canvas, need);
        if (grown == NULL) return NULL;
        canvas = grown;
        canvasSize = need;
    }
    canvasInUse = 1;
    return canvas;
}

static void Destroy(nsgif_bitmap_t* bitmap) {
    (void)bitmap;
    canvasInUse = 0;
}

static uint8_t* Buffer(nsgif_bitmap_t* bitmap) {
    return bitmap;
}

int PeerNsgifDecode(const uint8_t* data, size_t size) {
    static const nsgif_bitmap_cb_vt callbacks = {Create, Destroy, Buffer, NULL, NULL, NULL, NULL};
    nsgif_t* gif = NULL;
    if (nsgif_create(&callbacks, NSGIF_BITMAP_FMT_R8G8B8A8, &gif) != NSGIF_OK) return -1;
    int frames = -1;
    const nsgif_error scanned = nsgif_data_scan(gif, size, data);
    nsgif_data_complete(gif);
    const nsgif_info_t* info = nsgif_get_info(gif);
    if ((scanned == NSGIF_OK || scanned == NSGIF_ERR_END_OF_DATA) && info != NULL &&
        info->frame_count > 0) {
        frames = 0;
        for (uint32_t i = 0; i < info->frame_count; ++i) {
            nsgif_bitmap_t* bitmap = NULL;
            if (nsgif_frame_decode(gif, i, &bitmap) != NSGIF_OK) {
                frames = -1;
                break;
            }
            ++frames;
        }
    }
    nsgif_destroy(gif);
    return frames;
}

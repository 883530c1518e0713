// Outside GIF decoders that bench_gif_real measures against, behind one small C interface so
// that their headers stay out of the benchmark's C++ code. Each call decodes every frame of a
// GIF held in memory and returns the number of frames decoded, or -1 when the decoder refuses
// the file. Built only when the reference decoders are present (BOOTREEL_GIF_PEERS).
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Wuffs: frame by frame as palette indices into one canvas buffer that the caller keeps between
// calls (grown on demand); the decoder object is reused and initialised per call.
int PeerWuffsDecode(const uint8_t* data, size_t size);

// libnsgif: scan, then every frame composed into one 32-bit canvas kept between calls.
int PeerNsgifDecode(const uint8_t* data, size_t size);

#ifdef __cplusplus
}
#endif

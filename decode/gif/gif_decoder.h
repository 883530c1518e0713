// The GIF decoder (GIF87a and GIF89a) and its LZW decompressor.
#pragma once

#include "decode/decoder.h"

namespace br {

// Creates a CDecoderGif2; null when it cannot be allocated. The facade uses this.
CDecoderBase2* CreateGifDecoder();

}  // namespace br

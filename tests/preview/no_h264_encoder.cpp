// Loaded into bootreel-preview with LD_PRELOAD by a test: FFmpeg's H.264 encoder fails to open,
// as it does in an FFmpeg whose encoder is missing its library or refuses the settings, while
// every other codec (the AAC encoder, the sound decoders) opens as usual.
#include <dlfcn.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

extern "C" int avcodec_open2(AVCodecContext* context, const AVCodec* codec,
                             AVDictionary** options) {
    if (codec && codec->id == AV_CODEC_ID_H264 && av_codec_is_encoder(codec)) {
        return AVERROR(EINVAL);
    }
    using Open = int (*)(AVCodecContext*, const AVCodec*, AVDictionary**);
    static const Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "avcodec_open2"));
    return real(context, codec, options);
}

// The format facade: recognises the picture format and forwards the primitives to the concrete
// decoder it creates for one operation; see decode/decoder.h.
#include "decode/decoder.h"
#include "decode/gif/gif_decoder.h"

namespace br {

namespace {

// Location numbers of the facade's error sites.
constexpr std::uint32_t kFacade = 38000;
constexpr std::uint32_t kFacadeRoutine = 39;
constexpr std::uint32_t kSiteFormat = 101;
constexpr std::uint32_t kSiteAllocation = 102;

}  // namespace

CImgDecoder2::CImgDecoder2() : decoder(nullptr) {}

CImgDecoder2::~CImgDecoder2() {
    ReleaseStream();
}

void CImgDecoder2::ReadImageInfo(CDataSource2* source, DecoderImageInfo* info) {
    // A concrete decoder left over from a call outside the public operations' order goes first,
    // so that it is not lost.
    ReleaseStream();
    if (DetectImageFormat(source) != FormatGif) {
        ThrowError(ErrorUnsupportedFormat, kFacade, kFacadeRoutine, kSiteFormat);
    }
    decoder = CreateGifDecoder();
    if (decoder == nullptr) ThrowError(ErrorOutOfMemory, kFacade, kFacadeRoutine, kSiteAllocation);
    decoder->ReadImageInfo(source, info);
}

void CImgDecoder2::ReadFrameInfo(CDataSource2* source, DecoderFrameInfo* frame,
                                 std::int32_t index) {
    if (decoder == nullptr) ThrowError(ErrorNoDecoder, kFacade, kFacadeRoutine, kSiteFormat);
    decoder->ReadFrameInfo(source, frame, index);
}

void CImgDecoder2::DecodeFrame(CDataSource2* source, DecoderFrameInfo* frame, std::int32_t index,
                               std::int32_t reserved) {
    if (decoder == nullptr) ThrowError(ErrorNoDecoder, kFacade, kFacadeRoutine, kSiteFormat);
    decoder->DecodeFrame(source, frame, index, reserved);
}

void CImgDecoder2::ReleaseStream() {
    if (decoder == nullptr) return;
    decoder->ReleaseStream();
    delete decoder;
    decoder = nullptr;
}

}  // namespace br

// Helpers shared by the decode tests: an error that counts its live objects, a decoder whose
// primitives follow a script and record their calls, files under a temporary device root.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "decode/decoder.h"
#include "decode/error.h"

namespace br::test {

// An error object that counts how many of its kind are alive, to see who deletes it.
class CountingError : public CIAException {
  public:
    CountingError(std::uint32_t code, std::uint32_t component, std::uint32_t routine,
                  std::uint32_t site)
        : CIAException(code, component, routine, site, 0) {
        ++live;
    }
    ~CountingError() override { --live; }
    static int live;
};

// Checks the message number and the four location numbers of an error.
inline void ExpectError(const CIAException* error, std::uint32_t code, std::uint32_t component,
                        std::uint32_t routine, std::uint32_t site) {
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, code);
    EXPECT_EQ(error->componentId, component);
    EXPECT_EQ(error->routineId, routine);
    EXPECT_EQ(error->siteId, site);
    EXPECT_EQ(error->detail, 0u);
}

// One frame as the scripted decoder describes it.
struct ScriptFrame {
    Rect frameRect;
    std::int32_t delay = 0;
    std::int32_t disposal = 0;
    std::int32_t transparentIndex = -1;
    std::int32_t bytesPerPixel = 1;
    std::int32_t withMask = 0;
};

// What DecodeFrame was handed.
struct DecodeCall {
    std::int32_t index;
    Rect clipRect;
    std::int32_t targetWidth;
    std::int32_t targetHeight;
    std::int32_t targetRowPadding;
    bool hasBits;
    bool hasPalette;
};

// A concrete decoder for the tests: its primitives fill the records from a script, record the
// order of the calls ("info", "frame 0", "decode 0", "release") and throw a counting error at
// a chosen call.
class ScriptedDecoder : public CDecoderBase2 {
  public:
    std::int32_t width = 10;
    std::int32_t height = 10;
    std::int32_t bitsPerPixel = 8;
    static constexpr std::int32_t kScripted = INT32_MIN;
    std::int32_t frameCount = kScripted;  // reported frame count; kScripted: frames.size()
    std::vector<ScriptFrame> frames;

    std::string failAt;  // the call (as recorded) that throws
    std::uint32_t failCode = ErrorCorruptData;
    std::uint32_t failSite = 77;

    std::vector<std::string> calls;
    std::vector<DecodeCall> decodes;

    void ReadImageInfo(CDataSource2*, DecoderImageInfo* info) override {
        Record("info");
        if (info == nullptr) return;
        info->format = FormatGif;
        info->width = width;
        info->height = height;
        info->bitsPerPixel = bitsPerPixel;
        info->frameCount =
            frameCount != kScripted ? frameCount : static_cast<std::int32_t>(frames.size());
        info->backgroundColor = 0x00112233;
    }
    void ReadFrameInfo(CDataSource2*, DecoderFrameInfo* frame, std::int32_t index) override {
        Record("frame " + std::to_string(index));
        const ScriptFrame& f = frames.at(static_cast<std::size_t>(index));
        frame->frameRect = f.frameRect;
        frame->delay = f.delay;
        frame->disposal = f.disposal;
        frame->transparentIndex = f.transparentIndex;
        frame->bytesPerPixel = f.bytesPerPixel;
        frame->withMask = f.withMask;
    }
    void DecodeFrame(CDataSource2*, DecoderFrameInfo* frame, std::int32_t index,
                     std::int32_t reserved) override {
        EXPECT_EQ(reserved, 0);
        decodes.push_back({index, frame->clipRect, frame->targetWidth, frame->targetHeight,
                           frame->targetRowPadding, frame->targetBits != nullptr,
                           frame->targetPalette != nullptr});
        Record("decode " + std::to_string(index));
        // Mark the first pixel so that the tests see the decode reached the layer's buffer.
        if (frame->targetBits != nullptr)
            frame->targetBits[0] = static_cast<std::uint8_t>(index + 1);
    }
    void ReleaseStream() override { calls.push_back("release"); }

  private:
    void Record(const std::string& call) {
        calls.push_back(call);
        if (call == failAt)
            throw static_cast<CIAException*>(new CountingError(failCode, 1, 2, failSite));
    }
};

// Writes files under a fresh temporary folder that serves as the device's "\" and removes it
// afterwards.
class DeviceFiles {
  public:
    DeviceFiles();
    ~DeviceFiles();
    // Writes `bytes` to "\<name>" and returns the device path.
    std::u16string Write(const std::string& name, const std::vector<std::uint8_t>& bytes);

  private:
    std::string root_;
};

}  // namespace br::test

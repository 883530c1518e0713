// Damaged image data where it can and cannot be seen. The player decodes only what the picture
// can show: no pixel outside the picture, interlaced rows only up to the last stored row the
// picture needs, and no frame that has no pixel on the grid of a reduced decode. Damage beyond
// what is decoded is therefore never noticed and the picture plays; damage in anything that is
// shown still fails the decode at that size, and the player steps down to a size that does not
// show it, or gives up. Each case is one damaged frame after a good one on a 4 x 8 picture.
#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/error.h"
#include "decode/source.h"
#include "player/animation_player.h"
#include "player_fixture.h"

namespace {

using br::AnimationPlayer;
using showtest::GifFrame;
using showtest::MakeGif;
using showtest::SolidFrame;

using DamagedPicture = showtest::PlayerTest;

constexpr int kPictureWidth = 4;
constexpr int kPictureHeight = 8;

// A frame of `width` x `height` at (left, top) whose data breaks after `intactRows` stored rows.
GifFrame Damaged(int left, int top, int width, int height, int intactRows,
                 bool interlaced = false) {
    GifFrame frame = SolidFrame(left, top, width, height, 'G');
    frame.interlaced = interlaced;
    frame.damagedAfterRows = intactRows;
    return frame;
}

struct Case {
    const char* what;
    GifFrame frame;
    double scale;  // decode scale the picture loads at; 0: it does not load
};

// A 4 x 16 interlaced frame stores its rows as 0, 8, 4, 12, 2, 6, 10, 14, 1, 3, 5, 7, 9, 11,
// 13, 15: picture row 7, the last the picture shows, is stored row 11. At 1/2 the picture
// shows rows 0, 2, 4, 6 (row 6 is stored row 5) and columns 0 and 2, at 1/4 rows 0 and 4 and
// column 0. At 1/8 the picture is 0 x 1 pixels and shows nothing: "does not load" (scale 0)
// means not at any size that shows a pixel.
const Case kCases[] = {
    {"interlaced, damaged after stored row 11: only rows below the picture",
     Damaged(0, 0, 4, 16, 12, true), 1.0},
    {"interlaced, damaged in stored row 11: picture row 7", Damaged(0, 0, 4, 16, 11, true), 0.5},
    {"interlaced, damaged in stored row 5: picture row 6", Damaged(0, 0, 4, 16, 5, true), 0.25},
    {"interlaced, damaged in its first row", Damaged(0, 0, 4, 16, 0, true), 0.0},
    {"damaged in frame row 8: below the picture", Damaged(0, 0, 4, 16, 8), 1.0},
    {"damaged in frame row 7: the picture's last", Damaged(0, 0, 4, 16, 7), 0.5},
    {"wholly right of the picture", Damaged(4, 0, 4, 4, 0), 1.0},
    {"wholly below the picture", Damaged(0, 8, 4, 2, 0), 1.0},
    {"wider than the picture, damaged in its first row", Damaged(0, 0, 6, 8, 0), 0.0},
    {"partly right of the picture, damaged in its first row", Damaged(2, 0, 4, 8, 0), 0.25},
    {"one pixel off the grid at 1/2", Damaged(1, 1, 1, 1, 0), 0.5},
    {"one pixel on the grid at 1/2, off it at 1/4", Damaged(2, 2, 1, 1, 0), 0.25},
};

TEST_F(DamagedPicture, PlaysWhereTheDamageCannotBeSeenAndFailsWhereItCan) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::u16string path =
            folder_->Put("damaged" + std::to_string(++pictures_) + ".gif",
                         MakeGif(kPictureWidth, kPictureHeight,
                                 {SolidFrame(0, 0, kPictureWidth, kPictureHeight, 'R'), c.frame}));

        AnimationPlayer player;
        player.AttachWindow(window_);
        const bool loaded = player.Load(path.c_str());
        const br::Size reduced =
            br::ScaleSize(kPictureWidth, kPictureHeight, loaded ? player.decodeScale : 0.0, 0);
        const bool shows = loaded && reduced.cx > 0 && reduced.cy > 0;
        EXPECT_EQ(shows, c.scale != 0.0);
        if (shows) {
            EXPECT_EQ(player.decodeScale, c.scale);
            EXPECT_EQ(player.info.frameCount, 2);
        }
        player.Destroy();

        // The decoder itself, at full size over the picture, reports the damage it meets as
        // what it is: corrupt LZW data.
        br::CDataSource2* source = nullptr;
        ASSERT_NE(br::CreateFileSource(path.c_str(), &source), 0);
        br::CImgDecoder2 decoder;
        br::CImgInfo image;
        br::FrameList frames = nullptr;
        const br::TargetSize full{kPictureWidth, kPictureHeight};
        const br::Rect picture(0, 0, kPictureWidth, kPictureHeight);
        const int result = decoder.DecodeFramesToSize(source, &image, &frames, &full, &picture);
        delete source;
        EXPECT_EQ(result != 0, c.scale == 1.0);
        if (result != 0) {
            for (int i = 0; i < image.frameCount; ++i) delete frames[i];
            br::FreeFrameList(frames, image.frameCount);
        } else {
            EXPECT_EQ(frames, nullptr);
            ASSERT_NE(decoder.lastError, nullptr);
            EXPECT_EQ(decoder.lastError->code, br::ErrorCorruptData);
            EXPECT_EQ(decoder.lastError->componentId, 38003u);
            EXPECT_EQ(decoder.lastError->routineId, 64u);
        }
        image.Reset();
    }
    ExpectAllReleased();
}

}  // namespace

// Shows whose frames were decoded at a reduced size because bitmap memory was short: every
// screen is the full-size show's screen sampled on the reduced picture's grid and enlarged as
// the player enlarges it, for random delta-coded animations and for hand-made cases.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "player/animation_player.h"
#include "player/render_loop.h"
#include "show_testkit.h"

namespace {

using showtest::GifFrame;
using showtest::MakeGif;
using showtest::SolidFrame;
using Rows = std::vector<std::string>;

constexpr int kScreen = 100;

class ReducedShow : public showtest::ShowFixture {
  protected:
    void TearDown() override {
        plat::sim::FailBitmapsAbove(0);
        ShowFixture::TearDown();
    }

    // Plays the picture in a window covering the screen, its frames loaded while no bitmap may
    // be larger than the whole picture at `scale` (1: no limit), and returns the distinct
    // pictures the screen showed in the picture's place. `decoded` receives the scale the
    // player chose.
    std::vector<Rows> Show(const std::vector<std::uint8_t>& gif, int width, int height,
                           double scale, double* decoded, const br::Rect* shown = nullptr) {
        plat::sim::DeviceConfig config;
        config.screenWidth = kScreen;
        config.screenHeight = kScreen;
        Boot(config);
        const std::u16string path = folder_->Put("show.gif", gif);
        plat::WNDCLASS windowClass{};
        windowClass.lpfnWndProc = plat::DefWindowProc;
        windowClass.lpszClassName = u"ReducedShow";
        plat::RegisterClass(&windowClass);
        plat::HWND window = plat::CreateWindowEx(0x00000008, u"ReducedShow", u"", 0x10000000, 0, 0,
                                                 kScreen, kScreen, nullptr, nullptr, nullptr,
                                                 nullptr);
        EXPECT_NE(window, nullptr);

        br::AnimationPlayer player;
        player.AttachWindow(window);
        player.SetBackgroundColour(br::kShowBackground);
        const br::Size canvas = br::ScaleSize(width, height, scale, 0);
        plat::sim::FailBitmapsAbove(scale == 1.0 ? 0 : (canvas.cx + 3) / 4 * 4 * canvas.cy);
        const bool loaded = player.Load(path.c_str());
        plat::sim::FailBitmapsAbove(0);
        EXPECT_TRUE(loaded);
        *decoded = player.decodeScale;
        if (loaded && player.Play(false)) {
            plat::SetTimer(window, 1, 60000, nullptr);
            plat::MSG message{};
            while (plat::GetMessage(&message, nullptr, 0, 0) > 0) {
                if (message.message == plat::WM_TIMER) {
                    ADD_FAILURE() << "the show did not end";
                    break;
                }
                if (message.message == br::MSG_ANIMATION_ENDED) break;
                plat::DispatchMessage(&message);
            }
            plat::KillTimer(window, 1);
        }
        player.Destroy();
        plat::DestroyWindow(window);
        plat::UnregisterClass(u"ReducedShow", nullptr);
        if (shown != nullptr) {
            return ScreensShown(shown->left, shown->top, shown->Width(), shown->Height());
        }
        return ScreensShown((kScreen - width) / 2, (kScreen - height) / 2, width, height);
    }
};

// The screens of a full-size show as a show decoded at `scale` must show them: display pixel
// x shows reduced pixel x * RW / W, which shows picture pixel (x * RW / W) * W / RW; screens
// that become equal to the one before them are not shown twice.
std::vector<Rows> SampledOnTheGrid(const std::vector<Rows>& full, int width, int height,
                                   double scale) {
    const br::Size canvas = br::ScaleSize(width, height, scale, 0);
    std::vector<Rows> sampled;
    for (const Rows& screen : full) {
        Rows rows(static_cast<std::size_t>(height), std::string(static_cast<std::size_t>(width), 'W'));
        for (int y = 0; y < height; ++y) {
            const int pictureY = y * canvas.cy / height * height / canvas.cy;
            for (int x = 0; x < width; ++x) {
                const int pictureX = x * canvas.cx / width * width / canvas.cx;
                rows[y][x] = screen[pictureY][pictureX];
            }
        }
        if (sampled.empty() || sampled.back() != rows) sampled.push_back(rows);
    }
    return sampled;
}

TEST_F(ReducedShow, RandomDeltaAnimationsShowTheFullSizeScreensSampledOnTheGrid) {
    std::mt19937 random(2026);
    auto uniform = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const std::string letters = "WKRGBYCM.";
    std::set<double> reached;
    for (int round = 0; round < 24; ++round) {
        const int width = uniform(1, kScreen);
        const int height = uniform(1, kScreen);
        // A full first frame, as animations start, then changed rectangles at any offset,
        // solid or noisy, with transparent pixels and every disposal method.
        std::vector<GifFrame> frames = {SolidFrame(0, 0, width, height, letters[uniform(0, 7)],
                                                   0, static_cast<std::uint8_t>(uniform(0, 1)))};
        for (int f = uniform(1, 5); f > 0; --f) {
            const int left = uniform(0, width - 1);
            const int top = uniform(0, height - 1);
            GifFrame frame = SolidFrame(left, top, uniform(1, width - left + 2),
                                        uniform(1, height - top + 2), letters[uniform(0, 7)], 0,
                                        static_cast<std::uint8_t>(uniform(0, 3)));
            if (uniform(0, 1) == 1) {
                for (std::string& row : frame.rows)
                    for (char& c : row) c = letters[uniform(0, 8)];
            }
            frames.push_back(frame);
        }
        const std::vector<std::uint8_t> gif = MakeGif(width, height, frames);
        double decoded = 0;
        const std::vector<Rows> full = Show(gif, width, height, 1.0, &decoded);
        ASSERT_EQ(decoded, 1.0);
        for (double scale : {0.5, 0.25, 0.125}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " round " +
                         std::to_string(round) + " at " + std::to_string(scale));
            const std::vector<Rows> shown = Show(gif, width, height, scale, &decoded);
            const br::Size canvas = br::ScaleSize(width, height, decoded, 0);
            if (canvas.cx == 0 || canvas.cy == 0) continue;  // nothing of the picture is left
            reached.insert(decoded);
            EXPECT_EQ(shown, SampledOnTheGrid(full, width, height, decoded));
        }
    }
    for (double scale : {0.5, 0.25, 0.125}) EXPECT_EQ(reached.count(scale), 1u) << scale;
}

TEST_F(ReducedShow, FramesBetweenGridPixelsAndDisposalOfAReducedFrame) {
    struct Case {
        const char* what;
        int width, height;
        double scale;
        std::vector<GifFrame> frames;
        std::vector<Rows> expected;
    };
    const Case cases[] = {
        {"a frame one pixel wide at an odd offset holds no grid pixel at 1/2 and shows nothing",
         8, 2, 0.5,
         {SolidFrame(0, 0, 8, 2, 'R', 0, 1), SolidFrame(3, 0, 1, 2, 'G', 0, 1)},
         {{"RRRRRRRR", "RRRRRRRR"}}},
        {"a delta frame at x = 61 after a full frame overwrites the grid pixels it covers",
         64, 2, 0.5,
         {SolidFrame(0, 0, 64, 2, 'R', 0, 1), SolidFrame(60, 0, 3, 2, 'G', 0, 1),
          SolidFrame(61, 0, 3, 2, 'B', 0, 1)},
         {{std::string(64, 'R'), std::string(64, 'R')},
          {std::string(60, 'R') + "GGGG", std::string(60, 'R') + "GGGG"},
          {std::string(60, 'R') + "GGBB", std::string(60, 'R') + "GGBB"}}},
        {"disposal 3 at 1/4 restores exactly the grid pixels of the frame", 8, 8, 0.25,
         {SolidFrame(0, 0, 8, 8, 'R', 0, 1), SolidFrame(2, 2, 4, 4, 'G', 0, 3),
          SolidFrame(0, 0, 1, 1, 'B', 0, 1)},
         {Rows(8, "RRRRRRRR"),
          {"RRRRRRRR", "RRRRRRRR", "RRRRRRRR", "RRRRRRRR", "RRRRGGGG", "RRRRGGGG", "RRRRGGGG",
           "RRRRGGGG"},
          {"BBBBRRRR", "BBBBRRRR", "BBBBRRRR", "BBBBRRRR", "RRRRRRRR", "RRRRRRRR", "RRRRRRRR",
           "RRRRRRRR"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        double decoded = 0;
        const std::vector<Rows> shown =
            Show(MakeGif(c.width, c.height, c.frames), c.width, c.height, c.scale, &decoded);
        EXPECT_EQ(decoded, c.scale);
        EXPECT_EQ(shown, c.expected);
    }
}

TEST_F(ReducedShow, APictureShownSmallerThanItsSizeDrawsEachFrameWhereItsPixelsAre) {
    // 12000 x 2 on the 100 x 100 screen is shown at 100 / 120 of its size: display column x
    // shows picture column x * 6 / 5, and the screen shows display columns 4950..5049 on row
    // 49. A frame at picture columns 6000..6011 shows on display columns 5000..5009.
    const std::vector<std::uint8_t> gif =
        MakeGif(12000, 2, {SolidFrame(0, 0, 12000, 2, 'R', 0, 1),
                           SolidFrame(6000, 0, 12, 2, 'G', 0, 1)});
    double decoded = 0;
    const br::Rect row(0, 49, kScreen, 50);
    const std::vector<Rows> shown = Show(gif, 12000, 2, 1.0, &decoded, &row);
    const std::vector<Rows> expected = {
        {std::string(100, 'R')},
        {std::string(50, 'R') + std::string(10, 'G') + std::string(40, 'R')},
    };
    EXPECT_EQ(shown, expected);
}

}  // namespace

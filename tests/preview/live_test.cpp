// --live under a virtual X display with SDL's dummy audio driver: the window opens, shows
// frames of the sample (read back from the X server and from the window, and compared with
// the frames of a recorded run), and closing it ends the show.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "preview/image_files.h"
#include "run_program.h"

namespace preview {
namespace {

using namespace preview_test;

bool OnPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// An Xvfb server of the device's screen size on a free display, stopped at the end. Xvfb picks
// the display itself and names it on a pipe once it accepts connections (-displayfd), so the
// test waits for exactly that, however long a busy machine takes, and two tests never race for
// one display number.
class VirtualDisplay {
  public:
    VirtualDisplay(int width, int height) {
        int pipe[2];
        if (::pipe(pipe) != 0) return;
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        const std::string fd = std::to_string(pipe[1]);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(pipe[0]);
            std::freopen("/dev/null", "w", stderr);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                     "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipe[1]);
        // The display number and a newline; the pipe ends without them if Xvfb cannot start.
        std::string number;
        char c = 0;
        for (;;) {
            const ssize_t n = ::read(pipe[0], &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n != 1 || c == '\n') break;
            number += c;
        }
        ::close(pipe[0]);
        if (pid_ > 0 && !number.empty()) {
            display_ = ":" + number;
            ready_ = true;
        }
    }
    ~VirtualDisplay() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool ready() const { return ready_; }
    const std::string& name() const { return display_; }

  private:
    pid_t pid_ = -1;
    bool ready_ = false;
    std::string display_;
};

std::uint32_t Big32(const std::string& b, std::size_t at) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3]));
}

int Shift(std::uint32_t mask) {
    int s = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++s;
    }
    return s;
}

// Reads an X window dump (xwd, ZPixmap, 24 or 32 bits per pixel) into RGB.
bool ReadXwd(const std::string& path, RgbImage* image) {
    const std::string b = ReadText(path);
    if (b.size() < 100) return false;
    const std::uint32_t headerSize = Big32(b, 0), format = Big32(b, 8), width = Big32(b, 16),
                        height = Big32(b, 20), byteOrder = Big32(b, 28), bpp = Big32(b, 44),
                        stride = Big32(b, 48), redMask = Big32(b, 56), greenMask = Big32(b, 60),
                        blueMask = Big32(b, 64), colours = Big32(b, 76);
    if (format != 2 || (bpp != 32 && bpp != 24)) return false;
    const std::size_t data = headerSize + colours * 12;
    if (b.size() < data + static_cast<std::size_t>(stride) * height) return false;
    *image = RgbImage(static_cast<int>(width), static_cast<int>(height));
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::size_t at = data + y * stride + x * (bpp / 8);
            std::uint32_t pixel = 0;
            for (std::uint32_t i = 0; i < bpp / 8; ++i) {
                const std::uint32_t byte = static_cast<unsigned char>(b[at + i]);
                pixel |= byteOrder == 0 ? byte << (8 * i) : byte << (8 * (bpp / 8 - 1 - i));
            }
            std::uint8_t* p = image->At(static_cast<int>(x), static_cast<int>(y));
            p[0] = static_cast<std::uint8_t>((pixel & redMask) >> Shift(redMask));
            p[1] = static_cast<std::uint8_t>((pixel & greenMask) >> Shift(greenMask));
            p[2] = static_cast<std::uint8_t>((pixel & blueMask) >> Shift(blueMask));
        }
    }
    return true;
}

bool IsOneOf(const RgbImage& image, const std::vector<RgbImage>& frames) {
    for (const RgbImage& f : frames) {
        if (f == image) return true;
    }
    return false;
}

TEST(Live, TheWindowShowsTheSampleAndClosingItEndsTheShow) {
    if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (scripts/deps.sh installs it)";
    ScratchFolder dir;

    // The frames the screen can show, from a recorded run of the same show.
    ASSERT_EQ(RunPreviewProgram({"--out", "recorded"}, dir.path()).exitCode, 0);
    std::vector<RgbImage> frames;
    for (const auto& entry : fs::directory_iterator(dir / "recorded")) {
        if (entry.path().extension() != ".png" ||
            entry.path().filename().string().rfind("frame-", 0) != 0) {
            continue;
        }
        RgbImage image;
        std::string error;
        ASSERT_TRUE(ReadPng(entry.path().string(), &image, &error)) << error;
        frames.push_back(std::move(image));
    }
    ASSERT_EQ(frames.size(), 40u);

    VirtualDisplay display(240, 320);
    ASSERT_TRUE(display.ready()) << "Xvfb did not start";
    // The display libraries that SDL loads (its session-bus helper, the X and GL drivers) keep
    // buffers for the life of the process, with stacks a leak checker cannot name; leak
    // checking of the live program is left off. The recorded runs, which share all of our code
    // but the window, are leak-checked.
    const std::string environment =
        "DISPLAY=" + display.name() +
        " SDL_AUDIODRIVER=dummy ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\"";
    RunResult live;
    std::atomic<bool> finished{false};
    std::thread run([&] {
        live = RunPreviewProgram({"--live", "--live-snapshot", "snapshot.png", "--live-snapshot-at",
                                  "1500", "--live-close-after", "2000"},
                                 dir.path(), environment);
        finished.store(true);
    });
    // Read the screen back from the X server every 200 ms while the show plays, until one
    // capture shows a frame (the program may take a while to start on a busy machine).
    int matches = 0, captures = 0;
    const bool haveXwd = OnPath("xwd");
    while (haveXwd && !finished.load() && matches == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::string dump = dir / "screen.xwd";
        if (std::system(("xwd -root -silent -display " + display.name() + " -out " + Quote(dump) +
                         " 2>/dev/null")
                            .c_str()) != 0) {
            continue;
        }
        RgbImage screen;
        if (!ReadXwd(dump, &screen)) continue;
        ++captures;
        matches += IsOneOf(screen, frames);
    }
    run.join();

    EXPECT_EQ(live.exitCode, 0) << live.out << live.err;
    EXPECT_NE(live.out.find("window closed"), std::string::npos) << live.out;
    EXPECT_NE(live.out.find("the show ended (endRequest)"), std::string::npos) << live.out;
    if (captures > 0) {
        EXPECT_GT(matches, 0) << "the X display never showed a frame of the show";
    } else {
        std::printf("note: no X screen capture (xwd missing or failed); window snapshot only\n");
    }
    RgbImage snapshot;
    std::string error;
    ASSERT_TRUE(ReadPng(dir / "snapshot.png", &snapshot, &error)) << error;
    EXPECT_EQ(snapshot.width, 240);
    EXPECT_EQ(snapshot.height, 320);
    EXPECT_TRUE(IsOneOf(snapshot, frames)) << "the window's picture is no frame of the show";
}

}  // namespace
}  // namespace preview

// Files for the show's tests that run on every backend: tiny GIF and WAV files written inline
// and a temporary folder to hold them as the device's "\".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace showtest {

// The test pictures' 16-entry global palette, one letter per colour. Index 8 is the colour that
// frames use as their transparent index; letters the screen never shows read as '?'.
//   W white  K black  R red  G green  B blue  Y yellow  C cyan  M magenta  . transparent
constexpr char kLetters[] = "WKRGBYCM.";
constexpr std::uint8_t kTransparentIndex = 8;

// One frame: its place on the logical screen and its rows as letters. A frame that holds '.'
// gets a graphic control extension naming index 8 transparent.
struct GifFrame {
    int left;
    int top;
    std::vector<std::string> rows;
    std::uint16_t delay = 0;  // hundredths of a second
    std::uint8_t disposal = 0;
    bool interlaced = false;  // rows stored in the four passes of an interlaced image
    // When not negative: the image data holds this many stored rows (in storage order), then a
    // code that no decoder can resolve, then the end code.
    int damagedAfterRows = -1;
};

// A GIF89a file of the given logical screen size with the frames above. The image data uses
// LZW with a clear code before the table would grow, so every code is 5 bits wide.
std::vector<std::uint8_t> MakeGif(int width, int height, const std::vector<GifFrame>& frames);

// A frame covering (left, top) to (left + width, top + height) in one colour.
GifFrame SolidFrame(int left, int top, int width, int height, char letter, std::uint16_t delay = 0,
                    std::uint8_t disposal = 0);

// A mono 8-bit PCM WAV file of the given length.
std::vector<std::uint8_t> MakeWav(std::uint32_t durationMs);

// A temporary host folder that stands for the device's "\" while it lives.
class DeviceFolder {
  public:
    // Makes the folder (under the system's temporary folder).
    DeviceFolder();
    ~DeviceFolder();
    DeviceFolder(const DeviceFolder&) = delete;
    DeviceFolder& operator=(const DeviceFolder&) = delete;

    const std::string& HostRoot() const { return root_; }
    // Writes a file (name relative to the root) and returns its device path ("\name").
    std::u16string Put(const std::string& name, const std::vector<std::uint8_t>& bytes);
    // Creates a folder and returns its device path.
    std::u16string MakeFolder(const std::string& name);

  private:
    std::string root_;
};

// The colour of palette entry `index` (0..15) of the test pictures.
struct Rgb {
    std::uint8_t r, g, b;
};
Rgb PaletteColour(int index);
// The letter of a colour of the test pictures (see kLetters; '?' for any other colour).
char LetterOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

}  // namespace showtest

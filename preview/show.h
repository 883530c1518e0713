// Running a show of the real library on the simulated device, and what came of it.
//
// PrepareDevice gives a fresh simulated device set up from the options (registry file, device
// root, --image and --sound shortcuts, memory limit). RecordShow then calls the library's
// entry point on virtual time, tells composed frames from the other screen copies as they
// come and hands each composed frame to a FrameSink at once, so that the previewer holds at
// most a screen or two however long the show; AnalyseShow turns the composed frames and the
// device's records into the end of the show and the timeline.
//
// How composed frames are told apart from the other copies: the render thread copies its
// surface to the window on every pass (about 20 ms apart) and composes a frame only on the
// passes where the time it has measured since its start reaches the frame's due time (the sum
// of the delays before it). It measures that time after each copy, so on pass k it decides
// with the clock reading taken right after copy k - 1. We replay that rule on the recorded
// copy times with the frames' delays as the decoder reports them: copy 0 shows frame 0, and
// copy k (k >= 1) shows the next frame when time(copy k - 1) - time(copy 0) reaches its due
// time. As a check, every copy that is not a composition must show the same pixels as the one
// before; the timeline reports when that does not hold.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/device.h"
#include "preview/image_files.h"
#include "preview/json.h"
#include "preview/options.h"
#include "preview/picture_report.h"

namespace preview {

// A path value of the mode's registry key as the device reads it.
struct RegistryPath {
    bool present = false;       // the key holds the value
    std::uint32_t type = 0;     // its registry type when present
    std::size_t length = 0;     // characters up to its first zero
    std::u16string devicePath;  // the path the device uses ("" when it has none)
    // Why the value gives the device no usable path, naming the key, the value and the
    // expected type; "" when it is a plain string path.
    std::string problem;
};

// What the device was given, resolved from the options.
struct DeviceSetup {
    std::string mode;           // "startup" or "shutdown"
    std::string deviceRoot;     // host folder standing for "\" ("" for none)
    std::string tempRoot;       // a folder we made for --image/--sound (removed afterwards)
    RegistryPath image, sound;  // the registry's values Image and WAV for the mode
    std::u16string imagePath;   // the paths the device uses ("" when it has none)
    std::u16string soundPath;
    std::uint32_t soundLevel = 0;
    bool hasSoundLevel = false;
    std::optional<std::uint32_t> soundLevelType;  // InitVol's type when it is no readable number
    std::uint32_t soundLevelSize = 0;
    std::string imageHostPath;  // where imagePath resolves on this computer ("" for nowhere)
    std::string usingSample;    // set when the bundled sample is shown
};

// Resolves the options and writes the registry of a freshly reset device. On bad input
// returns false with a one-line *error (exit code 2).
bool PrepareDevice(const Options& options, plat::sim::ClockMode clock, DeviceSetup* setup,
                   std::string* error);
// In shut-down mode the boot sequence's event "SHUTDOWN_ANIMATION_DONE" (manual reset, so
// that watching it does not consume the signal); none in start-up mode. The show opens it.
plat::HANDLE CreateShutdownDoneEvent(const Options& options);
// The folder of the bundled sample, shown when neither --image nor --registry is given.
std::string SamplesDir();
// Removes what PrepareDevice made for the shortcuts.
void CleanUpDevice(DeviceSetup* setup);

struct ComposedFrame {
    int index;                   // frame of the picture
    std::uint64_t composedAtMs;  // show time of the copy that first showed it
    std::uint64_t copy;          // number of that copy among all screen copies of the show
};

// Receives the composed frames while the show runs, in order, on the render thread. Virtual
// time stands still while it works, so a slow sink cannot change the show's timing.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    virtual void Frame(const ComposedFrame& frame, const RgbImage& screen) = 0;
};

// A sound the device played, with where its samples come from: the file on this computer, or
// (for the device's default sound, which has no file) the bytes it played.
struct PlayedSound {
    plat::sim::SoundRecord record;
    std::vector<std::uint8_t> wav;  // only when record.hostPath is empty
};

struct ShowRecord {
    std::uint64_t calledAtMs = 0;
    std::uint64_t returnedAtMs = 0;
    std::uint64_t copyCount = 0;
    std::vector<ComposedFrame> frames;
    int unexpectedChanges = 0;  // copies that changed the screen without a composition
    std::vector<plat::sim::MessageRecord> messages;
    std::vector<plat::sim::SoundRecord> sounds;
    std::vector<PlayedSound> played;  // the sounds that were heard, in order
    std::optional<std::uint64_t> doneEventAtMs;
    std::optional<std::uint64_t> shutdownEventAtMs;
    std::optional<std::uint64_t> endRequestAtMs;
    bool endRequestBecauseNothingShown = false;
    // Bitmap memory in use at the first copy: the decoded frames and the two drawing surfaces,
    // from which the scale the frames were decoded at can be read off.
    std::optional<std::uint64_t> bitmapBytesAtFirstCopy;
};

// Runs the show on the prepared device (virtual clock). `endAfterMs`: signal the end request
// at that show time; without it the end request is signalled after kNothingShownMs when the
// screen has shown nothing by then (a picture of one frame, or a render thread that could not
// start), as the boot sequence would end such a show. Composed frames are told apart with the
// picture's delays (see above); without a picture report every change of the screen counts as
// one. `sink` may be null.
constexpr std::uint32_t kNothingShownMs = 5000;
ShowRecord RecordShow(const Options& options, std::optional<std::uint32_t> endAfterMs,
                      const PictureReport* picture, FrameSink* sink);

struct ShowResult {
    std::vector<ComposedFrame> frames;
    std::string endHow;  // lastFrame, endRequest, doneEvent, closePosted, noPicture, ...
    std::string reason;  // when the device showed nothing: why, in plain words
    bool showedPicture = false;
    int unexpectedChanges = 0;  // copies that changed the screen without a composition
    std::optional<std::uint64_t> windowClosedAtMs;
    std::optional<std::uint64_t> animationEndedAtMs;
    // In show time: until when the screen showed the show (the window closed; failing that,
    // the entry point returned), and when the show ended (the entry point returned; a shut-down
    // show returns only after its sound, so its end can come long after the window closed).
    std::uint64_t screenEndMs = 0;
    std::uint64_t showEndMs = 0;
    // What the show itself revealed (sound, registry, the shut-down event), beside the
    // picture's warnings.
    std::vector<Warning> warnings;
    // The picture warning that the reason already holds (not to be printed twice).
    std::string reasonWarningId;
};

// The decode scale the show used, read off the bitmap memory at its first copy; 0 when it
// cannot be told.
double ObservedDecodeScale(const ShowRecord& record, const PictureReport& picture);

ShowResult AnalyseShow(const ShowRecord& record, const DeviceSetup& setup,
                       const PictureReport* picture);

// The name under which a host file is placed on the device: characters that device file
// names cannot hold become '_', and a long name is shortened on a character boundary,
// keeping its extension (the default leaves room for "\\Storage\\" and a "2-" prefix within
// the device's 259 characters, counted in characters, not bytes).
std::string DeviceFileName(const std::string& hostName, std::size_t maxCharacters = 100);

Json MakeTimeline(const Options& options, const DeviceSetup& setup, const ShowRecord& record,
                  const ShowResult& result, const PictureReport* picture);

}  // namespace preview

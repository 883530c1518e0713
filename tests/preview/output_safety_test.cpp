// bootreel-preview never deletes or leaves behind anything that is not its own: inputs inside
// the output folder, a folder that changes while the show runs, an empty folder or a mount
// point as --out, a clip that cannot be made, leftovers of other runs that still work, and a
// signal at any instant of a run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "gif_builder.h"
#include "run_program.h"

namespace preview {
namespace {

using namespace preview_test;

const std::string kSampleGif = std::string(PREVIEW_SAMPLES_DIR) + "/boot.gif";
const std::string kSampleWav = std::string(PREVIEW_SAMPLES_DIR) + "/boot.wav";
const char kMarker[] = "bootreel-preview output folder\n";

#ifdef __SANITIZE_ADDRESS__
constexpr int kInterruptTrials = 10;
#else
constexpr int kInterruptTrials = 30;
#endif

// Everything under a folder: each path with its kind and, for files, its content.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> all;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it);
         it.increment(ec)) {
        const std::string name = fs::relative(it->path(), root).string();
        if (name.rfind(".run-", 0) == 0) continue;  // RunPreviewProgram's own files
        if (it->is_symlink()) {
            all[name] = "link to " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            all[name] = "folder";
        } else {
            all[name] = "file " + ReadText(it->path().string());
        }
    }
    return all;
}

// What differs between two snapshots, for a failure message.
std::string Difference(const std::map<std::string, std::string>& before,
                       const std::map<std::string, std::string>& after) {
    std::string text;
    for (const auto& [name, what] : before) {
        auto it = after.find(name);
        if (it == after.end())
            text += "  gone: " + name + "\n";
        else if (it->second != what)
            text += "  changed: " + name + "\n";
    }
    for (const auto& [name, what] : after) {
        if (!before.count(name)) text += "  new: " + name + "\n";
    }
    return text;
}

Bytes ShowGif(int frames, int side) {
    GifBuilder gif(side, side);
    for (int i = 0; i < frames; ++i) gif.Control(2).Image(0, 0, side, side, 1 + i % 3);
    return gif.Trailer().Build();
}

// The program started in `cwd` with TMPDIR set (and `hold`: held at the commit), its output
// kept in files beside.
pid_t StartPreview(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& tmp,
                   bool hold = false) {
    // Not the last run's: what the new one says is waited for.
    std::error_code ec;
    fs::remove(cwd / ".run-out", ec);
    fs::remove(cwd / ".run-err", ec);
    const pid_t child = ::fork();
    if (child != 0) return child;
    ::setenv("TMPDIR", tmp.c_str(), 1);
    if (hold) ::setenv("BOOTREEL_PREVIEW_TEST_HOLD_AT_COMMIT", "1", 1);
    if (::chdir(cwd.c_str()) == 0) {
        const int out = ::open(".run-out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(".run-err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(PREVIEW_EXE)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(PREVIEW_EXE, argv.data());
    }
    ::_exit(127);
}

int WaitFor(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool HasEnded(pid_t child) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid != 0;
}

// Waits until a name starting with `prefix` is in `folder` or the program has ended; true for
// the former. An event, not a time: the wait ends either way.
bool WaitForEntry(const fs::path& folder, const std::string& prefix, pid_t child) {
    for (;;) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
        }
        if (HasEnded(child)) return false;
        std::this_thread::yield();
    }
}

// Waits until the file holds `text` or the program has ended; true for the former.
bool WaitForText(const fs::path& file, const std::string& text, pid_t child) {
    for (;;) {
        if (ReadText(file.string()).find(text) != std::string::npos) return true;
        if (HasEnded(child)) return ReadText(file.string()).find(text) != std::string::npos;
        std::this_thread::yield();
    }
}

// The first entry of `folder` whose name starts with `prefix` ("" for none).
fs::path EntryStartingWith(const fs::path& folder, const std::string& prefix) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) return entry.path();
    }
    return {};
}

// A finished preview of one show, or with `both` of both (each in its own folder).
bool IsCompletePreview(const fs::path& folder, bool both = false) {
    const auto show = [](const fs::path& at) {
        return fs::exists(at / "timeline.json") && fs::exists(at / "report.html");
    };
    return ReadText((folder / ".bootreel-preview").string()) == kMarker &&
           (both ? show(folder / "startup") && show(folder / "shutdown") &&
                       fs::exists(folder / "report.html")
                 : show(folder));
}

// What a run into `out` that exited 0 may have changed: `out` itself, now a finished preview.
// Returns the other differences from `before`.
std::string ChangedBesideThePreview(const std::map<std::string, std::string>& before,
                                    std::map<std::string, std::string> after,
                                    const std::string& out) {
    const auto inOut = [&](const std::string& name) {
        return name == out || name.rfind(out + "/", 0) == 0;
    };
    for (auto it = after.begin(); it != after.end();)
        it = inOut(it->first) ? after.erase(it) : std::next(it);
    for (const auto& [name, what] : before) {
        if (inOut(name)) after[name] = what;
    }
    return Difference(before, after);
}

TEST(OutputSafety, InputsInsideTheFolderThatWouldBeReplacedAreRefusedAndNothingIsTouched) {
    ScratchFolder dir;
    ASSERT_EQ(RunPreviewProgram({"--image", kSampleGif, "--out", "p1"}, dir.path()).exitCode, 0);
    fs::copy_file(kSampleGif, dir / "p1/mine.gif");
    fs::copy_file(kSampleWav, dir / "p1/mine.wav");
    dir.Write("p1/notes.txt", "x");
    dir.Write("p1/device.reg", "Windows Registry Editor Version 5.00\n");
    fs::create_directories(dir / "p1/root/Storage");
    fs::copy_file(kSampleGif, dir / "p1/root/Storage/boot.gif");
    fs::create_symlink(dir / "p1/mine.gif", dir / "outside-link.gif");
    // A device root that holds an earlier preview as --out.
    fs::create_directories(dir / "root/Storage");
    fs::copy_file(kSampleGif, dir / "root/Storage/boot.gif");
    ASSERT_EQ(RunPreviewProgram({"--image", kSampleGif, "--out", "root/prev"}, dir.path()).exitCode,
              0);
    const auto before = Snapshot(dir.path());

    struct Case {
        std::vector<std::string> args;
        const char* said;
    } const cases[] = {
        {{"--image", "p1/mine.gif", "--out", "p1"}, "--image p1/mine.gif lies inside --out p1"},
        {{"--image", "outside-link.gif", "--out", "p1/"}, "lies inside --out p1/"},
        {{"--image", "p1/../p1/mine.gif", "--out", "./p1"}, "lies inside"},
        {{"--image", kSampleGif, "--sound", "p1/mine.wav", "--out", "p1"}, "--sound p1/mine.wav"},
        {{"--registry", "p1/device.reg", "--out", "p1"}, "--registry p1/device.reg"},
        {{"--device-root", "p1/root", "--image", "p1/root/Storage/boot.gif", "--out", "p1"},
         "lies inside --out p1"},
        {{"--device-root", "root", "--image", "root/Storage/boot.gif", "--out", "root/prev"},
         "--out root/prev lies inside --device-root root and holds an earlier preview"},
    };
    for (const Case& c : cases) {
        RunResult r = RunPreviewProgram(c.args, dir.path());
        EXPECT_EQ(r.exitCode, 2) << c.args[1] << ": " << r.out << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << "refused before the show";
    }
    EXPECT_EQ(Difference(before, Snapshot(dir.path())), "");

    // Where nothing is replaced, --out may lie inside the device root.
    RunResult r = RunPreviewProgram(
        {"--device-root", "root", "--image", "root/Storage/boot.gif", "--out", "root/new"},
        dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(IsCompletePreview(dir / "root/new"));
}

// Runs a long show into `out`, and once its staging folder exists (and before the show has
// ended: the program is stopped while `meanwhile` runs) lets `meanwhile` change things.
// Returns the result; repeats when the show ended before it could be stopped.
RunResult RunChangingMeanwhile(const ScratchFolder& dir, const std::string& out,
                               const fs::path& stagingIn, const std::function<void()>& meanwhile) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const pid_t child =
            StartPreview({"--image", "long.gif", "--out", out}, dir.path(), dir.path() / "tmp");
        const std::string prefix = "." + fs::path(out).filename().string() + ".partial-";
        const bool seen = WaitForEntry(stagingIn, prefix, child);
        ::kill(child, SIGSTOP);
        // Not yet replacing --out: the new report page (written last, naming long.gif) is
        // complete neither in the staging folder nor at --out.
        const fs::path staging = seen ? EntryStartingWith(stagingIn, prefix) : fs::path();
        const auto complete = [](const fs::path& page) {
            return ReadText(page.string()).find("long.gif") != std::string::npos;
        };
        const bool before = !staging.empty() && !complete(staging / "report.html") &&
                            !complete(dir / (out + "/report.html"));
        if (before) meanwhile();
        ::kill(child, SIGCONT);
        const int status = WaitFor(child);
        RunResult r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = ReadText(dir / ".run-out");
        r.err = ReadText(dir / ".run-err");
        if (before) return r;
        std::error_code ec;
        fs::remove_all(dir / out, ec);
    }
    ADD_FAILURE() << "the show always ended before it could be stopped";
    return {};
}

TEST(OutputSafety, AFolderThatChangesWhileTheShowRunsIsNotReplaced) {
    ScratchFolder dir;
    fs::create_directories(dir / "tmp");
    dir.Write("long.gif", ShowGif(150, 64));

    // A folder made at --out meanwhile.
    RunResult r = RunChangingMeanwhile(dir, "long10", dir.path(), [&] {
        fs::create_directories(dir / "long10");
        dir.Write("long10/precious.txt", "mine");
    });
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_NE(r.err.find("changed while the show ran"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the new preview is in long10.new-preview"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(dir / "long10/precious.txt"), "mine");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "long10"), fs::directory_iterator()), 1);
    EXPECT_TRUE(IsCompletePreview(dir / "long10.new-preview"));

    // An earlier preview whose marker the user removed meanwhile, to keep it.
    ASSERT_EQ(RunPreviewProgram({"--image", kSampleGif, "--out", "kept"}, dir.path()).exitCode, 0);
    r = RunChangingMeanwhile(dir, "kept", dir.path(),
                             [&] { fs::remove(dir / "kept/.bootreel-preview"); });
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_TRUE(fs::exists(dir / "kept/timeline.json"));
    EXPECT_TRUE(IsCompletePreview(dir / "kept.new-preview"));

    // An empty folder written in place, which gets a file meanwhile.
    fs::create_directories(dir / "empty");
    r = RunChangingMeanwhile(dir, "empty", dir / "empty",
                             [&] { dir.Write("empty/notes.txt", "x"); });
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.err.find("the new preview is in empty/new-preview"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(dir / "empty/notes.txt"), "x");
    EXPECT_TRUE(IsCompletePreview(dir / "empty/new-preview"));
    EXPECT_FALSE(fs::exists(dir / "empty/timeline.json"));

    for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos);
    }
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST(OutputSafety, AnEmptyOutOrAMountPointIsWrittenInPlaceAndKeepsItsModeAndInode) {
    ScratchFolder dir;
    fs::create_directories(dir / "shared");
    ::chmod((dir / "shared").c_str(), 02770);
    struct stat before {};
    ASSERT_EQ(::stat((dir / "shared").c_str(), &before), 0);
    for (int run = 0; run < 2; ++run) {  // empty, then holding the first run's preview
        RunResult r = RunPreviewProgram({"--image", kSampleGif, "--out", "shared"}, dir.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        struct stat after {};
        ASSERT_EQ(::stat((dir / "shared").c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, 02770u) << "run " << run;
        EXPECT_TRUE(IsCompletePreview(dir / "shared"));
        if (run == 0) {
            EXPECT_EQ(after.st_ino, before.st_ino) << "the same folder";
        }
    }

    // A mount point, where this process may mount one (as root, as in CI): never renamed,
    // filled in place, and replaced in place the second time.
    fs::create_directories(dir / "volume");
    if (::mount("tmpfs", (dir / "volume").c_str(), "tmpfs", 0, "size=64m,mode=2770") == 0) {
        for (int run = 0; run < 2; ++run) {
            RunResult r = RunPreviewProgram({"--image", kSampleGif, "--out", "volume"}, dir.path());
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_TRUE(IsCompletePreview(dir / "volume"));
            struct stat st {};
            ::stat((dir / "volume").c_str(), &st);
            EXPECT_EQ(st.st_mode & 07777, 02770u);
        }
        const std::size_t files =
            std::distance(fs::directory_iterator(dir / "volume"), fs::directory_iterator());
        EXPECT_EQ(files, 40u + 6u) << "the frames, 5 files and the marker, nothing of the first";
        EXPECT_EQ(::umount((dir / "volume").c_str()), 0);
    }
}

TEST(OutputSafety, AClipThatCannotBeMadeBecomesANoteAndTheOtherFilesAreWritten) {
    ScratchFolder dir;
    RunResult r = RunPreviewProgram(
        {"--image", kSampleGif, "--sound", kSampleWav}, dir.path(),
        "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + Quote(PREVIEW_NO_H264_ENCODER));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("note: there is no recording.mp4: it could not be made (cannot start "
                         "the encoders for recording.mp4: Invalid argument)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("wrote preview/: 40 frame pictures, timeline.json, report.html, "
                         "contact-sheet.png, recording.webp\n"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(fs::exists(dir / "preview/recording.mp4"));
    for (const char* name : {"recording.webp", "contact-sheet.png", "frame-0039.png"}) {
        EXPECT_GT(fs::file_size(dir / ("preview/" + std::string(name))), 100u) << name;
    }
    const std::string page = ReadText(dir / "preview/report.html");
    EXPECT_NE(page.find("there is no recording.mp4"), std::string::npos);
    EXPECT_EQ(page.find("<video"), std::string::npos);
}

// A folder held locked by this test stands for a run that is still working, in this process
// namespace or another (where its process id means nothing here).
class HeldFolder {
  public:
    explicit HeldFolder(const fs::path& path) {
        fs::create_directories(path);
        fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
    }
    ~HeldFolder() { ::close(fd_); }

  private:
    int fd_ = -1;
};

TEST(OutputSafety, LeftoversAreRemovedOnlyWhenNoRunHoldsThem) {
    ScratchFolder dir;
    fs::create_directories(dir / "tmp");
    const std::string self = std::to_string(::getpid());
    // Live runs whose process ids look dead from here, or belong to another process.
    HeldFolder liveStaging(dir / ".preview.partial-999999999-AbCdEf");
    dir.Write(".preview.partial-999999999-AbCdEf/frame-0000.png", "working");
    HeldFolder liveRoot(dir / "tmp/bootreel-preview-999999999-AbCdEf");
    fs::create_directories(dir / "tmp/bootreel-preview-999999999-AbCdEf/Storage");
    // Dead runs whose process ids a live process has taken since.
    fs::create_directories(dir / (".preview.partial-" + self + "-GhIjKl"));
    dir.Write(".preview.partial-" + self + "-GhIjKl/.bootreel-preview", kMarker);
    dir.Write(".preview.partial-" + self + "-GhIjKl/frame-0000.png", "left");
    fs::create_directories(dir / ("tmp/bootreel-preview-" + self + "-GhIjKl/Storage"));
    // Not ours: a user's folder of a similar name, and a staging-like folder without marker.
    fs::create_directories(dir / "tmp/bootreel-preview-notes");
    fs::create_directories(dir / ".preview.partial-1-MnOpQr");
    dir.Write(".preview.partial-1-MnOpQr/mine.txt", "x");

    RunResult r =
        RunPreviewProgram({"--image", kSampleGif}, dir.path(), "TMPDIR=" + Quote(dir / "tmp"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadText(dir / ".preview.partial-999999999-AbCdEf/frame-0000.png"), "working");
    EXPECT_TRUE(fs::exists(dir / "tmp/bootreel-preview-999999999-AbCdEf/Storage"));
    EXPECT_FALSE(fs::exists(dir / (".preview.partial-" + self + "-GhIjKl")));
    EXPECT_FALSE(fs::exists(dir / ("tmp/bootreel-preview-" + self + "-GhIjKl")));
    EXPECT_TRUE(fs::exists(dir / "tmp/bootreel-preview-notes"));
    EXPECT_EQ(ReadText(dir / ".preview.partial-1-MnOpQr/mine.txt"), "x");
}

// SIGINT or SIGTERM at a random instant of a run, over the whole run: start, staging, the
// show, the files, the replacing of --out, the end. Afterwards the folder and TMPDIR hold
// exactly what they held before, or the finished preview where the run had completed.
TEST(OutputSafety, ASignalAtAnyInstantOfARunLeavesNothingBehindAndDeletesNothing) {
    ScratchFolder dir;
    fs::create_directories(dir / "tmp");
    dir.Write("show.gif", ShowGif(60, 96));
    dir.Write("mine.txt", "the user's");
    // The --out of the trials: missing, an earlier preview, an empty folder.
    ASSERT_EQ(RunPreviewProgram({"--image", "show.gif", "--out", "earlier"}, dir.path()).exitCode,
              0);
    const std::vector<std::string> outs = {"missing", "earlier", "empty"};

    // How long a whole run of each mode takes here, so that the instants cover all of it.
    const auto timeRun = [&](const std::string& mode) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(RunPreviewProgram({"--image", "show.gif", "--sound", kSampleWav, "--out", "timed",
                                     "--mode", mode},
                                    dir.path(), "TMPDIR=" + Quote(dir / "tmp"))
                      .exitCode,
                  0);
        fs::remove_all(dir / "timed");
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    const long startupMicros = timeRun("startup");
    const long bothMicros = timeRun("both");

    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    int interrupted = 0, completed = 0;
    for (int trial = 0; trial < kInterruptTrials; ++trial) {
        const std::string out = outs[trial % outs.size()];
        const bool both = trial % 4 == 3;
        fs::remove_all(dir / "missing");
        fs::create_directories(dir / "empty");
        if (out == "empty") {
            fs::remove_all(dir / "empty");
            fs::create_directories(dir / "empty");
        }
        const auto before = Snapshot(dir.path());
        const int signal = random() % 2 ? SIGINT : SIGTERM;
        const long runMicros = both ? bothMicros : startupMicros;
        const long delay = std::uniform_int_distribution<long>(0, runMicros * 6 / 5)(random);
        const pid_t child = StartPreview({"--image", "show.gif", "--sound", kSampleWav, "--out",
                                          out, "--mode", both ? "both" : "startup"},
                                         dir.path(), dir / "tmp");
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        ::kill(child, signal);
        const int status = WaitFor(child);
        const std::string context = "trial " + std::to_string(trial) + " (seed " +
                                    std::to_string(seed) + ", --out " + out + ", signal " +
                                    std::to_string(signal) + " after " + std::to_string(delay) +
                                    " us): " + ReadText(dir / ".run-err");
        const auto after = Snapshot(dir.path());
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            ++completed;
            EXPECT_TRUE(IsCompletePreview(dir / out, both)) << context;
            EXPECT_EQ(ChangedBesideThePreview(before, after, out), "") << context;
        } else {
            ++interrupted;
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
                << context << " status " << status;
            EXPECT_EQ(Difference(before, after), "") << context;
        }
        EXPECT_TRUE(fs::is_empty(dir / "tmp")) << context;
    }
    std::printf("%d runs interrupted, %d completed before the signal (seed %u)\n", interrupted,
                completed, seed);
}

// A signal that comes once the preview is being put in place (held there until the signal has
// come, so that it arrives at that instant every time) no longer stops the run: it finishes and
// exits 0 with the preview complete, in each kind of --out (nothing there, an earlier preview
// exchanged, an empty folder written in place). Ending with the signal's status would say that
// --out was left as it was.
TEST(OutputSafety, ASignalThatComesWhileThePreviewIsPutInPlaceLetsTheRunFinish) {
    ScratchFolder dir;
    fs::create_directories(dir / "tmp");
    dir.Write("show.gif", ShowGif(8, 32));
    dir.Write("mine.txt", "the user's");
    ASSERT_EQ(RunPreviewProgram({"--image", "show.gif", "--out", "earlier"}, dir.path()).exitCode,
              0);
    fs::create_directories(dir / "empty");
    for (const std::string out : {"missing", "earlier", "empty"}) {
        for (const int signal : {SIGINT, SIGTERM}) {
            const auto before = Snapshot(dir.path());
            const pid_t child = StartPreview({"--image", "show.gif", "--out", out}, dir.path(),
                                             dir / "tmp", /*hold=*/true);
            const bool held = WaitForText(dir / ".run-err", "holding at the commit", child);
            ::kill(child, signal);
            const int status = WaitFor(child);
            const std::string context = "--out " + out + ", signal " + std::to_string(signal) +
                                        ": " + ReadText(dir / ".run-err");
            EXPECT_TRUE(held) << context;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << context << " status " << status;
            EXPECT_NE(ReadText(dir / ".run-out").find("wrote " + out + "/"), std::string::npos)
                << context;
            EXPECT_TRUE(IsCompletePreview(dir / out)) << context;
            EXPECT_EQ(ChangedBesideThePreview(before, Snapshot(dir.path()), out), "") << context;
            EXPECT_TRUE(fs::is_empty(dir / "tmp")) << context;
            fs::remove_all(dir / "missing");
            fs::remove_all(dir / "empty");
            fs::create_directories(dir / "empty");
        }
    }
}

}  // namespace
}  // namespace preview

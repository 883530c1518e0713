// Interrupt handling and the run folders; see cleanup.h.
#include "preview/cleanup.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

namespace preview {

namespace fs = std::filesystem;

namespace {

struct RunFolder {
    int fd = -1;  // holds the lock
    std::string lastName;
};

// Never destroyed: the interrupt thread may use it while the process ends.
std::map<std::string, RunFolder>& Registered() {
    static auto* folders = new std::map<std::string, RunFolder>;
    return *folders;
}

// Both set under CleanupMutex(), and never both. Ending: the interrupt thread removes the run
// folders and ends the process. Committing: the run puts its results in place and then ends as
// it would have without a signal.
std::atomic<bool> g_ending{false};
std::atomic<bool> g_committing{false};

// A signal has come (for the hold at the commit, see BeginCommit). Never destroyed.
struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    bool any = false;
};
Received& SignalReceived() {
    static auto* received = new Received;
    return *received;
}

bool SameFile(int fd, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Opens a folder (not a link to one) and takes its lock without waiting; -1 when it is held
// elsewhere or is no longer the folder at `path`.
int OpenAndLock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !SameFile(fd, path)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Removes every registered run folder. It is first renamed aside, so that a thread that still
// writes by its name (the render thread's frames) gets "no such file" instead of filling it
// again; what such a thread had begun to create just then is taken by RemoveTree's rounds.
void RemoveAllRegistered() {
    for (auto& [path, folder] : Registered()) {
        const std::string aside = path + ".gone";
        const std::string& removed = ::rename(path.c_str(), aside.c_str()) == 0 ? aside : path;
        RemoveTree(removed, folder.lastName);
        ::close(folder.fd);
    }
    Registered().clear();
}

void WaitForInterrupt(sigset_t signals) {
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        {
            std::lock_guard<std::mutex> lock(SignalReceived().mutex);
            SignalReceived().any = true;
        }
        SignalReceived().changed.notify_all();
        // Waits while folders are created, renamed or removed, and while the results are put
        // in place.
        CleanupMutex().lock();
        if (g_committing) {
            // Too late to stop the run: its results are in place, or it has failed to put them
            // there and says where they are. It ends as it would have without the signal, with
            // the exit status that tells what became of them.
            CleanupMutex().unlock();
            continue;
        }
        // The lock is kept until the process has ended, so that nothing is created or renamed
        // meanwhile, and the results are never put in place.
        g_ending = true;
        RemoveAllRegistered();
        // Ends the process the way the signal would have, so that the shell sees it.
        ::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(signal);
        std::_Exit(128 + signal);
    }
}

}  // namespace

std::recursive_mutex& CleanupMutex() {
    // Never destroyed, as Registered(): FinishRun() returns holding it.
    static auto* mutex = new std::recursive_mutex;
    return *mutex;
}

void HandleInterrupts() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM}) {
        // One that the starting process ignores (a shell's background job, for SIGINT) stays
        // ignored, as it would for any program.
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&signals, signal);
    }
    if (sigisemptyset(&signals)) return;
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(WaitForInterrupt, signals).detach();
}

void StopIfInterrupted() {
    if (!g_ending) return;
    // The interrupt thread ends the process.
    for (;;) ::pause();
}

void BeginCommit() {
    std::lock_guard<std::recursive_mutex> lock(CleanupMutex());
    g_committing = true;
    // For the tests of this very instant: the run stops here, holding the lock, says so, and
    // goes on once a signal has come (which then waits for the lock).
    const char* hold = std::getenv("BOOTREEL_PREVIEW_TEST_HOLD_AT_COMMIT");
    if (hold == nullptr || *hold == '\0') return;
    std::fprintf(stderr, "bootreel-preview: holding at the commit until a signal comes\n");
    std::fflush(stderr);
    std::unique_lock<std::mutex> wait(SignalReceived().mutex);
    SignalReceived().changed.wait(wait, [] { return SignalReceived().any; });
}

void FinishRun() {
    CleanupMutex().lock();
    RemoveAllRegistered();
}

bool CreateRunFolder(const std::string& parent, const std::string& prefix, unsigned mode,
                     const std::string& lastName, std::string* path, std::string* error) {
    std::lock_guard<std::recursive_mutex> lock(CleanupMutex());
    std::random_device random;
    const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    int lastErrno = EEXIST;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix = "-";
        for (int i = 0; i < 6; ++i) suffix += kLetters[random() % 52];
        const std::string candidate =
            (fs::path(parent) / (prefix + std::to_string(::getpid()) + suffix)).string();
        if (::mkdir(candidate.c_str(), static_cast<mode_t>(mode)) != 0) {
            lastErrno = errno;
            if (errno == EEXIST) continue;
            break;
        }
        // Between mkdir and the lock another run's cleanup may have taken the new folder
        // for an abandoned one (it is empty): then it is removed, or being removed, and a
        // new name is tried.
        const int fd = OpenAndLock(candidate);
        if (fd < 0) continue;
        Registered()[candidate] = RunFolder{fd, lastName};
        *path = candidate;
        return true;
    }
    *error = std::strerror(lastErrno);
    return false;
}

void MoveRunFolder(const std::string& path, const std::string& newPath) {
    std::lock_guard<std::recursive_mutex> lock(CleanupMutex());
    auto it = Registered().find(path);
    if (it == Registered().end()) return;
    RunFolder folder = it->second;
    Registered().erase(it);
    Registered()[newPath] = folder;
}

void KeepRunFolder(const std::string& path) {
    std::lock_guard<std::recursive_mutex> lock(CleanupMutex());
    auto it = Registered().find(path);
    if (it == Registered().end()) return;
    ::close(it->second.fd);
    Registered().erase(it);
}

void RemoveRunFolder(const std::string& path) {
    std::lock_guard<std::recursive_mutex> lock(CleanupMutex());
    auto it = Registered().find(path);
    if (it == Registered().end()) return;
    RemoveTree(path, it->second.lastName);
    ::close(it->second.fd);
    Registered().erase(it);
}

bool IsRunFolderSuffix(const std::string& rest) {
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || digits > 10 || rest.size() < digits + 7 || rest[digits] != '-') {
        return false;
    }
    for (std::size_t i = digits + 1; i < digits + 7; ++i) {
        if (!std::isalpha(static_cast<unsigned char>(rest[i]))) return false;
    }
    const std::string tail = rest.substr(digits + 7);
    return tail.empty() || tail == ".gone";
}

void RemoveAbandonedFolders(
    const std::string& parent, const std::string& prefix,
    const std::function<bool(int folderFd, const std::string& rest)>& isOurs,
    const std::string& lastName) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(parent, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const int fd = OpenAndLock(entry.path().string());
        if (fd < 0) continue;
        if (isOurs(fd, name.substr(prefix.size()))) RemoveTree(entry.path().string(), lastName);
        ::close(fd);
    }
}

bool RemoveTree(const std::string& path, const std::string& lastName) {
    // Each round empties the folder; a file that a thread was creating meanwhile makes the
    // last step fail with "not empty", and the next round takes it. Such threads stop at
    // their next file, so the rounds end.
    for (int round = 0; round < 100000; ++round) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(path, ec)) {
            if (!lastName.empty() && entry.path().filename() == lastName) continue;
            std::error_code ignored;
            fs::remove_all(entry.path(), ignored);
        }
        if (!lastName.empty()) fs::remove_all(fs::path(path) / lastName, ec);
        if (::rmdir(path.c_str()) == 0 || errno == ENOENT) return true;
        if (errno != ENOTEMPTY && errno != EEXIST) return false;
    }
    return false;
}

}  // namespace preview

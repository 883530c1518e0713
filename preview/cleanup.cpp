// Interrupt handling and the registry of folders to remove; see cleanup.h.
#include "preview/cleanup.h"

#include <pthread.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

namespace preview {

namespace fs = std::filesystem;

namespace {

std::set<std::string>& Registered() {
    static std::set<std::string> paths;
    return paths;
}

void WaitForInterrupt(sigset_t signals) {
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    {
        std::lock_guard<std::mutex> lock(CleanupMutex());
        for (const std::string& path : Registered()) {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
        Registered().clear();
        // Ends the process the way the signal would have, so that the shell sees it; the
        // lock stays held so that nothing is renamed or created meanwhile.
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

std::mutex& CleanupMutex() {
    static std::mutex mutex;
    return mutex;
}

void HandleInterrupts() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(WaitForInterrupt, signals).detach();
}

void RemoveOnInterrupt(const std::string& path) {
    std::lock_guard<std::mutex> lock(CleanupMutex());
    Registered().insert(path);
}

void KeepOnInterrupt(const std::string& path) {
    std::lock_guard<std::mutex> lock(CleanupMutex());
    Registered().erase(path);
}

bool NamesDeadProcess(const std::string& name, const std::string& prefix, std::string* rest) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
    std::size_t end = prefix.size();
    while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
    if (end == prefix.size() || end - prefix.size() > 9) return false;
    const long pid =
        std::strtol(name.substr(prefix.size(), end - prefix.size()).c_str(), nullptr, 10);
    if (pid <= 0 || pid == static_cast<long>(::getpid())) return false;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) return false;
    if (rest) *rest = name.substr(end);
    return true;
}

}  // namespace preview

// Runs bootreel-preview as a user would: in a folder, with arguments and environment, and
// keeps its exit code and both output streams.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace preview_test {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline RunResult RunPreviewProgram(const std::vector<std::string>& args, const fs::path& cwd,
                                   const std::string& environment = "") {
    const fs::path out = cwd / ".run-stdout", err = cwd / ".run-stderr";
    std::string command =
        "cd " + Quote(cwd.string()) + " && " + environment + " " + Quote(PREVIEW_EXE);
    for (const std::string& a : args) command += " " + Quote(a);
    command += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
    const int status = std::system(command.c_str());
    RunResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadText(out.string());
    r.err = ReadText(err.string());
    fs::remove(out);
    fs::remove(err);
    return r;
}

// A fresh folder per test, removed afterwards.
class ScratchFolder {
  public:
    ScratchFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // The process id keeps runs of the same test at the same time (two build trees on
        // one machine) out of each other's folders.
        path_ = fs::temp_directory_path() /
                ("preview-e2e-" + std::to_string(::getpid()) + "-" +
                 std::string(info->test_suite_name()) + "-" + info->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        std::ofstream(path_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
    }

  private:
    fs::path path_;
};

}  // namespace preview_test

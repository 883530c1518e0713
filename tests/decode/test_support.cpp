// Shared helpers of the decode tests and the test environment: a fresh device with the library
// attached, as it is when the device loads the library.
#include "test_support.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "platform/module.h"
#include "tests/platform/fixture.h"

namespace br::test {

int CountingError::live = 0;

namespace {

class LibraryEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        platform_test::FreshDevice();
        AttachLibrary(plat::GetModuleOfAddress(reinterpret_cast<const void*>(&AttachLibrary)));
    }
    void TearDown() override { DetachLibrary(); }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment());

}  // namespace

DeviceFiles::DeviceFiles() {
    static std::atomic<int> counter{0};
    const auto base = std::filesystem::temp_directory_path();
    root_ = (base / ("decode-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                .string();
    std::filesystem::create_directories(root_);
    platform_test::SetDeviceRoot(root_);
}

DeviceFiles::~DeviceFiles() {
    platform_test::SetDeviceRoot("");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::u16string DeviceFiles::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(root_ + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return u"\\" + std::u16string(name.begin(), name.end());
}

}  // namespace br::test

// Test program entry for the show's tests. The tests link the library's parts statically, so
// nothing loads it as a shared library: the environment attaches it to the process the way its
// load hook does, and detaches it at the end.
#include <gtest/gtest.h>

#include "decode/error.h"
#include "platform/module.h"

namespace {

class LibraryLife : public ::testing::Environment {
  public:
    void SetUp() override {
        static const char marker = 0;
        br::AttachLibrary(plat::GetModuleOfAddress(&marker));
    }
    void TearDown() override { br::DetachLibrary(); }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new LibraryLife);
    return RUN_ALL_TESTS();
}

// Module services: thread-local slots, string resources and atomic counters.
#include "platform/module.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/thread.h"
#include "tests/platform/fixture.h"

namespace platform_test {
namespace {

using ModuleTest = PlatformTest;

struct SlotProbe {
    std::uint32_t slot;
    void* seenBeforeSet = reinterpret_cast<void*>(1);
    void* seenAfterSet = nullptr;
};

std::uint32_t PLAT_CALLBACK ProbeSlot(void* parameter) {
    auto* probe = static_cast<SlotProbe*>(parameter);
    probe->seenBeforeSet = plat::TlsGetValue(probe->slot);
    plat::TlsSetValue(probe->slot, probe);
    probe->seenAfterSet = plat::TlsGetValue(probe->slot);
    return 0;
}

TEST_F(ModuleTest, ASlotHoldsOneValuePerThread) {
    const std::uint32_t slot = plat::TlsAlloc();
    ASSERT_NE(slot, plat::TLS_OUT_OF_INDEXES);
    EXPECT_EQ(plat::TlsGetValue(slot), nullptr);
    int mine = 0;
    ASSERT_TRUE(plat::TlsSetValue(slot, &mine));

    SlotProbe probe{slot};
    plat::HANDLE thread = plat::CreateThread(nullptr, 0, ProbeSlot, &probe, 0, nullptr);
    ASSERT_EQ(plat::WaitForSingleObject(thread, plat::INFINITE), plat::WAIT_OBJECT_0);
    plat::CloseHandle(thread);
    EXPECT_EQ(probe.seenBeforeSet, nullptr);
    EXPECT_EQ(probe.seenAfterSet, &probe);
    EXPECT_EQ(plat::TlsGetValue(slot), &mine);

    ASSERT_TRUE(plat::TlsFree(slot));
    EXPECT_FALSE(plat::TlsSetValue(slot, &mine));
    // A slot allocated again starts empty, whatever an earlier owner left in it.
    const std::uint32_t again = plat::TlsAlloc();
    EXPECT_EQ(plat::TlsGetValue(again), nullptr);
    plat::TlsFree(again);
}

TEST_F(ModuleTest, LoadStringCopiesWhatFitsAndTerminates) {
    static const plat::StringResource table[] = {{46001, u"Generic error"}, {46002, u"abc"}};
    plat::HMODULE module = plat::GetModuleOfAddress(reinterpret_cast<const void*>(&ProbeSlot));
    ASSERT_NE(module, nullptr);
    plat::SetModuleStrings(module, table, 2);

    struct Case {
        std::uint32_t id;
        int capacity;
        int expectedCount;
        std::u16string expectedText;
    };
    const Case cases[] = {
        {46001, 64, 13, u"Generic error"},
        {46001, 14, 13, u"Generic error"},  // exactly fits with its terminator
        {46001, 8, 7, u"Generic"},          // cut to capacity - 1
        {46001, 1, 0, u""},
        {46002, 4, 3, u"abc"},
        {46099, 64, 0, u""},  // no such string
    };
    for (const auto& c : cases) {
        char16_t buffer[64];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(plat::LoadString(module, c.id, buffer, c.capacity), c.expectedCount) << c.id;
        EXPECT_EQ(std::u16string(buffer), c.expectedText) << c.id << " capacity " << c.capacity;
    }
    char16_t untouched = u'#';
    EXPECT_EQ(plat::LoadString(module, 46001, &untouched, 0), 0);
    EXPECT_EQ(untouched, u'#');
}

TEST_F(ModuleTest, InterlockedCountersAreAtomic) {
    volatile std::int32_t counter = 0;
    auto bump = [&] {
        for (int i = 0; i < 10000; ++i) {
            plat::InterlockedIncrement(&counter);
            plat::InterlockedDecrement(&counter);
            plat::InterlockedIncrement(&counter);
        }
    };
    std::thread a(bump), b(bump);
    a.join();
    b.join();
    EXPECT_EQ(counter, 20000);
    EXPECT_EQ(plat::InterlockedDecrement(&counter), 19999);
}

}  // namespace
}  // namespace platform_test

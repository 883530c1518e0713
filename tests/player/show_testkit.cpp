// See show_testkit.h.
#include "show_testkit.h"

namespace showtest {

std::vector<std::string> ScreenRows(const plat::sim::ScreenShot& shot, int left, int top, int width,
                                    int height) {
    std::vector<std::string> rows;
    for (int y = top; y < top + height; ++y) {
        std::string row;
        for (int x = left; x < left + width; ++x) {
            const std::uint8_t* p = &shot.bgr[(static_cast<std::size_t>(y) * shot.width + x) * 3];
            const char letter = LetterOf(p[2], p[1], p[0]);
            row.push_back(letter);
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> ScreenRows(const plat::sim::ScreenShot& shot) {
    return ScreenRows(shot, 0, 0, shot.width, shot.height);
}

namespace {

struct ActionRecord {
    std::uint64_t atMs;
    std::function<void()> action;
};

std::uint32_t PLAT_CALLBACK RunAction(void* parameter) {
    std::unique_ptr<ActionRecord> record(static_cast<ActionRecord*>(parameter));
    const std::uint64_t now = plat::sim::Now();
    if (record->atMs > now) plat::Sleep(static_cast<std::uint32_t>(record->atMs - now));
    record->action();
    return 0;
}

}  // namespace

void ShowFixture::SetUp() {
    Boot(plat::sim::DeviceConfig{});
}

void ShowFixture::TearDown() {
    JoinActions();
    plat::sim::SetScreenCopyObserver(nullptr);
}

void ShowFixture::Boot(plat::sim::DeviceConfig config) {
    JoinActions();
    folder_ = std::make_unique<DeviceFolder>();
    config.deviceRoot = folder_->HostRoot();
    config.clock = plat::sim::ClockMode::Virtual;
    plat::sim::Reset(config);
    {
        std::lock_guard<std::mutex> lock(copiesLock_);
        copies_.clear();
    }
    plat::sim::SetScreenCopyObserver([this](const plat::sim::ScreenShot& shot) {
        std::lock_guard<std::mutex> lock(copiesLock_);
        copies_.push_back(shot);
    });
    endRequest_ = NewEvent();
    done_ = NewEvent();
    start_ = plat::sim::Live();
}

std::u16string ShowFixture::InstallPicture(const std::u16string& key,
                                           const std::vector<std::uint8_t>& gif,
                                           const std::string& name) {
    const std::u16string path = folder_->Put(name, gif);
    SetRegistryPath(key, u"Image", path);
    return path;
}

std::u16string ShowFixture::InstallSound(const std::u16string& key, std::uint32_t durationMs,
                                         std::uint32_t initVol) {
    const std::u16string path = folder_->Put("sound.wav", MakeWav(durationMs));
    SetRegistryPath(key, u"WAV", path);
    plat::sim::SetRegistryDword(plat::HKEY_ROOT_CURRENT_USER,
                                u"ControlPanel\\SoundCategories\\System", u"InitVol", initVol);
    return path;
}

void ShowFixture::SetRegistryPath(const std::u16string& key, const std::u16string& value,
                                  const std::u16string& path) {
    plat::sim::SetRegistryString(plat::HKEY_ROOT_LOCAL_MACHINE, u"Software\\Korvel\\" + key, value,
                                 path);
}

void ShowFixture::At(std::uint64_t atMs, std::function<void()> action) {
    auto* record = new ActionRecord{atMs, std::move(action)};
    plat::HANDLE thread = plat::CreateThread(nullptr, 0, RunAction, record, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    actions_.push_back(thread);
}

void ShowFixture::JoinActions() {
    for (plat::HANDLE thread : actions_) {
        plat::WaitForSingleObject(thread, plat::INFINITE);
        plat::CloseHandle(thread);
    }
    actions_.clear();
}

std::vector<plat::sim::ScreenShot> ShowFixture::Copies() {
    std::lock_guard<std::mutex> lock(copiesLock_);
    return copies_;
}

std::vector<std::vector<std::string>> ShowFixture::ScreensShown(int left, int top, int width,
                                                                int height) {
    std::vector<std::vector<std::string>> shown;
    for (const auto& shot : Copies()) {
        auto rows = ScreenRows(shot, left, top, width, height);
        if (shown.empty() || shown.back() != rows) shown.push_back(rows);
    }
    return shown;
}

std::vector<ShowFixture::Delivery> ShowFixture::ShowWindowMessages() {
    std::vector<Delivery> result;
    for (const auto& record : plat::sim::DeliveredMessages()) {
        if (record.windowClass != u"StartUpAnimation") continue;
        if (!result.empty() && result.back().message == record.message && record.message == 0x466) {
            ++result.back().count;
        } else {
            result.push_back(Delivery{record.message, 1});
        }
    }
    return result;
}

std::uint64_t ShowFixture::FirstDelivery(std::uint32_t message) {
    for (const auto& record : plat::sim::DeliveredMessages()) {
        if (record.windowClass == u"StartUpAnimation" && record.message == message) {
            return record.timeMs;
        }
    }
    return UINT64_MAX;
}

plat::HANDLE ShowFixture::NewEvent() {
    return plat::CreateEvent(nullptr, true, false, nullptr);
}

void ExpectSameLiveObjects(const plat::sim::Counts& before, const plat::sim::Counts& after) {
    EXPECT_EQ(after.windows, before.windows) << "windows";
    EXPECT_EQ(after.classes, before.classes) << "window classes";
    EXPECT_EQ(after.threads, before.threads) << "threads";
    EXPECT_EQ(after.handles, before.handles) << "handles";
    EXPECT_EQ(after.gdiObjects, before.gdiObjects) << "bitmaps and brushes";
    EXPECT_EQ(after.deviceContexts, before.deviceContexts) << "device contexts";
    EXPECT_EQ(after.bitmapBytes, before.bitmapBytes) << "bitmap memory";
    EXPECT_EQ(after.timers, before.timers) << "timers";
}

std::ostream& operator<<(std::ostream& out, const ShowFixture::Delivery& delivery) {
    out << "0x" << std::hex << delivery.message << std::dec;
    if (delivery.count != 1) out << " x" << delivery.count;
    return out;
}

}  // namespace showtest

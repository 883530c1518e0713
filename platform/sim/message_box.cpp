// Message boxes on the simulated device. Nobody is there to press a button, so a message box
// writes its caption and text as one line and answers at once as if OK had been pressed.
#include <cstdio>
#include <functional>
#include <mutex>

#include "platform/sim/device.h"
#include "platform/sim/internal.h"
#include "platform/window.h"

namespace plat {

namespace {

using Handler = std::function<void(const std::u16string& text, const std::u16string& caption)>;

struct MessageBoxes {
    std::mutex mutex;
    Handler handler;
};

MessageBoxes& TheMessageBoxes() {
    static MessageBoxes boxes;
    return boxes;
}

constexpr int kIdOk = 1;

}  // namespace

int MessageBox(HWND /*owner*/, const char16_t* text, const char16_t* caption,
               std::uint32_t /*style*/) {
    const std::u16string body = text ? text : u"";
    const std::u16string title = caption ? caption : u"Error";  // the system's default caption
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(TheMessageBoxes().mutex);
        handler = TheMessageBoxes().handler;
    }
    if (handler) {
        handler(body, title);
    } else {
        const std::string line =
            sim::detail::ToUtf8(title) + ": " + sim::detail::ToUtf8(body) + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    }
    return kIdOk;
}

namespace sim {

void SetMessageBoxHandler(
    std::function<void(const std::u16string& text, const std::u16string& caption)> handler) {
    std::lock_guard<std::mutex> lock(TheMessageBoxes().mutex);
    TheMessageBoxes().handler = std::move(handler);
}

void detail::ResetMessageBoxes() {
    std::lock_guard<std::mutex> lock(TheMessageBoxes().mutex);
    TheMessageBoxes().handler = nullptr;
}

}  // namespace sim

}  // namespace plat

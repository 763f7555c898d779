#include "app/desktop_start.h"

#include <gtest/gtest.h>

#include <optional>

#include "fakes/test_support.h"

namespace tessarine {
namespace {

using testing::ScopedEnv;

// Tray mode without a reachable display is refused with a reason instead of Qt's abort.
TEST(DesktopStartTest, DisplayProblemNamesAMissingOrUnreachableDisplay) {
    const struct {
        const char* platform;  // nullptr: unset
        const char* display;
        const char* wayland;
        const char* problem;  // "" when the display is taken as usable
    } cases[] = {
        {nullptr, nullptr, nullptr, "no display: DISPLAY is not set"},
        {"xcb", nullptr, "wayland-0", "no display: DISPLAY is not set"},
        {nullptr, ":29871", nullptr, "cannot reach the X display :29871"},
        {nullptr, "unix:29871.0", nullptr, "cannot reach the X display unix:29871.0"},
        {nullptr, nullptr, "wayland-0", ""},
        {"offscreen", nullptr, nullptr, ""},
        {nullptr, "otherhost:0", nullptr, ""},
    };
    for (const auto& c : cases) {
        auto value = [](const char* text) {
            return text ? std::optional<std::string>(text) : std::nullopt;
        };
        ScopedEnv platform("QT_QPA_PLATFORM", value(c.platform));
        ScopedEnv display("DISPLAY", value(c.display));
        ScopedEnv wayland("WAYLAND_DISPLAY", value(c.wayland));
        EXPECT_EQ(c.problem, DisplayProblem())
            << (c.platform ? c.platform : "-") << " " << (c.display ? c.display : "-");
    }
}

}  // namespace
}  // namespace tessarine

// The tray's pictures: the normal icon, the busy icon and the twelve frames of its animation
// (drawn by scripts/draw-tray-icons, compiled in as Qt resources).
#pragma once

#include <QIcon>
#include <array>

namespace tessarine::tray {

inline constexpr int kBusyFrameCount = 12;

struct TrayIcons {
    QIcon normal;
    QIcon busy;
    std::array<QIcon, kBusyFrameCount> frames;
};

// Loads the icons from the resources; an icon that cannot be loaded is null (logged).
TrayIcons LoadTrayIcons();

}  // namespace tessarine::tray

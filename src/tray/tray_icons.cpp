#include "tray/tray_icons.h"

#include <QString>

#include "base/app_log.h"

// The resources of a static library are registered by hand.
static void InitTrayIconResources() { Q_INIT_RESOURCE(tray_icons); }

namespace tessarine::tray {
namespace {

QIcon LoadIcon(const QString& name) {
    QIcon icon(QStringLiteral(":/tray/") + name);
    if (icon.availableSizes().isEmpty()) {
        LOG_ERROR("Load Icon Error. Icon:" + name.toStdString());
    }
    return icon;
}

}  // namespace

TrayIcons LoadTrayIcons() {
    InitTrayIconResources();
    TrayIcons icons;
    icons.normal = LoadIcon(QStringLiteral("normal.png"));
    icons.busy = LoadIcon(QStringLiteral("busy.png"));
    for (int n = 0; n < kBusyFrameCount; ++n) {
        icons.frames[n] = LoadIcon(QStringLiteral("busy_%1.png").arg(n, 2, 10, QLatin1Char('0')));
    }
    return icons;
}

}  // namespace tessarine::tray

#include "tray/tray_window.h"

#include "base/app_log.h"
#include "tray/tray_tip.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::tray {

CTrayWnd::CTrayWnd(TrayState state, TrayIcons icons, QObject* parent)
    : QObject(parent), state_(state), icons_(std::move(icons)) {
    animation_.setInterval(kFrameIntervalMs);
    connect(&animation_, &QTimer::timeout, this, &CTrayWnd::AnimationStep);
    connect(&icon_, &QSystemTrayIcon::activated, this, &CTrayWnd::OnActivated);
}

CTrayWnd::~CTrayWnd() {
    animation_.stop();
    icon_.hide();
}

std::string CTrayWnd::Title() const { return title_; }

void CTrayWnd::Create() {
    LOG_METHOD();
    NotifyIcon();
    icon_.show();
}

bool CTrayWnd::IsBusy() const {
    return state_.backupExecuting.load() != 0 || state_.detectFileExecuting.load() != 0;
}

void CTrayWnd::NotifyIcon() {
    title_ = ui::LoadText(ui::kStrTrayTip);
    const bool busy = IsBusy();
    icon_.setIcon(busy ? icons_.busy : icons_.normal);
    icon_.setToolTip(QString::fromStdString(busy ? title_ : IdleTip()));
    if (!busy) {
        animation_.stop();
        frame_ = -1;
    } else if (!animation_.isActive()) {
        animation_.start();
    }
}

void CTrayWnd::AnimationStep() {
    if (!IsBusy()) {
        // Both runs ended without a message reaching us yet: back to the normal icon.
        NotifyIcon();
        return;
    }
    frame_ = (frame_ + 1) % kBusyFrameCount;
    icon_.setIcon(icons_.frames[frame_]);
    icon_.setToolTip(QString::fromStdString(
        MakeTrayTip(title_, state_.progress.totalCount.load(), state_.progress.doneCount.load())));
}

void CTrayWnd::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) OnDoubleClick();
    if (reason == QSystemTrayIcon::Context) OnContextMenu();
}

}  // namespace tessarine::tray

// The tray icon: the normal icon with the program's title as its tip, the busy icon while a
// backup or a forwarding run is active, and the busy animation (twelve frames, 100 ms each,
// driven by a timer on the UI thread) with the backup's progress in the tip.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <atomic>
#include <string>

#include "core/progress_counters.h"
#include "tray/tray_icons.h"

namespace tessarine::tray {

// What the icon reflects; owned by the application.
struct TrayState {
    const std::atomic<int>& backupExecuting;
    const std::atomic<int>& detectFileExecuting;
    const BackupProgress& progress;
};

class CTrayWnd : public QObject {
    Q_OBJECT

public:
    static constexpr int kFrameIntervalMs = 100;

    CTrayWnd(TrayState state, TrayIcons icons, QObject* parent = nullptr);
    ~CTrayWnd() override;

    // Shows the icon with its tip.
    void Create();
    // Sets the icon from the executing flags (WM_EXECUTE_STATE_CHANGED): busy starts the
    // animation, normal stops it.
    void NotifyIcon();

    bool IsBusy() const;
    bool IsAnimating() const { return animation_.isActive(); }
    // The frame shown last (0-11), -1 when no frame has been shown since the icon went busy.
    int Frame() const { return frame_; }
    QSystemTrayIcon& TrayIcon() { return icon_; }
    // One animation step, as the timer makes it.
    void AnimationStep();

protected:
    virtual void OnDoubleClick() {}
    // The tool tip while nothing runs; the title alone here.
    virtual std::string IdleTip() const { return title_; }
    virtual void OnContextMenu() {}
    std::string Title() const;
    const TrayState& State() const { return state_; }

private:
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

    TrayState state_;
    TrayIcons icons_;
    QSystemTrayIcon icon_;
    QTimer animation_;
    int frame_ = -1;
    std::string title_;  // string 10007, read when the icon is set
};

}  // namespace tessarine::tray

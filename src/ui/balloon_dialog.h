// The notification pop-up (dialog 101): tells that a backup ended or that designated files were
// detected, sits in the bottom-right corner of the work area (where the tray is) above other
// windows, closes itself after the configured seconds (0 keeps it open; the mouse over it keeps
// it open too) and offers "結果" to open the matching result tab.
#pragma once

#include <QDialog>
#include <QTimer>
#include <chrono>

#include "core/message_sink.h"

class QLabel;

namespace tessarine::ui {

class CNotifyBalloonDlg : public QDialog {
    Q_OBJECT
public:
    // `second`: how long one second of the display time lasts (tests shorten it).
    explicit CNotifyBalloonDlg(std::chrono::milliseconds second = std::chrono::seconds(1),
                               QWidget* parent = nullptr);

    // Shows (or shows again, with the new text and a restarted timer) the pop-up for `request`:
    // kind 1125 or 1126, the run's result, and `value` seconds before it closes (0 or less: it
    // stays until closed).
    void ShowRequest(const BalloonRequest& request);

    int Kind() const { return kind_; }
    QString Text() const;
    bool IsCloseTimerActive() const { return closeTimer_.isActive(); }

signals:
    // "結果": open the result window on the page of `kind` (WM_SHOW_RESULT).
    void ShowResultRequested(int kind);

protected:
    void enterEvent(QEnterEvent* event) override;

private:
    void Close();
    void PlaceInCorner();

    std::chrono::milliseconds second_;
    QLabel* text_;
    QTimer closeTimer_;
    int kind_ = 0;
};

}  // namespace tessarine::ui

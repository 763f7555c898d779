// A systemd-logind delay inhibitor over the system D-Bus: while it is held, logind waits (up to
// its InhibitDelayMaxSec) before shutting down, and tells us first with PrepareForShutdown.
// Without logind or a system bus nothing is held and nothing is reported but a log line.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace tessarine::tray {

// A copy of `fd` that the program's children (the browser, the shutdown command) do not
// inherit: a lock held by a child would make every shutdown wait for it. -1 on failure.
int DuplicateForThisProcess(int fd);

class CLogindInhibitor : public QObject {
    Q_OBJECT

public:
    // `onPrepareForShutdown` runs on the UI thread when logind announces a shutdown.
    explicit CLogindInhibitor(std::function<void()> onPrepareForShutdown,
                              QObject* parent = nullptr);
    ~CLogindInhibitor() override;

    // Takes a "shutdown" delay lock with `why` shown by logind; false when it cannot.
    bool Take(const QString& why);
    // Lets the lock go (closing its descriptor); nothing when none is held.
    void Release();
    bool IsHeld() const { return fd_ >= 0; }

private slots:
    void OnPrepareForShutdown(bool starting);

private:
    std::function<void()> onPrepareForShutdown_;
    int fd_ = -1;
    bool watching_ = false;
};

}  // namespace tessarine::tray

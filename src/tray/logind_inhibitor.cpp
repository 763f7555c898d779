#include "tray/logind_inhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include "base/app_log.h"

namespace tessarine::tray {
namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

int DuplicateForThisProcess(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }

CLogindInhibitor::CLogindInhibitor(std::function<void()> onPrepareForShutdown, QObject* parent)
    : QObject(parent), onPrepareForShutdown_(std::move(onPrepareForShutdown)) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        LOG_TRACE("No System Bus: shutdown is not announced");
        return;
    }
    watching_ = bus.connect(kService, kPath, kManager, QStringLiteral("PrepareForShutdown"), this,
                            SLOT(OnPrepareForShutdown(bool)));
    if (!watching_) LOG_TRACE("PrepareForShutdown not available");
}

CLogindInhibitor::~CLogindInhibitor() { Release(); }

bool CLogindInhibitor::Take(const QString& why) {
    if (fd_ >= 0) return true;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return false;
    QDBusInterface manager(kService, kPath, kManager, bus);
    if (!manager.isValid()) {
        LOG_TRACE("No logind: no shutdown inhibitor");
        return false;
    }
    const QDBusReply<QDBusUnixFileDescriptor> reply =
        manager.call(QStringLiteral("Inhibit"), QStringLiteral("shutdown"),
                     QStringLiteral("TessarineTool"), why, QStringLiteral("delay"));
    if (!reply.isValid() || !reply.value().isValid()) {
        LOG_NOTICE("Shutdown Inhibitor Refused. " + reply.error().message().toStdString());
        return false;
    }
    fd_ = DuplicateForThisProcess(reply.value().fileDescriptor());
    return fd_ >= 0;
}

void CLogindInhibitor::Release() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

void CLogindInhibitor::OnPrepareForShutdown(bool starting) {
    LOG_NOTICE(std::string("PrepareForShutdown ") + (starting ? "TRUE" : "FALSE"));
    if (starting && onPrepareForShutdown_) onPrepareForShutdown_();
}

}  // namespace tessarine::tray

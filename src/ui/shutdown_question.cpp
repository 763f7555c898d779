#include "ui/shutdown_question.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

#include "backup/shutdown_after_backup.h"
#include "base/app_log.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {
namespace {

constexpr int kClosedCheckMs = 250;

}  // namespace

QMessageBox* ShowShutdownQuestion(std::shared_ptr<ShutdownAnswer> answer) {
    LOG_METHOD();
    auto* box = new QMessageBox(
        QMessageBox::Warning, QString::fromStdString(LoadText(kStrConfirmCaption)),
        QString::fromUtf8(kShutdownQuestionText), QMessageBox::Yes | QMessageBox::No);
    box->setObjectName(QStringLiteral("shutdownQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    box->setAccessibleName(box->text());
    for (QAbstractButton* button : box->buttons()) {
        button->setAccessibleName(button->text().remove(QLatin1Char('&')));
    }
    QObject::connect(box, &QMessageBox::finished, box, [answer](int result) {
        if (answer->IsClosed()) return;
        if (result == QMessageBox::Yes) {
            LOG_NOTICE("choose  Yes Button");
            answer->Answer(true);
        } else if (result == QMessageBox::No) {
            LOG_NOTICE("choose  No Button");
            answer->Answer(false);
        } else {
            LOG_NOTICE("choose  Other");
            answer->Answer(true);
        }
    });
    auto* watch = new QTimer(box);
    QObject::connect(watch, &QTimer::timeout, box, [box, answer] {
        if (answer->IsClosed()) box->close();
    });
    watch->start(kClosedCheckMs);
    box->show();
    box->raise();
    return box;
}

}  // namespace tessarine::ui

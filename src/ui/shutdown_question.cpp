#include "ui/shutdown_question.h"

#include <QMessageBox>
#include <QTimer>

#include "backup/shutdown_after_backup.h"
#include "base/app_log.h"
#include "ui/question_box.h"

namespace tessarine::ui {
namespace {

constexpr int kClosedCheckMs = 250;

}  // namespace

QMessageBox* ShowShutdownQuestion(std::shared_ptr<ShutdownAnswer> answer) {
    LOG_METHOD();
    // The program's standard box, owned by no window: the program's title is its caption.
    auto* box = MakeQuestionBox(QMessageBox::Warning, ProgramTitle(),
                                QString::fromUtf8(kShutdownQuestionText));
    box->setObjectName(QStringLiteral("shutdownQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
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

#include "ui/question_box.h"

#include <QAbstractButton>
#include <QCoreApplication>

#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {

QMessageBox* MakeQuestionBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                             QWidget* parent) {
    auto* box = new QMessageBox(icon, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box->button(QMessageBox::Yes)->setText(QString::fromStdString(LoadText(kStrYesButton)));
    box->button(QMessageBox::No)->setText(QString::fromStdString(LoadText(kStrNoButton)));
    box->setAccessibleName(text);
    for (QAbstractButton* button : box->buttons())
        button->setAccessibleName(button->text().remove(QLatin1Char('&')));
    return box;
}

QString ProgramTitle() {
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("TessarineTool") : name;
}

}  // namespace tessarine::ui

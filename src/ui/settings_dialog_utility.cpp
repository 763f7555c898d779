#include "ui/settings_dialog_utility.h"

#include <QLineEdit>
#include <QMessageBox>
#include <memory>

#include "ui/question_box.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {

void QtMessagePresenter::Warning(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox::warning(parent, caption, text);
}

void QtMessagePresenter::Information(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox::information(parent, caption, text);
}

bool QtMessagePresenter::AskYesNo(QWidget* parent, const QString& caption, const QString& text) {
    std::unique_ptr<QMessageBox> box(MakeQuestionBox(QMessageBox::Question, caption, text, parent));
    return box->exec() == QMessageBox::Yes;
}

QString FillMessage(const std::string& pattern, const std::string& first,
                    const std::string& second) {
    std::string text = pattern;
    for (const std::string* value : {&first, &second}) {
        const auto mark = text.find("%s");
        if (mark == std::string::npos) break;
        text.replace(mark, 2, *value);
    }
    return QString::fromStdString(text);
}

CDialogUtility::CDialogUtility(QWidget& owner, const CLrcReaderWrapper& strings,
                               MessagePresenter& messages)
    : owner_(owner), strings_(strings), messages_(messages) {}

void CDialogUtility::ShowWarning(unsigned messageId) {
    ShowWarningText(QString::fromStdString(strings_.Text(messageId)));
}

void CDialogUtility::ShowWarningText(const QString& text) {
    messages_.Warning(&owner_, QString::fromStdString(strings_.Text(kStrErrorCaption)), text);
}

bool CDialogUtility::AskDiscardBackupChanges() {
    return messages_.AskYesNo(&owner_, QString::fromStdString(strings_.Text(kStrConfirmCaption)),
                              QString::fromStdString(strings_.Text(kStrDiscardBackupChanges)));
}

void CDialogUtility::SetMessageIds(unsigned fieldNameId, unsigned rangeTextId,
                                   unsigned formTextId) {
    fieldNameId_ = fieldNameId;
    rangeTextId_ = rangeTextId;
    formTextId_ = formTextId;
}

bool CDialogUtility::ValidateNumber(const QLineEdit& edit, long minimum, long maximum, bool show) {
    const std::string text = edit.text().toStdString();
    const std::string field = strings_.Text(fieldNameId_);
    if (text.empty()) {
        if (show) ShowWarningText(FillMessage(strings_.Text(kStrEnterValue), field));
        return false;
    }
    // Byte-wise: a full-width digit is not one of 0-9.
    for (const char c : text) {
        if (c < '0' || c > '9') {
            if (show)
                ShowWarningText(FillMessage(strings_.Text(kStrValueBadForm), field,
                                            strings_.Text(formTextId_)));
            return false;
        }
    }
    // Long digit runs would overflow; anything past ten digits is out of every range here.
    const long value = text.size() > 10 ? maximum + 1 : std::stol(text);
    if (value < minimum || value > maximum) {
        if (show)
            ShowWarningText(FillMessage(strings_.Text(kStrValueOutOfRange), field,
                                        strings_.Text(rangeTextId_)));
        return false;
    }
    return true;
}

bool CDialogUtility::ValidatePort(const QLineEdit& edit, unsigned fieldNameId, bool show) {
    SetMessageIds(fieldNameId, kStrRangePort, kStrFormDigits);
    return ValidateNumber(edit, 0, 65535, show);
}

bool CDialogUtility::IsValidIPv4Text(const std::string& text) {
    return !text.empty() && text != "0.0.0.0";
}

}  // namespace tessarine::ui

#include "ui/result_detail_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/result_text.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {

CDetectFileResultDetailDlg::CDetectFileResultDetailDlg(const CDetectFileResult& result,
                                                       const CLrcReaderWrapper& strings,
                                                       QWidget* parent)
    : QDialog(parent) {
    setObjectName(ControlObjectName(kDlgDetectFileResultDetail));
    setWindowTitle(QString::fromStdString(
        strings.Caption(kDlgDetectFileResultDetail, kDlgDetectFileResultDetail)));
    auto* form = new QFormLayout;
    auto addRow = [&](unsigned labelId, unsigned fieldId, QWidget* field) {
        auto* label = new QLabel(this);
        label->setObjectName(ControlObjectName(labelId));
        label->setBuddy(field);
        field->setObjectName(ControlObjectName(fieldId));
        form->addRow(label, field);
    };
    auto* name = new QLineEdit(QString::fromStdString(result.fileName), this);
    ShowAsReadOnly(*name);
    addRow(1092, 1091, name);
    auto* path = new QLineEdit(QString::fromStdString(result.filePath), this);
    ShowAsReadOnly(*path);
    addRow(1094, 1093, path);
    // Qt shows CR LF as two breaks; the box shows the text with plain line ends.
    QString content =
        QString::fromStdString(BuildDetectionContent(result.details, strings.Text(kStrCountUnit)));
    content.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    auto* contentEdit = new QPlainTextEdit(content, this);
    contentEdit->setReadOnly(true);
    addRow(1095, 1096, contentEdit);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    ok->setObjectName(ControlObjectName(kCtlOk));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    ApplyCaptions(*this, kDlgDetectFileResultDetail, strings);
    setAccessibleName(windowTitle());
    resize(520, 360);
}

}  // namespace tessarine::ui

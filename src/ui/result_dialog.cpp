#include "ui/result_dialog.h"

#include <QTabWidget>
#include <QVBoxLayout>

#include "base/app_log.h"
#include "core/message_sink.h"
#include "ui/result_backup_page.h"
#include "ui/result_detect_page.h"
#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {

CResultDlg::CResultDlg(std::string backupFolderPath, CDetectFileResultSource& source,
                       QWidget* parent)
    : QDialog(parent, Qt::Window), strings_(std::make_unique<CLrcReaderWrapper>()) {
    setObjectName(ControlObjectName(kDlgResult));
    setWindowTitle(QString::fromStdString(strings_->Text(kStrResultTitle)));
    setAccessibleName(windowTitle());
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(ControlObjectName(1084));
    backupPage_ = new CBackupResultDlg(std::move(backupFolderPath), *strings_, tabs_);
    detectPage_ = new CDetectFileResultDlg(source, *strings_, tabs_);
    for (QWidget* page : {static_cast<QWidget*>(backupPage_), static_cast<QWidget*>(detectPage_)}) {
        const unsigned id = ControlIdOf(page->objectName());
        const QString title = QString::fromStdString(strings_->Caption(id, id));
        tabs_->addTab(page, title);
        page->setAccessibleName(AccessibleNameOf(title));
    }
    tabs_->setAccessibleName(windowTitle());
    connect(backupPage_, &CBackupResultDlg::CloseRequested, this, &QDialog::hide);
    connect(detectPage_, &CDetectFileResultDlg::CloseRequested, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    resize(700, 420);
}

CResultDlg::~CResultDlg() = default;

void CResultDlg::ShowForKind(int kind) {
    LOG_TRACE("Kind:" + std::to_string(kind));
    const bool wasVisible = isVisible();
    int tab = tabs_->currentIndex();
    if (kind == kBalloonBackupResult) tab = 0;
    if (kind == kBalloonDetectFileResult) tab = 1;
    const bool tabChanges = tab != tabs_->currentIndex();
    tabs_->setCurrentIndex(tab);
    // A page reads its files or rows when it is shown; an already shown page is read again.
    if (wasVisible && !tabChanges) {
        if (tab == 0) backupPage_->Reload();
        if (tab == 1) detectPage_->Reload();
    }
    show();
    raise();
    activateWindow();
}

}  // namespace tessarine::ui

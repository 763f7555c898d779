#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/strings/caption_apply.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"
#include "ui/window_placement.h"

namespace tessarine::ui {

CAboutDlg::CAboutDlg(const std::string& programVersion, QWidget* parent)
    : QDialog(parent, Qt::Window) {
    CLrcReaderWrapper strings;
    setObjectName(ControlObjectName(kDlgAbout));
    setWindowTitle(QString::fromStdString(strings.Caption(kDlgAbout, kDlgAbout)));
    setAccessibleName(windowTitle());
    auto line = [this](unsigned id, const std::string& text) {
        auto* label = new QLabel(QString::fromStdString(text), this);
        label->setObjectName(ControlObjectName(id));
        label->setAccessibleName(label->text());
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    auto* icon = new QLabel(this);
    icon->setObjectName(ControlObjectName(1005));
    icon->setPixmap(QGuiApplication::windowIcon().pixmap(32, 32));
    icon->setAccessibleName(QString::fromStdString(strings.Text(kStrTrayTip)));
    auto* texts = new QVBoxLayout;
    texts->addWidget(line(1000, strings.Text(kStrTrayTip)));
    texts->addWidget(line(1002, "Version " + programVersion));
    texts->addWidget(line(1003, "Language " + strings.Caption(kDlgAbout, 1003) + " (" +
                                    strings.Text(kStrVersion) + ")"));
    texts->addWidget(line(1004, kCopyrightText));
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QString::fromStdString(strings.Caption(kDlgAbout, kCtlOk)),
                                  QDialogButtonBox::AcceptRole);
    ok->setObjectName(ControlObjectName(kCtlOk));
    ok->setAccessibleName(AccessibleNameOf(ok->text()));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    MakeFixedSize(*this);
    adjustSize();
    // In the corner, placed again once the window manager has framed it.
    PlaceInCorner(*this);
}

}  // namespace tessarine::ui

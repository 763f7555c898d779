// The program's yes/no questions: a message box whose buttons read in Japanese (はい/いいえ,
// from the string table) whatever language Qt itself runs in.
#pragma once

#include <QMessageBox>

namespace tessarine::ui {

// A box with the buttons Yes and No, named after their texts for the accessibility tools.
QMessageBox* MakeQuestionBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                             QWidget* parent = nullptr);

// The program's title for boxes that belong to no window (the executable's name).
QString ProgramTitle();

}  // namespace tessarine::ui

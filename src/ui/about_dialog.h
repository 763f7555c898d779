// The version box (dialog 100, "バージョン情報"): the program's description, its version, the
// language of the texts with the version of the string table (string 10000) and the copyright.
#pragma once

#include <QDialog>
#include <string>

namespace tessarine::ui {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // `programVersion`: the executable's version ("1.0.0").
    explicit CAboutDlg(const std::string& programVersion, QWidget* parent = nullptr);
};

// The copyright line of the version box.
inline constexpr char kCopyrightText[] = "Copyright (C) corvane";

}  // namespace tessarine::ui

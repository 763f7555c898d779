// The detail box of one detection result (dialog 144): file name, file path and the detected
// content grouped by category.
#pragma once

#include <QDialog>

#include "detection/detect_file_result.h"

namespace tessarine::ui {

class CLrcReaderWrapper;

class CDetectFileResultDetailDlg : public QDialog {
    Q_OBJECT
public:
    CDetectFileResultDetailDlg(const CDetectFileResult& result, const CLrcReaderWrapper& strings,
                               QWidget* parent = nullptr);
};

}  // namespace tessarine::ui

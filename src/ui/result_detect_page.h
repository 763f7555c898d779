// The detection tab of the result window (dialog 142): the stored detection results, newest
// first, read page by page, and "詳細" to open the hits of the chosen result.
#pragma once

#include <QWidget>
#include <functional>

#include "ui/result_detect_model.h"

class QTableView;
class QPushButton;

namespace tessarine::ui {

class CLrcReaderWrapper;

class CDetectFileResultDlg : public QWidget {
    Q_OBJECT
public:
    CDetectFileResultDlg(CDetectFileResultSource& source, const CLrcReaderWrapper& strings,
                         QWidget* parent = nullptr);

    // Reads the list again from its first page (done each time the page is shown).
    void Reload();
    // "詳細": with exactly one row chosen, reads its hits once and opens the detail box (modal);
    // otherwise nothing happens.
    void OnClickShowResultDetail();

    // How the detail box is opened; tests replace the modal box with a recorder.
    using DetailOpener = std::function<void(const CDetectFileResult&)>;
    void SetDetailOpener(DetailOpener opener) { openDetail_ = std::move(opener); }

    CDetectFileResultModel& Model() { return model_; }
    QTableView* List() const { return list_; }

signals:
    void CloseRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    const CLrcReaderWrapper& strings_;
    CDetectFileResultModel model_;
    QTableView* list_;
    DetailOpener openDetail_;
};

}  // namespace tessarine::ui

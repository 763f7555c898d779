// The rows of the detection result page: stored results read page by page as the list is
// scrolled (Qt's fetchMore), so opening the page costs one page however many results are stored.
// A result's hits are read when the detail box first needs them and kept until the next reload.
#pragma once

#include <QAbstractTableModel>
#include <optional>
#include <vector>

#include "detection/detect_file_result.h"
#include "ui/result_source.h"

namespace tessarine::ui {

class CDetectFileResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageSize = 200;

    // `headers`: the three column titles (file name, file path, detected time).
    CDetectFileResultModel(CDetectFileResultSource& source, QStringList headers,
                           QObject* parent = nullptr);

    // Forgets every row and read hit and reads the first page again.
    void Reload();
    // The record of `row`, its hits read once (a failed read is logged and leaves them empty).
    const CDetectFileResult& RecordWithDetails(int row);
    const CDetectFileResult& Record(int row) const { return records_.at(row); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    void ReadPage();

    CDetectFileResultSource& source_;
    QStringList headers_;
    std::vector<CDetectFileResult> records_;
    std::vector<bool> detailsRead_;
    std::optional<ResultListKey> lastKey_;  // of the last row read
    bool atEnd_ = false;
};

}  // namespace tessarine::ui

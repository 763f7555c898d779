#include "ui/result_detect_model.h"

#include "base/app_log.h"
#include "ui/result_text.h"

namespace tessarine::ui {

CDetectFileResultModel::CDetectFileResultModel(CDetectFileResultSource& source, QStringList headers,
                                               QObject* parent)
    : QAbstractTableModel(parent), source_(source), headers_(std::move(headers)) {}

void CDetectFileResultModel::Reload() {
    beginResetModel();
    records_.clear();
    detailsRead_.clear();
    lastKey_.reset();
    atEnd_ = false;
    endResetModel();
    ReadPage();
}

void CDetectFileResultModel::ReadPage() {
    std::vector<ResultListRow> page;
    const bool ok = source_.ReadResults(lastKey_, kPageSize, page);
    if (!ok) LOG_ERROR("Read Detect File Result Error. Rows:" + std::to_string(records_.size()));
    // A failed read ends the list with what was read; a short page is the end of the results.
    if (!ok || page.size() < static_cast<std::size_t>(kPageSize)) atEnd_ = true;
    if (page.empty()) return;
    lastKey_ = page.back().key;
    const int first = static_cast<int>(records_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(page.size()) - 1);
    for (ResultListRow& row : page) records_.push_back(std::move(row.result));
    detailsRead_.resize(records_.size(), false);
    endInsertRows();
}

const CDetectFileResult& CDetectFileResultModel::RecordWithDetails(int row) {
    CDetectFileResult& record = records_.at(row);
    if (!detailsRead_[row]) {
        record.details.clear();
        if (!source_.ReadDetails(record.id, record.details)) {
            LOG_ERROR("Read Detect File Result Detail Error. Id:" + record.id);
        }
        detailsRead_[row] = true;
    }
    return record;
}

int CDetectFileResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int CDetectFileResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant CDetectFileResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    const CDetectFileResult& record = records_.at(index.row());
    switch (index.column()) {
        case 0:
            return QString::fromStdString(record.fileName);
        case 1:
            return QString::fromStdString(record.filePath);
        case 2:
            return QString::fromStdString(FormatResultTime(record.detectedTime));
        default:
            return {};
    }
}

QVariant CDetectFileResultModel::headerData(int section, Qt::Orientation orientation,
                                            int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < headers_.size()) {
        return headers_[section];
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool CDetectFileResultModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !atEnd_;
}

void CDetectFileResultModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent)) ReadPage();
}

}  // namespace tessarine::ui

#include "InputListModel.h"

#include <QFile>

int CInputListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CInputListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CInputListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())) return {};
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return Text(index.row(), index.column());
    case Qt::ToolTipRole:
        return index.column() == ColFiles ? QVariant(row.shown) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == ColFiles ? int(Qt::AlignLeft | Qt::AlignVCenter)
                                          : int(Qt::AlignCenter);
    default:
        return {};
    }
}

QVariant CInputListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case ColFiles:
            return QStringLiteral("Files");
        case ColSize:
            return QStringLiteral("Size");
        case ColStatus:
            return QStringLiteral("Status");
        }
    }
    if (role == Qt::TextAlignmentRole)
        return section == ColFiles ? int(Qt::AlignLeft | Qt::AlignVCenter) : int(Qt::AlignCenter);
    return {};
}

int CInputListModel::AppendRow(const QByteArray& path, const QString& size, const QString& status) {
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.push_back({path, QFile::decodeName(path), size, status});
    endInsertRows();
    return row;
}

void CInputListModel::RemoveRowsDescending(const std::vector<int>& rows) {
    // Neighbouring rows go in one step, so deleting a selected block of
    // thousands of rows does not move the rest once per row.
    size_t i = 0;
    while (i < rows.size()) {
        const int last = rows[i];
        int first = last;
        size_t j = i + 1;
        while (j < rows.size() && rows[j] == first - 1) first = rows[j++];
        i = j;
        if (first < 0 || last >= static_cast<int>(m_rows.size())) continue;
        beginRemoveRows(QModelIndex(), first, last);
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
        endRemoveRows();
    }
}

void CInputListModel::Clear() {
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

QByteArray CInputListModel::Path(int row) const {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return {};
    return m_rows[static_cast<size_t>(row)].path;
}

QString CInputListModel::Text(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return {};
    const Row& r = m_rows[static_cast<size_t>(row)];
    switch (column) {
    case ColFiles:
        return r.shown;
    case ColSize:
        return r.size;
    case ColStatus:
        return r.status;
    }
    return {};
}

void CInputListModel::SetStatus(int row, const QString& status) {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return;
    m_rows[static_cast<size_t>(row)].status = status;
    const QModelIndex cell = index(row, ColStatus);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

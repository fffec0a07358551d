#include "InputListModel.h"

#include <QApplication>
#include <QFile>
#include <QStyle>
#include <algorithm>

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
        if (index.column() == ColStatus && row.finished) return StatusTip(index.row());
        return index.column() == ColFiles ? QVariant(row.shown) : QVariant();
    case Qt::DecorationRole:
        // Success that lost something on the way is marked, so it stands out
        // from a clean "Succeed" in a long list.
        if (index.column() == ColStatus && row.finished && row.status == QLatin1String("Succeed") &&
            !row.outcome.warnings.isEmpty()) {
            if (m_warningIcon.isNull())
                const_cast<CInputListModel*>(this)->m_warningIcon =
                    QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
            return m_warningIcon;
        }
        return {};
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
    m_rows.push_back({path, QFile::decodeName(path), size, status, false, {}});
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
    Row& r = m_rows[static_cast<size_t>(row)];
    r.status = status;
    if (status == QLatin1String("Converting.")) {
        r.finished = false;
        r.outcome = {};
    }
    const QModelIndex cell = index(row, ColStatus);
    emit dataChanged(cell, cell);
}

void CInputListModel::SetOutcome(int row, const Outcome& outcome) {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return;
    Row& r = m_rows[static_cast<size_t>(row)];
    r.finished = true;
    r.outcome = outcome;
    const QModelIndex cell = index(row, ColStatus);
    emit dataChanged(cell, cell);
}

const CInputListModel::Outcome* CInputListModel::RowOutcome(int row) const {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return nullptr;
    const Row& r = m_rows[static_cast<size_t>(row)];
    return r.finished ? &r.outcome : nullptr;
}

QString CInputListModel::StatusTip(int row) const {
    const Outcome* o = RowOutcome(row);
    if (!o) return {};
    QString tip = m_rows[static_cast<size_t>(row)].status;
    if (!o->reason.isEmpty()) tip += QStringLiteral(": ") + o->reason;
    if (!o->warnings.isEmpty()) {
        tip += QStringLiteral("\nWarnings:");
        for (const QString& w : o->warnings) tip += QStringLiteral("\n- ") + w;
    }
    return tip;
}

void CInputListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount || m_rows.size() < 2) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<size_t> perm(m_rows.size());
    for (size_t i = 0; i < perm.size(); ++i) perm[i] = i;
    auto key = [&](size_t i) -> QVariant {
        const Row& r = m_rows[i];
        if (column == ColSize) return r.size.section(QLatin1Char(' '), 0, 0).toLongLong();
        return column == ColFiles ? r.shown : r.status;
    };
    std::stable_sort(perm.begin(), perm.end(), [&](size_t a, size_t b) {
        const QVariant ka = key(a), kb = key(b);
        const int c =
            column == ColSize
                ? (ka.toLongLong() < kb.toLongLong() ? -1 : ka.toLongLong() > kb.toLongLong())
                : ka.toString().compare(kb.toString(), Qt::CaseInsensitive);
        return order == Qt::AscendingOrder ? c < 0 : c > 0;
    });
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newRow(m_rows.size());
    for (size_t i = 0; i < perm.size(); ++i) {
        newRow[perm[i]] = static_cast<int>(i);
        sorted.push_back(std::move(m_rows[perm[i]]));
    }
    m_rows = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before)
        after.append(index(newRow[static_cast<size_t>(i.row())], i.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

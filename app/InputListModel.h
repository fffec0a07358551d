// Rows of the input list: the path bytes of each file, its size text and its
// status. Paths stay byte strings so a name that is not valid UTF-8 is still
// converted under its own name; only the shown text is decoded.
#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QIcon>
#include <QStringList>
#include <vector>

class CInputListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColFiles = 0, ColSize = 1, ColStatus = 2, ColumnCount = 3 };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int AppendRow(const QByteArray& path, const QString& size, const QString& status);
    // Rows must be in descending order, so earlier deletions do not shift later ones.
    void RemoveRowsDescending(const std::vector<int>& rows);
    void Clear();

    QByteArray Path(int row) const;
    QString Text(int row, int column) const;
    // A row that starts converting again forgets its earlier outcome.
    void SetStatus(int row, const QString& status);

    // Why a row ended as it did, beside its status text.
    struct Outcome {
        QString reason;
        QStringList warnings;
        QList<QByteArray> outputs;
        int pages = 0;
    };
    void SetOutcome(int row, const Outcome& outcome);
    // Null when the row has not finished since it was added or last started.
    const Outcome* RowOutcome(int row) const;
    // The status cell's tooltip: the status, the reason and the warnings.
    QString StatusTip(int row) const;

    // Orders the rows by a column; a negative column keeps the order. Sizes
    // sort by their number.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    struct Row {
        QByteArray path;
        QString shown;
        QString size;
        QString status;
        bool finished = false;
        Outcome outcome;
    };
    std::vector<Row> m_rows;
    QIcon m_warningIcon;
};

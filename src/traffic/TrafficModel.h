#pragma once
// The rows of the traffic window: one per transaction, newest last, at most
// MaxRows (the oldest go first).

#include "Link.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <deque>

namespace qim {

// "OK", "CRC error", "timeout", "wrong length", "link not available", or the
// exception code with its standard name ("2 Illegal Data Address").
QString outcomeText(int16_t status, bool noReply);

class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, LinkKind, Slave, Function, Request, Reply, Outcome, Duration, ColumnCount };
    static constexpr int MaxRows = 10000;

    explicit TrafficModel(QObject* parent = nullptr);

    void append(const QList<TransactionRecord>& records);
    void clear();
    const TransactionRecord& record(int row) const { return m_rows[static_cast<size_t>(row)]; }
    static bool failed(const TransactionRecord& r) { return r.status != Status::Ok; }

    QString cellText(const TransactionRecord& r, int column) const;
    QString rowText(int row) const; // tab-separated, for the clipboard
    static QString csvHeader();
    QString csvRow(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

private:
    std::deque<TransactionRecord> m_rows;
};

// Filters rows by slave address (0 = every slave) and by outcome.
class TrafficFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit TrafficFilter(QObject* parent = nullptr) : QSortFilterProxyModel(parent) {}
    void setSlave(int slave);
    void setFailuresOnly(bool on);

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

private:
    int m_slave = 0;
    bool m_failuresOnly = false;
};

} // namespace qim

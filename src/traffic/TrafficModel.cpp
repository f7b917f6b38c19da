#include "TrafficModel.h"

#include "Errors.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

namespace qim {

QString outcomeText(int16_t status, bool noReply) {
    switch (status) {
    case Status::Ok:
        return QStringLiteral("OK");
    case Status::CrcError:
        return QStringLiteral("CRC error");
    case Status::WrongLength:
        return noReply ? QStringLiteral("timeout") : QStringLiteral("wrong length");
    case Status::LinkDown:
        return QStringLiteral("link not available");
    default:
        const QString name = Errors::exceptionName(status);
        return QStringLiteral("%1 %2").arg(status).arg(name.isEmpty() ? QStringLiteral("Exception")
                                                                      : name);
    }
}

TrafficModel::TrafficModel(QObject* parent) : QAbstractTableModel(parent) {}

void TrafficModel::append(const QList<TransactionRecord>& records) {
    if (records.isEmpty())
        return;
    // Make room first, in one go: the view handles one removal of many rows
    // far better than many removals of one.
    const qsizetype incoming = std::min<qsizetype>(records.size(), MaxRows);
    const qsizetype overflow = static_cast<qsizetype>(m_rows.size()) + incoming - MaxRows;
    if (overflow > 0) {
        beginRemoveRows({}, 0, static_cast<int>(overflow) - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + overflow);
        endRemoveRows();
    }
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(incoming) - 1);
    for (qsizetype i = records.size() - incoming; i < records.size(); ++i)
        m_rows.push_back(records[i]);
    endInsertRows();
}

void TrafficModel::clear() {
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString TrafficModel::cellText(const TransactionRecord& r, int column) const {
    switch (column) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(r.startedMs).toString(QStringLiteral("hh:mm:ss.zzz"));
    case LinkKind:
        return r.link;
    case Slave:
        return QString::number(r.slave);
    case Function:
        return QString::number(r.function);
    case Request:
        return QString::fromLatin1(r.request.toHex(' ').toUpper());
    case Reply:
        return QString::fromLatin1(r.reply.toHex(' ').toUpper());
    case Outcome:
        return outcomeText(r.status, r.noReply);
    case Duration:
        return QString::number(static_cast<double>(r.durationUs) / 1000.0, 'f', 1);
    default:
        return {};
    }
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TransactionRecord& r = record(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return cellText(r, index.column());
    case Qt::BackgroundRole:
        return failed(r) ? QVariant(QBrush(QColor(255, 222, 222))) : QVariant();
    case Qt::ForegroundRole:
        return failed(r) && index.column() == Outcome ? QVariant(QBrush(QColor(160, 0, 0)))
                                                      : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == Duration || index.column() == Slave || index.column() == Function
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant();
    default:
        return {};
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static constexpr const char* names[] = {"Time",    "Link",  "Slave",   "Function",
                                            "Request", "Reply", "Outcome", "Duration (ms)"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(names[section]) : QString();
}

QString TrafficModel::rowText(int row) const {
    QStringList cells;
    for (int c = 0; c < ColumnCount; ++c)
        cells << cellText(record(row), c);
    return cells.join(QLatin1Char('\t'));
}

QString TrafficModel::csvHeader() {
    return QStringLiteral("Time,Link,Slave,Function,Request,Reply,Outcome,Duration (ms)");
}

QString TrafficModel::csvRow(int row) const {
    QStringList cells;
    for (int c = 0; c < ColumnCount; ++c) {
        QString t = cellText(record(row), c);
        if (t.contains(QLatin1Char(',')) || t.contains(QLatin1Char('"')))
            t = QLatin1Char('"') + t.replace(QLatin1String("\""), QLatin1String("\"\"")) +
                QLatin1Char('"');
        cells << t;
    }
    return cells.join(QLatin1Char(','));
}

void TrafficFilter::setSlave(int slave) {
    m_slave = slave;
    invalidateFilter();
}

void TrafficFilter::setFailuresOnly(bool on) {
    m_failuresOnly = on;
    invalidateFilter();
}

bool TrafficFilter::filterAcceptsRow(int row, const QModelIndex&) const {
    const auto* m = static_cast<const TrafficModel*>(sourceModel());
    const TransactionRecord& r = m->record(row);
    return (m_slave == 0 || r.slave == m_slave) && (!m_failuresOnly || TrafficModel::failed(r));
}

} // namespace qim
